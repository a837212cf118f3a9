// Where the launcher reads the Internet's games from: list servers named by --list-server, by this
// user's file and by the computer's, one http:// or https:// URL a line under # comments.
//
// The user's file ($XDG_CONFIG_HOME/brassmoor/list-servers, %APPDATA%\Brassmoor\list-servers) is
// the window's to change: written whole or not at all, and when damaged set aside (renamed, never
// deleted) with its good lines written back, as the remembered addresses are. The system-wide file
// (/etc/brassmoor/list-servers, a distribution's or an administrator's) is only read: a bad line in
// it is left out with a line in the log.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace brassmoor {

inline constexpr const char* ListServersName = "list-servers";
inline constexpr std::size_t MaxListServersRead = 16;  // from all three together
inline constexpr std::size_t MaxListServersFileBytes = 16 * 1024;

enum class ListOrigin {
    CommandLine,  // --list-server, for this run
    User,         // this user's file
    System,       // the computer's file
};

struct ListServer {
    std::string url;
    ListOrigin origin = ListOrigin::User;
};

struct ListServersLoad {
    std::vector<std::string> urls;
    std::vector<std::string> problems;  // the lines to log
};

// This user's list servers in `configFolder`; none when there is no file yet.
ListServersLoad loadUserListServers(const std::string& configFolder);
// The computer's, in `folder` (empty: this system has none).
ListServersLoad loadSystemListServers(const std::string& folder);

// Writes the user's list whole (making the folder when missing) or leaves the old file as it was;
// false, with `error` set to one line, when it could not.
bool saveUserListServers(const std::string& configFolder, const std::vector<std::string>& urls,
                         std::string& error);

// The command line's, the user's and the system's, in that order, each URL once (the first origin
// named wins), at most MaxListServersRead.
std::vector<ListServer> combineListServers(const std::vector<std::string>& commandLine,
                                           const std::vector<std::string>& user,
                                           const std::vector<std::string>& system);

// "this run", "yours", "this computer's": what the window says of where a list came from.
const char* describeListOrigin(ListOrigin origin);

}  // namespace brassmoor
