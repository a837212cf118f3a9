// Reading the values of the helper programs' command-line options, and quoting them in messages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brassmoor {

// A whole decimal number and nothing else, or nothing.
std::optional<std::uint64_t> parseWhole(std::string_view text);
// A finite decimal number and nothing else, or nothing.
std::optional<double> parseReal(std::string_view text);
// `text` without the white space (spaces, tabs, line ends) at either end.
std::string_view trimBlanks(std::string_view text);
// 'text', for an error message that shows what was typed.
std::string quoted(std::string_view text);

}  // namespace brassmoor
