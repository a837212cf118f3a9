// The info query and its answer: how a launcher finds Brassmoor servers and learns what they hold.
//
// Same framing as the pose and the snapshot: "KV01", a type byte, then little-endian fields with
// no padding between them. The client knows neither type.
//
//   InfoQuery (launcher -> server), at least 24 bytes
//     0  magic "KV01"   4  type = 3   5  nonce (u32)   9  padding to 24 bytes (any value, ignored)
//
//   InfoAnswer (server -> launcher, to the query's source), 24 bytes
//     0  magic "KV01"   4  type = 4   5  nonce (u32, the query's)   9  instance (u32)
//     13 players (u16)   15 clients (u16)   17 bots (u16)   19 maxClients (u16)
//     21 version major (u8)   22 minor (u8)   23 patch (u8)
//
// A query is padded to the answer's length and a shorter one is not answered, so an answer is never
// longer than the query that asked for it: a forged source address gains nothing by it. `instance`
// is drawn at random when a server starts, so a launcher that hears one server on several addresses
// (loopback and a LAN's broadcast) lists it once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace brassmoor {

inline constexpr std::uint8_t InfoQueryType = 3;
inline constexpr std::uint8_t InfoAnswerType = 4;
inline constexpr std::size_t InfoAnswerSize = 24;
inline constexpr std::size_t InfoQuerySize = InfoAnswerSize;

struct ServerInfo {
    std::uint32_t instance = 0;
    std::uint16_t players = 0;     // clients and bots; saturates at 65535
    std::uint16_t clients = 0;     // real clients connected now
    std::uint16_t bots = 0;        // simulated players
    std::uint16_t maxClients = 0;  // the cap on clients
    std::uint8_t versionMajor = 0;
    std::uint8_t versionMinor = 0;
    std::uint8_t versionPatch = 0;
};

std::array<std::uint8_t, InfoQuerySize> encodeInfoQuery(std::uint32_t nonce);
// True for a query the server answers: at least InfoQuerySize bytes, the magic and type 3.
bool decodeInfoQuery(std::span<const std::uint8_t> bytes, std::uint32_t& nonce);

std::array<std::uint8_t, InfoAnswerSize> encodeInfoAnswer(std::uint32_t nonce, const ServerInfo& info);
// True for at least InfoAnswerSize bytes with the magic and type 4 (bytes after the last field are
// left for later versions); false leaves `nonce` and `info` alone.
bool decodeInfoAnswer(std::span<const std::uint8_t> bytes, std::uint32_t& nonce, ServerInfo& info);

}  // namespace brassmoor
