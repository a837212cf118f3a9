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

// The longest start of `text` of at most `limit` bytes that ends on a character's boundary (a byte
// 10xxxxxx continues a character).
std::size_t cutAtBoundary(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t end = limit;
    while (end > 0 && (static_cast<std::uint8_t>(text[end]) & 0xC0u) == 0x80u) --end;
    return end;
}

}  // namespace

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
