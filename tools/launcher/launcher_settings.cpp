// The window's settings file: three toggles, one a line.
#include "launcher_settings.h"

#include <array>
#include <filesystem>
#include <string_view>
#include <utility>

#include "config_file.h"
#include "launcher_paths.h"

namespace brassmoor {

namespace {

constexpr std::size_t MaxSettingsBytes = 4096;
constexpr const char* FileComment =
    "# brassmoor-play's window as it was last left: which games its list hides.";

std::array<std::pair<const char*, bool LauncherSettings::*>, 3> toggles() {
    return {{{"hide-empty", &LauncherSettings::hideEmpty},
             {"hide-full", &LauncherSettings::hideFull},
             {"hide-other-versions", &LauncherSettings::hideOtherVersions}}};
}

// Takes one "name=yes|no" line; false for anything else.
bool takeLine(std::string_view line, LauncherSettings& settings) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view name = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    if (value != "yes" && value != "no") return false;
    for (const auto& [known, toggle] : toggles()) {
        if (name == known) {
            settings.*toggle = value == "yes";
            return true;
        }
    }
    return false;
}

std::filesystem::path fileIn(const std::string& configFolder) {
    return pathFromUtf8(configFolder) / LauncherSettingsName;
}

}  // namespace

LauncherSettingsLoad loadLauncherSettings(const std::string& configFolder) {
    LauncherSettingsLoad load;
    if (configFolder.empty()) return load;
    const std::filesystem::path file = fileIn(configFolder);
    const ConfigText read = readConfigText(file, MaxSettingsBytes);
    if (!read.problem.empty()) load.problem = "window settings: " + read.problem;
    if (!read.found || !read.problem.empty()) return load;
    std::string why =
        read.tooLong ? "longer than " + std::to_string(MaxSettingsBytes) + " bytes" : std::string();
    std::size_t lineNumber = 0;
    for (const std::string_view line : configLines(read.text)) {
        ++lineNumber;
        if (line.empty() || line[0] == '#' || takeLine(line, load.settings)) continue;
        if (why.empty()) why = "line " + std::to_string(lineNumber) + " is no setting";
    }
    if (why.empty()) return load;
    load.problem = replaceDamaged(file, "window settings", why, [&](std::string& error) {
        return saveLauncherSettings(configFolder, load.settings, error);
    });
    return load;
}

bool saveLauncherSettings(const std::string& configFolder, const LauncherSettings& settings,
                          std::string& error) {
    if (configFolder.empty()) {
        error = "no folder for them is known (HOME is not set)";
        return false;
    }
    std::string text = std::string(FileComment) + '\n';
    for (const auto& [name, toggle] : toggles())
        text += std::string(name) + '=' + (settings.*toggle ? "yes" : "no") + '\n';
    return writeConfigText(configFolder, fileIn(configFolder), text, error);
}

}  // namespace brassmoor
