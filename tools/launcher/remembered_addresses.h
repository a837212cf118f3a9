// The addresses a player typed to join, remembered between runs: most recent first, a bounded few.
//
// Kept as text in the config folder, one address a line under a comment line. A file that cannot
// be read as such is set aside (renamed, never deleted), said so, and its good lines written back;
// it is rewritten whole or not at all (replace_file.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brassmoor {

inline constexpr std::size_t MaxRememberedAddresses = 10;
inline constexpr const char* RememberedAddressesName = "remembered-addresses";
// A file longer than this is no list of ten addresses: it is taken as damaged.
inline constexpr std::size_t MaxRememberedFileBytes = 16 * 1024;

struct RememberedLoad {
    std::vector<std::string> addresses;  // most recent first, at most MaxRememberedAddresses
    std::string problem;  // non-empty when a damaged file was set aside: the line to log
};

// An IPv4 address or a host name as typed: 1 to 253 letters, digits, dots, hyphens, underscores.
bool isRememberableAddress(std::string_view address);

// The remembered addresses; none when there is no file yet. A damaged file (a line that is no
// address, too long) is renamed to remembered-addresses.damaged (-2, -3, ... beside earlier ones),
// and its good lines are written back into a new file at once.
RememberedLoad loadRememberedAddresses(const std::string& configFolder);

// Writes the list whole (making the folder when missing) or leaves the old file as it was; false,
// with `error` set to one line, when it could not.
bool saveRememberedAddresses(const std::string& configFolder, const std::vector<std::string>& addresses,
                             std::string& error);

// `address` put first, an earlier mention of it (letters in any case) taken out, the list cut to
// MaxRememberedAddresses. An address that is not rememberable leaves the list as it was.
std::vector<std::string> rememberAddress(std::vector<std::string> addresses, const std::string& address);

}  // namespace brassmoor
