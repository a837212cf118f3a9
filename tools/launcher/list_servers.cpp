// The list servers' files: read line by line, each URL checked as --list-server checks it.
#include "list_servers.h"

#include <algorithm>
#include <filesystem>

#include "config_file.h"
#include "launcher_paths.h"
#include "list_announcement.h"

namespace brassmoor {

namespace {

constexpr const char* FileComment =
    "# List servers brassmoor-play reads the Internet's games from, one http:// or https:// URL a line.";

std::filesystem::path fileIn(const std::string& folder) {
    return pathFromUtf8(folder) / ListServersName;
}

// The URLs of a file's text; `bad` gets one "line N: REASON" for each line that is none.
std::vector<std::string> readUrls(std::string_view text, std::vector<std::string>& bad) {
    std::vector<std::string> urls;
    std::size_t lineNumber = 0;
    for (std::string_view line : configLines(text)) {
        ++lineNumber;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        std::string reason;
        if (!checkListServerUrl(line, reason)) {
            bad.push_back("line " + std::to_string(lineNumber) + " " + reason);
        } else if (std::find(urls.begin(), urls.end(), line) == urls.end() &&
                   urls.size() < MaxListServersRead) {
            urls.emplace_back(line);
        }
    }
    return urls;
}

}  // namespace

ListServersLoad loadUserListServers(const std::string& configFolder) {
    ListServersLoad load;
    if (configFolder.empty()) return load;
    const std::filesystem::path file = fileIn(configFolder);
    const ConfigText read = readConfigText(file, MaxListServersFileBytes);
    if (!read.problem.empty()) load.problems.push_back("list servers: " + read.problem);
    if (!read.found || !read.problem.empty()) return load;
    std::vector<std::string> bad;
    load.urls = readUrls(read.text, bad);
    if (read.tooLong)
        bad.insert(bad.begin(), "longer than " + std::to_string(MaxListServersFileBytes) + " bytes");
    if (bad.empty()) return load;
    load.problems.push_back(replaceDamaged(file, "list servers", bad.front(), [&](std::string& error) {
        return saveUserListServers(configFolder, load.urls, error);
    }));
    return load;
}

ListServersLoad loadSystemListServers(const std::string& folder) {
    ListServersLoad load;
    if (folder.empty()) return load;
    const std::filesystem::path file = fileIn(folder);
    const ConfigText read = readConfigText(file, MaxListServersFileBytes);
    const std::string name = utf8FromPath(file);
    if (!read.problem.empty()) load.problems.push_back("list servers: " + read.problem);
    if (!read.found || !read.problem.empty()) return load;
    std::vector<std::string> bad;
    load.urls = readUrls(read.text, bad);
    if (read.tooLong)
        load.problems.push_back("list servers: " + name + " is read only as far as its first 16 KiB");
    for (const std::string& line : bad)
        load.problems.push_back("list servers: " + name + " " + line + "; left out");
    return load;
}

bool saveUserListServers(const std::string& configFolder, const std::vector<std::string>& urls,
                         std::string& error) {
    if (configFolder.empty()) {
        error = "no folder for it is known (HOME is not set)";
        return false;
    }
    std::string text = std::string(FileComment) + '\n';
    for (const std::string& url : urls) {
        std::string reason;
        if (checkListServerUrl(url, reason)) text += url + '\n';
    }
    return writeConfigText(configFolder, fileIn(configFolder), text, error);
}

std::vector<ListServer> combineListServers(const std::vector<std::string>& commandLine,
                                           const std::vector<std::string>& user,
                                           const std::vector<std::string>& system) {
    std::vector<ListServer> lists;
    const auto add = [&](const std::vector<std::string>& urls, ListOrigin origin) {
        for (const std::string& url : urls) {
            const bool known = std::any_of(lists.begin(), lists.end(),
                                           [&](const ListServer& list) { return list.url == url; });
            if (!known && lists.size() < MaxListServersRead) lists.push_back(ListServer{url, origin});
        }
    };
    add(commandLine, ListOrigin::CommandLine);
    add(user, ListOrigin::User);
    add(system, ListOrigin::System);
    return lists;
}

const char* describeListOrigin(ListOrigin origin) {
    switch (origin) {
        case ListOrigin::CommandLine:
            return "this run";
        case ListOrigin::User:
            return "yours";
        case ListOrigin::System:
            return "this computer's";
    }
    return "";
}

}  // namespace brassmoor
