// A file replaced whole or not at all: written under a name of its own beside it, flushed to the
// disk, then renamed over it, so neither a crash nor a second launcher saving at once leaves it
// half written or mixed.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace brassmoor {

// Replaces `file` with `text` (its folder must exist). False, with `error` set to one line, when it
// could not; the old file is then as it was and no temporary file is left. One file per system.
bool replaceFile(const std::filesystem::path& file, std::string_view text, std::string& error);

}  // namespace brassmoor
