// Encoding and decoding of the info query and answer, field by field at fixed offsets.
#include "server_info.h"

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

}  // namespace

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
    return true;
}

}  // namespace brassmoor
