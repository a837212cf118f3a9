// Where the list keeps its games: one small interface, with a store in this process's memory and one
// in Redis shared by any number of list instances. Both pass one contract test. Each store is safe to
// call from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "game_entry.h"

namespace brassmoor {

class GameStore {
public:
    virtual ~GameStore() = default;

    // Makes the store usable again after a failure; true at once when it already is.
    virtual bool connect(std::string& error) = 0;

    // Lists each game for `ttlSeconds` from now, replacing what its address had. With `onlyIfListed`
    // a game that has left the list in the meantime (expired, or removed) stays out: a recheck's
    // answer never brings back a game that asked to leave.
    virtual bool putGames(std::span<const GameEntry> games, int ttlSeconds, bool onlyIfListed,
                          std::string& error) = 0;

    // Unlists the game at `address`; `removed` says whether one was listed.
    virtual bool removeGame(std::uint32_t address, bool& removed, std::string& error) = 0;

    // Every game listed now, in no particular order; entries that cannot be read (someone else wrote
    // them) are left out and counted in `unreadable`.
    virtual bool readGames(std::vector<GameEntry>& games, std::size_t& unreadable, std::string& error) = 0;

    // For each address, whether this caller is the one to recheck it now: the first claim on an address
    // holds for `milliseconds`, and every other claim on it meanwhile, from any instance, loses.
    virtual bool claimRechecks(std::span<const std::uint32_t> addresses, int milliseconds,
                               std::vector<bool>& won, std::string& error) = 0;
};

}  // namespace brassmoor
