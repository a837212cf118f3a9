// A server's name as launchers show it: printable UTF-8 within a bound, whatever bytes it came from.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brassmoor {

// A server's name is at most this many bytes of printable UTF-8.
inline constexpr std::size_t MaxServerNameBytes = 48;

// Printable UTF-8 of at most MaxServerNameBytes: broken sequences, control characters, the
// invisible ones that reorder or hide text (bidi controls, zero-width marks), those that draw
// nothing (fillers, the Braille blank) and combining marks with no character to sit on are left
// out, other white space becomes one space, spaces at the ends go; cut at a character's boundary. Used where a
// name is set (--name) and again where it is read (an answer), so a hostile one never reaches a
// window or a terminal.
std::string sanitiseServerName(std::string_view text);

}  // namespace brassmoor
