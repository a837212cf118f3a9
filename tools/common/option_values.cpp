// Option values: exact decimal parsing, so "10x" or "" is refused rather than read as 10 or 0.
#include "option_values.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace brassmoor {

std::optional<std::uint64_t> parseWhole(std::string_view text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

std::optional<double> parseReal(std::string_view text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string_view trimBlanks(std::string_view text) {
    constexpr std::string_view Blanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

}  // namespace brassmoor
