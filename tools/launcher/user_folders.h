// Where the launcher keeps its files: Brassmoor's own configuration and state folders for this user.
#pragma once

#include <string>

namespace brassmoor {

// UTF-8 paths, without a trailing separator; empty when the system does not say where they are.
struct UserFolders {
    std::string config;  // remembered addresses: $XDG_CONFIG_HOME/brassmoor, %APPDATA%\Brassmoor
    std::string state;   // the log: $XDG_STATE_HOME/brassmoor, %LOCALAPPDATA%\Brassmoor
};

// Looks the folders up (they need not exist yet); one file a system.
UserFolders userFolders();

// The computer's own Brassmoor settings, for every user (the system-wide list servers):
// /etc/brassmoor as installed; empty where the system has none (Windows).
std::string systemConfigFolder();

}  // namespace brassmoor
