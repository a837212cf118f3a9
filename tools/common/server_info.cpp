// Encoding and decoding of the info query and answer, field by field at fixed offsets.
#include "server_info.h"

#include <algorithm>

#include "net/wire_bytes.h"

namespace brassmoor {

namespace {

constexpr std::size_t NonceOffset = 5;
constexpr std::size_t InstanceOffset = 9;
constexpr std::size_t PlayersOffset = 13;
constexpr std::size_t ClientsOffset = 15;
constexpr std::size_t BotsOffset = 17;
constexpr std::size_t MaxClientsOffset = 19;
constexpr std::size_t VersionOffset = 21;

bool isContinuation(std::uint8_t byte) {
    return (byte & 0xC0u) == 0x80u;
}

// Decodes the character at `at`; its length in `length`, or 0 for a broken sequence (an unexpected
// byte, a character written longer than it needs, a surrogate or beyond U+10FFFF).
std::uint32_t decodeCharacter(std::string_view text, std::size_t at, std::size_t& length) {
    const auto lead = static_cast<std::uint8_t>(text[at]);
    length = 0;
    std::size_t size = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;
    if (lead < 0x80u) {
        length = 1;
        return lead;
    } else if ((lead & 0xE0u) == 0xC0u) {
        size = 2, code = lead & 0x1Fu, least = 0x80;
    } else if ((lead & 0xF0u) == 0xE0u) {
        size = 3, code = lead & 0x0Fu, least = 0x800;
    } else if ((lead & 0xF8u) == 0xF0u) {
        size = 4, code = lead & 0x07u, least = 0x10000;
    } else {
        return 0;
    }
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
// mark, interlinear annotations, tags) or are no characters at all.
bool isHidden(std::uint32_t code) {
    return code < 0x20u || (code >= 0x7Fu && code <= 0x9Fu) || code == 0x061Cu || code == 0x00ADu ||
           (code >= 0x200Bu && code <= 0x200Fu) || (code >= 0x2028u && code <= 0x202Eu) ||
           (code >= 0x2060u && code <= 0x206Fu) || code == 0xFEFFu || (code >= 0xFFF9u && code <= 0xFFFBu) ||
           (code & 0xFFFEu) == 0xFFFEu || (code >= 0xFDD0u && code <= 0xFDEFu) ||
           (code >= 0xE0000u && code <= 0xE007Fu);
}

bool isSpace(std::uint32_t code) {
    return code == ' ' || code == '\t' || code == '\n' || code == '\v' || code == '\f' || code == '\r' ||
           code == 0x85u || code == 0xA0u || code == 0x2028u || code == 0x2029u;
}

// The longest start of `text` of at most `limit` bytes that ends on a character's boundary.
std::size_t cutAtBoundary(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t end = limit;
    while (end > 0 && isContinuation(static_cast<std::uint8_t>(text[end]))) --end;
    return end;
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
        const std::size_t needed = (spacePending ? 1 : 0) + character.size();
        if (name.size() + needed > MaxServerNameBytes) break;
        if (spacePending) name += ' ';
        spacePending = false;
        name += character;
    }
    return name;
}

std::array<std::uint8_t, NamedInfoQuerySize> encodeNamedInfoQuery(std::uint32_t nonce) {
    std::array<std::uint8_t, NamedInfoQuerySize> bytes{};
    putDatagramHeader(bytes.data(), InfoQueryType);
    putU32(bytes.data() + NonceOffset, nonce);
    return bytes;
}

std::array<std::uint8_t, InfoQuerySize> encodeInfoQuery(std::uint32_t nonce) {
    std::array<std::uint8_t, InfoQuerySize> bytes{};
    putDatagramHeader(bytes.data(), InfoQueryType);
    putU32(bytes.data() + NonceOffset, nonce);
    return bytes;
}

bool decodeInfoQuery(std::span<const std::uint8_t> bytes, std::uint32_t& nonce) {
    if (bytes.size() < InfoQuerySize || !hasDatagramHeader(bytes, InfoQueryType)) return false;
    nonce = getU32(bytes.data() + NonceOffset);
    return true;
}

std::array<std::uint8_t, InfoAnswerSize> encodeInfoAnswer(std::uint32_t nonce, const ServerInfo& info) {
    std::array<std::uint8_t, InfoAnswerSize> bytes{};
    std::uint8_t* at = bytes.data();
    putDatagramHeader(at, InfoAnswerType);
    putU32(at + NonceOffset, nonce);
    putU32(at + InstanceOffset, info.instance);
    putU16(at + PlayersOffset, info.players);
    putU16(at + ClientsOffset, info.clients);
    putU16(at + BotsOffset, info.bots);
    putU16(at + MaxClientsOffset, info.maxClients);
    at[VersionOffset] = info.versionMajor;
    at[VersionOffset + 1] = info.versionMinor;
    at[VersionOffset + 2] = info.versionPatch;
    return bytes;
}

InfoAnswerBytes encodeInfoAnswerFor(std::size_t querySize, std::uint32_t nonce, const ServerInfo& info) {
    InfoAnswerBytes answer;
    const auto base = encodeInfoAnswer(nonce, info);
    std::copy(base.begin(), base.end(), answer.bytes.begin());
    answer.size = InfoAnswerSize;
    if (querySize <= InfoAnswerSize) return answer;
    const std::size_t room = std::min(querySize, MaxInfoAnswerSize) - InfoNameOffset;
    const std::size_t length = cutAtBoundary(info.name, room);
    answer.bytes[InfoNameLengthOffset] = static_cast<std::uint8_t>(length);
    std::copy_n(info.name.begin(), length, answer.bytes.begin() + InfoNameOffset);
    answer.size = InfoNameOffset + length;
    return answer;
}

bool decodeInfoAnswer(std::span<const std::uint8_t> bytes, std::uint32_t& nonce, ServerInfo& info) {
    if (bytes.size() < InfoAnswerSize || !hasDatagramHeader(bytes, InfoAnswerType)) return false;
    const std::uint8_t* at = bytes.data();
    nonce = getU32(at + NonceOffset);
    info.instance = getU32(at + InstanceOffset);
    info.players = getU16(at + PlayersOffset);
    info.clients = getU16(at + ClientsOffset);
    info.bots = getU16(at + BotsOffset);
    info.maxClients = getU16(at + MaxClientsOffset);
    info.versionMajor = at[VersionOffset];
    info.versionMinor = at[VersionOffset + 1];
    info.versionPatch = at[VersionOffset + 2];
    info.name.clear();
    if (bytes.size() > InfoNameLengthOffset) {
        // A length that runs past the datagram is read as far as the datagram goes.
        const std::size_t told = at[InfoNameLengthOffset];
        const std::size_t length = std::min(told, bytes.size() - InfoNameOffset);
        info.name = sanitiseServerName(
            std::string_view(reinterpret_cast<const char*>(at + InfoNameOffset), length));
    }
    return true;
}

}  // namespace brassmoor
