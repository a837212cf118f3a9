// The remembered addresses: read and checked, set aside when damaged, written through a rename.
#include "remembered_addresses.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "launcher_paths.h"
#include "replace_file.h"

namespace brassmoor {

namespace {

constexpr std::size_t MaxAddressBytes = 253;  // the longest a DNS name may be
// Past this many, the last is replaced: a folder is not filled by a file that keeps breaking.
constexpr int MostDamagedCopies = 10;
constexpr const char* FileComment = "# Addresses brassmoor-play was asked to join, the most recent first.";

bool sameAddress(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

std::filesystem::path fileIn(const std::string& configFolder, const char* suffix = "") {
    return pathFromUtf8(configFolder) / (std::string(RememberedAddressesName) + suffix);
}

// Moves the damaged file aside and says so; the line to log.
std::string setAside(const std::filesystem::path& file, const std::string& why) {
    // A file set aside before is kept too: the first free name of .damaged, .damaged-2, ...
    std::error_code failure;
    std::filesystem::path aside;
    for (int copy = 1; copy <= MostDamagedCopies; ++copy) {
        aside = file;
        aside += copy == 1 ? std::string(".damaged") : ".damaged-" + std::to_string(copy);
        if (!std::filesystem::exists(aside, failure)) break;
    }
    std::filesystem::rename(file, aside, failure);
    if (failure) {
        return "remembered addresses: " + utf8FromPath(file) + " is damaged (" + why +
               ") and could not be set aside: " + failure.message();
    }
    return "remembered addresses: " + utf8FromPath(file) + " was damaged (" + why + "); set aside as " +
           utf8FromPath(aside) + ", its good lines written back";
}

}  // namespace

bool isRememberableAddress(std::string_view address) {
    if (address.empty() || address.size() > MaxAddressBytes) return false;
    return std::all_of(address.begin(), address.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '-' || c == '_';
    });
}

RememberedLoad loadRememberedAddresses(const std::string& configFolder) {
    RememberedLoad load;
    if (configFolder.empty()) return load;
    const std::filesystem::path file = fileIn(configFolder);
    std::error_code failure;
    if (!std::filesystem::exists(file, failure)) return load;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        load.problem = "remembered addresses: cannot read " + utf8FromPath(file);
        return load;
    }
    // One byte more than the limit is read, to tell a file too long.
    std::string text(MaxRememberedFileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    in.close();
    std::string why = text.size() > MaxRememberedFileBytes ? "longer than " + std::to_string(MaxRememberedFileBytes) +
                                                                 " bytes"
                                                           : std::string();
    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (!isRememberableAddress(line)) {
            if (why.empty()) why = "line " + std::to_string(lineNumber) + " is no address";
            continue;
        }
        const bool known = std::any_of(load.addresses.begin(), load.addresses.end(),
                                       [&](const std::string& earlier) { return sameAddress(earlier, line); });
        if (!known && load.addresses.size() < MaxRememberedAddresses) load.addresses.push_back(line);
    }
    if (why.empty()) return load;
    load.problem = setAside(file, why);
    // The good lines are written back at once: the next start has them even if nothing is joined now.
    std::string error;
    if (!std::filesystem::exists(file, failure) &&
        !saveRememberedAddresses(configFolder, load.addresses, error)) {
        load.problem += "; cannot write them back: " + error;
    }
    return load;
}

bool saveRememberedAddresses(const std::string& configFolder, const std::vector<std::string>& addresses,
                             std::string& error) {
    if (configFolder.empty()) {
        error = "cannot remember addresses: no folder for them is known (HOME is not set)";
        return false;
    }
    std::error_code failure;
    std::filesystem::create_directories(pathFromUtf8(configFolder), failure);
    if (failure) {
        error = "cannot make the folder " + configFolder + ": " + failure.message();
        return false;
    }
    std::string text = std::string(FileComment) + '\n';
    std::size_t written = 0;
    for (const std::string& address : addresses) {
        if (written == MaxRememberedAddresses) break;
        if (!isRememberableAddress(address)) continue;
        text += address + '\n';
        ++written;
    }
    return replaceFile(fileIn(configFolder), text, error);
}

std::vector<std::string> rememberAddress(std::vector<std::string> addresses, const std::string& address) {
    if (!isRememberableAddress(address)) return addresses;
    std::erase_if(addresses, [&](const std::string& known) { return sameAddress(known, address); });
    addresses.insert(addresses.begin(), address);
    if (addresses.size() > MaxRememberedAddresses) addresses.resize(MaxRememberedAddresses);
    return addresses;
}

}  // namespace brassmoor
