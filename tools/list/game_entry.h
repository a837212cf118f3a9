// One listed game as the list keeps it, and its JSON form in the store: written by one list instance,
// read back by any, and checked on the way in like anything else from outside.
//
//   key    brassmoor-list:game:ADDRESS   (dotted IPv4; the game is always ADDRESS:40123)
//   value  {"name": "...", "players": 3, "clients": 0, "bots": 3, "max_clients": 64, "version": "0.5.0"}
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server_info.h"

namespace brassmoor {

// The one port a listed game answers on: the game program always sends there.
inline constexpr std::uint16_t GamePort = 40123;
// A stored value longer than this is not one the list wrote.
inline constexpr std::size_t MaxStoredEntryBytes = 1024;
inline constexpr std::string_view GameKeyPrefix = "brassmoor-list:game:";

struct GameEntry {
    std::uint32_t address = 0;  // host byte order
    std::string name;           // sanitised
    std::uint16_t players = 0;
    std::uint16_t clients = 0;
    std::uint16_t bots = 0;
    std::uint16_t maxClients = 0;
    std::uint8_t versionMajor = 0;
    std::uint8_t versionMinor = 0;
    std::uint8_t versionPatch = 0;

    bool operator==(const GameEntry&) const = default;
};

// What the game's own answer says about it; nothing comes from its announcement.
GameEntry gameFromAnswer(std::uint32_t address, const ServerInfo& info);

// "0.5.0"
std::string formatGameVersion(const GameEntry& game);

std::string gameKey(std::uint32_t address);
// The address a key names; false for a key that is not exactly a game's.
bool addressFromGameKey(std::string_view key, std::uint32_t& address);

// The value stored under the game's key.
std::string encodeStoredEntry(const GameEntry& game);
// Reads a stored value back, every field checked and the name sanitised again, so a store that
// someone else wrote to shows nothing a game's answer could not have said. False, with `error` set,
// for anything else.
bool decodeStoredEntry(std::uint32_t address, std::string_view text, GameEntry& game, std::string& error);

// Busiest first (players, then clients), then by address, so every instance orders alike.
void sortBusiestFirst(std::vector<GameEntry>& games);

}  // namespace brassmoor
