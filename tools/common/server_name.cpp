// Names of servers made safe to show: printable UTF-8 within a bound, whatever bytes came in.
#include "server_name.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace brassmoor {

namespace {

bool isContinuation(std::uint8_t byte) {
    return (byte & 0xC0u) == 0x80u;
}

// Decodes the character at `at`; its length in `length`, or 0 for a broken sequence (an unexpected
// byte, a character written longer than it needs, a surrogate or beyond U+10FFFF).
std::uint32_t decodeCharacter(std::string_view text, std::size_t at, std::size_t& length) {
    const auto lead = static_cast<std::uint8_t>(text[at]);
    length = 0;
    if (lead < 0x80u) {
        length = 1;
        return lead;
    }
    // The lead byte says how many bytes follow; each length has a least character it may carry.
    const std::size_t size = (lead & 0xE0u) == 0xC0u ? 2 : (lead & 0xF0u) == 0xE0u ? 3 : (lead & 0xF8u) == 0xF0u ? 4 : 0;
    if (size == 0) return 0;
    constexpr std::uint32_t Least[5] = {0, 0, 0x80, 0x800, 0x10000};
    std::uint32_t code = lead & (0x7Fu >> size);
    const std::uint32_t least = Least[size];
    if (at + size > text.size()) return 0;
    for (std::size_t i = 1; i < size; ++i) {
        const auto next = static_cast<std::uint8_t>(text[at + i]);
        if (!isContinuation(next)) return 0;
        code = (code << 6) | (next & 0x3Fu);
    }
    if (code < least || code > 0x10FFFFu || (code >= 0xD800u && code <= 0xDFFFu)) return 0;
    length = size;
    return code;
}

// Characters a name never shows: controls, and the invisible ones that reorder, join or hide the
// text around them (bidi marks, embeddings, overrides and isolates, zero-width marks, the byte-order
// mark, interlinear annotations, tags) or are no characters at all; and those that draw nothing yet
// are not spaces (the default-ignorable fillers and selectors, the Braille blank), which alone would
// make a name that looks empty.
bool isHidden(std::uint32_t code) {
    return code < 0x20u || (code >= 0x7Fu && code <= 0x9Fu) || code == 0x061Cu || code == 0x00ADu ||
           code == 0x034Fu || code == 0x115Fu || code == 0x1160u || (code >= 0x17B4u && code <= 0x17B5u) ||
           (code >= 0x180Bu && code <= 0x180Fu) || (code >= 0x200Bu && code <= 0x200Fu) ||
           (code >= 0x2028u && code <= 0x202Eu) || (code >= 0x2060u && code <= 0x206Fu) || code == 0x2800u ||
           code == 0x3164u || (code >= 0xFE00u && code <= 0xFE0Fu) || code == 0xFEFFu || code == 0xFFA0u ||
           (code >= 0xFFF0u && code <= 0xFFFBu) || (code & 0xFFFEu) == 0xFFFEu ||
           (code >= 0xFDD0u && code <= 0xFDEFu) || (code >= 0x1BCA0u && code <= 0x1BCA3u) ||
           (code >= 0x1D173u && code <= 0x1D17Au) || (code >= 0xE0000u && code <= 0xE0FFFu);
}

bool isSpace(std::uint32_t code) {
    return code == ' ' || code == '\t' || code == '\n' || code == '\v' || code == '\f' || code == '\r' ||
           code == 0xA0u || code == 0x1680u || (code >= 0x2000u && code <= 0x200Au) || code == 0x2028u ||
           code == 0x2029u || code == 0x202Fu || code == 0x205Fu || code == 0x3000u;
}

struct CodeRange {
    std::uint32_t first;
    std::uint32_t last;
};

// The marks that sit on the character before them (generated from Debian's Unicode data).
constexpr CodeRange CombiningMarks[] = {
#include "combining_marks.inc"
};

bool isCombiningMark(std::uint32_t code) {
    const auto* range = std::upper_bound(std::begin(CombiningMarks), std::end(CombiningMarks), code,
                                         [](std::uint32_t value, const CodeRange& r) { return value < r.first; });
    return range != std::begin(CombiningMarks) && code <= std::prev(range)->last;
}

}  // namespace

std::string sanitiseServerName(std::string_view text) {
    std::string name;
    bool spacePending = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        const std::uint32_t code = decodeCharacter(text, at, length);
        if (length == 0) {
            ++at;  // a broken sequence: its first byte goes, and what follows is read afresh
            continue;
        }
        const std::string_view character = text.substr(at, length);
        at += length;
        if (isSpace(code)) {
            spacePending = !name.empty();
            continue;
        }
        if (isHidden(code)) continue;
        // A mark with nothing before it to sit on shows as nothing, or as a dotted circle: left out,
        // so that a name of marks alone is empty and the launcher shows the address instead.
        if (isCombiningMark(code) && (name.empty() || spacePending)) continue;
        const std::size_t needed = (spacePending ? 1 : 0) + character.size();
        if (name.size() + needed > MaxServerNameBytes) break;
        if (spacePending) name += ' ';
        spacePending = false;
        name += character;
    }
    return name;
}

}  // namespace brassmoor
