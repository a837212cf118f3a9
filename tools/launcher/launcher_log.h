// The launcher's log: every failure it meets, one time-stamped line each, kept where a player
// who started it from a menu (no terminal) can still find it.
#pragma once

#include <cstdint>
#include <string>

namespace brassmoor {

inline constexpr const char* LauncherLogName = "brassmoor-play.log";
// A log that has grown past this is moved aside to brassmoor-play.log.old before the next line, so
// it never takes more than about twice this.
inline constexpr std::uintmax_t LauncherLogMostBytes = 1024 * 1024;

// Appends `line` to brassmoor-play.log in `stateFolder` (made when missing), after the time in UTC
// ("2026-12-10T12:00:00Z "); a line with line breaks in it becomes as many lines, each stamped.
// False, with `error` set to one line, when the folder is unknown (empty) or cannot be written.
bool appendLauncherLog(const std::string& stateFolder, const std::string& line, std::string& error);

}  // namespace brassmoor
