// What the launcher's window remembers of how it was left: which games its list hides. Kept in the
// config folder as "name=yes|no" lines under a comment, written whole or not at all; a damaged file
// is set aside, as the remembered addresses are, and the settings it held well are kept.
#pragma once

#include <string>

namespace brassmoor {

inline constexpr const char* LauncherSettingsName = "window-settings";

struct LauncherSettings {
    bool hideEmpty = false;
    bool hideFull = false;
    bool hideOtherVersions = false;
};

struct LauncherSettingsLoad {
    LauncherSettings settings;  // the defaults where the file says nothing
    std::string problem;        // non-empty when a damaged file was set aside: the line to log
};

LauncherSettingsLoad loadLauncherSettings(const std::string& configFolder);

// False, with `error` set to one line, when it could not be written; the old file is then as it was.
bool saveLauncherSettings(const std::string& configFolder, const LauncherSettings& settings,
                          std::string& error);

}  // namespace brassmoor
