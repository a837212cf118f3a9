// Brassmoor's folders on POSIX systems, by the XDG base directory rules: $XDG_CONFIG_HOME and
// $XDG_STATE_HOME when they are absolute paths, otherwise ~/.config and ~/.local/state; the
// computer's in the configuration folder the build was installed for (/etc).
#include "user_folders.h"

#include <cstdlib>

namespace brassmoor {

namespace {

// A relative value is to be ignored, as if it were unset.
std::string absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string brassmoorFolder(const char* variable, const char* underHome) {
    std::string base = absoluteVariable(variable);
    if (base.empty()) {
        const std::string home = absoluteVariable("HOME");
        if (home.empty()) return {};
        base = home + underHome;
    }
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + "/brassmoor";
}

}  // namespace

std::string systemConfigFolder() {
    return BRASSMOOR_SYSCONFDIR "/brassmoor";
}

UserFolders userFolders() {
    return UserFolders{brassmoorFolder("XDG_CONFIG_HOME", "/.config"),
                       brassmoorFolder("XDG_STATE_HOME", "/.local/state")};
}

}  // namespace brassmoor
