// The remembered addresses: read and checked, set aside when damaged, written through a rename.
#include "remembered_addresses.h"

#include <algorithm>
#include <filesystem>
#include <string>

#include "config_file.h"
#include "launcher_paths.h"

namespace brassmoor {

namespace {

constexpr std::size_t MaxAddressBytes = 253;  // the longest a DNS name may be
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
    const ConfigText read = readConfigText(file, MaxRememberedFileBytes);
    if (!read.problem.empty()) load.problem = "remembered addresses: " + read.problem;
    if (!read.found || !read.problem.empty()) return load;
    std::string why =
        read.tooLong ? "longer than " + std::to_string(MaxRememberedFileBytes) + " bytes" : std::string();
    std::size_t lineNumber = 0;
    for (const std::string_view line : configLines(read.text)) {
        ++lineNumber;
        if (line.empty() || line[0] == '#') continue;
        if (!isRememberableAddress(line)) {
            if (why.empty()) why = "line " + std::to_string(lineNumber) + " is no address";
            continue;
        }
        const bool known =
            std::any_of(load.addresses.begin(), load.addresses.end(),
                        [&](const std::string& earlier) { return sameAddress(earlier, line); });
        if (!known && load.addresses.size() < MaxRememberedAddresses) load.addresses.emplace_back(line);
    }
    if (why.empty()) return load;
    load.problem = replaceDamaged(file, "remembered addresses", why, [&](std::string& error) {
        return saveRememberedAddresses(configFolder, load.addresses, error);
    });
    return load;
}

bool saveRememberedAddresses(const std::string& configFolder, const std::vector<std::string>& addresses,
                             std::string& error) {
    if (configFolder.empty()) {
        error = "cannot remember addresses: no folder for them is known (HOME is not set)";
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
    return writeConfigText(configFolder, fileIn(configFolder), text, error);
}

std::vector<std::string> rememberAddress(std::vector<std::string> addresses, const std::string& address) {
    if (!isRememberableAddress(address)) return addresses;
    std::erase_if(addresses, [&](const std::string& known) { return sameAddress(known, address); });
    addresses.insert(addresses.begin(), address);
    if (addresses.size() > MaxRememberedAddresses) addresses.resize(MaxRememberedAddresses);
    return addresses;
}

}  // namespace brassmoor
