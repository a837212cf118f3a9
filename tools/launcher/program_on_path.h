// Finding a program by name in the folders PATH lists. One rule for every program the launcher
// starts by name: an empty entry (or one PATH leaves relative) never means the current folder,
// so a file dropped where the launcher was started from is never run in the game's place.
#pragma once

#include <string>

namespace brassmoor {

// The full path of the first executable file `name` in a folder PATH lists, as UTF-8; empty when
// there is none. One file per system.
std::string findProgramOnPath(const std::string& name);

}  // namespace brassmoor
