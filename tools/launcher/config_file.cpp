// The launcher's config files: bounded reads, lines, and damaged files set aside.
#include "config_file.h"

#include <fstream>
#include <system_error>

#include "launcher_paths.h"
#include "replace_file.h"

namespace brassmoor {

namespace {

// Past this many, the last is replaced: a folder is not filled by a file that keeps breaking.
constexpr int MostDamagedCopies = 10;

}  // namespace

ConfigText readConfigText(const std::filesystem::path& file, std::size_t maxBytes) {
    ConfigText read;
    std::error_code failure;
    if (!std::filesystem::exists(file, failure)) return read;
    read.found = true;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        read.problem = "cannot read " + utf8FromPath(file);
        return read;
    }
    // One byte more than the bound is read, to tell a file too long.
    read.text.assign(maxBytes + 1, '\0');
    in.read(read.text.data(), static_cast<std::streamsize>(read.text.size()));
    read.text.resize(static_cast<std::size_t>(in.gcount()));
    read.tooLong = read.text.size() > maxBytes;
    if (read.tooLong) read.text.resize(maxBytes);
    return read;
}

std::vector<std::string_view> configLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string setAsideDamaged(const std::filesystem::path& file, const std::string& what,
                            const std::string& why) {
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
        return what + ": " + utf8FromPath(file) + " is damaged (" + why +
               ") and could not be set aside: " + failure.message();
    }
    return what + ": " + utf8FromPath(file) + " was damaged (" + why + "); set aside as " +
           utf8FromPath(aside) + ", its good lines written back";
}

std::string replaceDamaged(const std::filesystem::path& file, const std::string& what, const std::string& why,
                           const std::function<bool(std::string& error)>& writeGoodLines) {
    std::string problem = setAsideDamaged(file, what, why);
    std::error_code failure;
    if (std::filesystem::exists(file, failure)) return problem;  // not set aside: nothing to write back
    std::string error;
    if (!writeGoodLines(error)) problem += "; cannot write them back: " + error;
    return problem;
}

bool writeConfigText(const std::string& configFolder, const std::filesystem::path& file, std::string_view text,
                     std::string& error) {
    std::error_code failure;
    std::filesystem::create_directories(pathFromUtf8(configFolder), failure);
    if (failure) {
        error = "cannot make the folder " + configFolder + ": " + failure.message();
        return false;
    }
    return replaceFile(file, text, error);
}

}  // namespace brassmoor
