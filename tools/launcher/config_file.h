// The launcher's small text files in its config folder, read and kept alike: read whole within a
// bound, and a damaged one set aside (renamed, never deleted) with the line to log, so that its good
// lines can be written back in its place.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brassmoor {

struct ConfigText {
    bool found = false;    // the file is there
    std::string problem;   // it is there but could not be read: the line to log
    bool tooLong = false;  // longer than the bound: only its start is in `text`
    std::string text;
};

// Reads at most `maxBytes` of `file`.
ConfigText readConfigText(const std::filesystem::path& file, std::size_t maxBytes);

// The file's lines without their line ends (LF or CR LF), blank lines and # comments left in: a
// caller counts lines as a person reading the file does.
std::vector<std::string_view> configLines(std::string_view text);

// Renames a damaged `file` to FILE.damaged (or .damaged-2, -3, ... beside earlier ones) and returns
// the line to log: "WHAT: FILE was damaged (WHY); set aside as ASIDE, its good lines written back",
// or what went wrong when it could not be renamed.
std::string setAsideDamaged(const std::filesystem::path& file, const std::string& what,
                            const std::string& why);

// Sets a damaged `file` aside as setAsideDamaged does, then writes its good lines back in its place
// at once with `writeGoodLines`, so the next start has them even if nothing is saved now. Returns
// the line to log, with what went wrong when they could not be written back.
std::string replaceDamaged(const std::filesystem::path& file, const std::string& what, const std::string& why,
                           const std::function<bool(std::string& error)>& writeGoodLines);

// Writes `text` as `file`, whole or not at all, making `configFolder` (its folder) first.
bool writeConfigText(const std::string& configFolder, const std::filesystem::path& file, std::string_view text,
                     std::string& error);

}  // namespace brassmoor
