// The info query and its answer: how a launcher finds Brassmoor servers and learns what they hold.
//
// Same framing as the pose and the snapshot: "KV01", a type byte, then little-endian fields with
// no padding between them. The client knows neither type.
//
//   InfoQuery (launcher -> server), at least 24 bytes
//     0  magic "KV01"   4  type = 3   5  nonce (u32)   9  padding to 24 bytes (any value, ignored)
//
//   InfoAnswer (server -> launcher, to the query's source), 24 bytes to a 24-byte query
//     0  magic "KV01"   4  type = 4   5  nonce (u32, the query's)   9  instance (u32)
//     13 players (u16)   15 clients (u16)   17 bots (u16)   19 maxClients (u16)
//     21 version major (u8)   22 minor (u8)   23 patch (u8)
//   and to a longer query (NamedInfoQuerySize, 73 bytes, asks for all of it), the server's name:
//     24 nameLength (u8)   25 name (nameLength bytes of UTF-8, no terminator)
//
// A query is padded at least to the answer's length and a shorter one is not answered, so an answer
// is never longer than the query that asked for it: a forged source address gains nothing by it.
// The name is cut, at a character's boundary, to what the query leaves room for: a 25-byte query
// gets a nameLength of 0 and no name. A launcher reads both forms (24 bytes: no name); a name whose
// length runs past the datagram is read as far as it goes, and every name read is sanitised again.
// `instance` is drawn at random when a server starts, so a launcher that hears one server on
// several addresses (loopback and a LAN's broadcast) lists it once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "server_name.h"

namespace brassmoor {

inline constexpr std::uint8_t InfoQueryType = 3;
inline constexpr std::uint8_t InfoAnswerType = 4;
inline constexpr std::size_t InfoAnswerSize = 24;
inline constexpr std::size_t InfoQuerySize = InfoAnswerSize;
inline constexpr std::size_t InfoNameLengthOffset = InfoAnswerSize;
inline constexpr std::size_t InfoNameOffset = InfoNameLengthOffset + 1;
// The query a launcher sends to hear the whole name; the longest answer there is.
inline constexpr std::size_t NamedInfoQuerySize = InfoNameOffset + MaxServerNameBytes;
inline constexpr std::size_t MaxInfoAnswerSize = NamedInfoQuerySize;

struct ServerInfo {
    std::uint32_t instance = 0;
    std::uint16_t players = 0;     // clients and bots; saturates at 65535
    std::uint16_t clients = 0;     // real clients connected now
    std::uint16_t bots = 0;        // simulated players
    std::uint16_t maxClients = 0;  // the cap on clients
    std::uint8_t versionMajor = 0;
    std::uint8_t versionMinor = 0;
    std::uint8_t versionPatch = 0;
    std::string name;  // sanitised (sanitiseServerName), possibly empty: an old server tells none
};

// An answer of any length up to MaxInfoAnswerSize, ready to send.
struct InfoAnswerBytes {
    std::array<std::uint8_t, MaxInfoAnswerSize> bytes{};
    std::size_t size = 0;
    std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
};

std::array<std::uint8_t, InfoQuerySize> encodeInfoQuery(std::uint32_t nonce);
// True for a query the server answers: at least InfoQuerySize bytes, the magic and type 3.
bool decodeInfoQuery(std::span<const std::uint8_t> bytes, std::uint32_t& nonce);

// The query that asks for the server's name too: NamedInfoQuerySize bytes.
std::array<std::uint8_t, NamedInfoQuerySize> encodeNamedInfoQuery(std::uint32_t nonce);

// The 24-byte answer, without the name: what a 24-byte query gets.
std::array<std::uint8_t, InfoAnswerSize> encodeInfoAnswer(std::uint32_t nonce, const ServerInfo& info);
// The answer to a query of `querySize` bytes (at least InfoQuerySize): 24 bytes to a 24-byte query,
// otherwise the name too, cut at a character's boundary so the answer is never longer than the query.
InfoAnswerBytes encodeInfoAnswerFor(std::size_t querySize, std::uint32_t nonce, const ServerInfo& info);
// True for at least InfoAnswerSize bytes with the magic and type 4; the name, when there is one, is
// sanitised (bytes after it are left for later versions). False leaves `nonce` and `info` alone.
bool decodeInfoAnswer(std::span<const std::uint8_t> bytes, std::uint32_t& nonce, ServerInfo& info);

}  // namespace brassmoor
