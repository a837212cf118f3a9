// What a list server's list of games says, read without trusting it: every field checked, every
// name sanitised, the nesting bounded before the JSON is parsed (the parser would recurse on it) and
// the count bounded after. Pure: the HTTP call is the list fetcher's.
//
//   GET URL/v1/games
//     200  {"games": [{"address": "198.51.100.20", "port": 40123, "name": "Friday", "players": 3,
//                      "clients": 0, "bots": 3, "max_clients": 64, "version": "0.5.0"}, ...]}
//          busiest first, with an ETag
//     304  nothing changed since the ETag sent as If-None-Match
//
// An entry with a field missing, of another type or out of range is left out (counted); fields the
// launcher does not know are ignored, so a list may add some.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http_client.h"

namespace brassmoor {

inline constexpr std::size_t MaxListBytes = 1 << 20;  // a longer answer is a failure, never read further
inline constexpr int ListTimeoutMilliseconds = 5000;
// The list is 3 deep; deeper answers are refused unparsed, leaving room for fields a list may add.
inline constexpr std::size_t MaxListNesting = 16;
// Games read from one list; the rest are left out.
inline constexpr std::size_t MaxGamesRead = 10000;

struct ListedGame {
    std::uint32_t address = 0;  // host byte order; the game is asked on GamePort there
    // The list's word, never shown (the game's own answer is): the busiest are asked first when
    // there are more games than rows.
    std::uint16_t players = 0;
    std::string name;  // sanitised
};

struct GameListRead {
    bool ok = false;                // false: `error` says why
    bool unchanged = false;         // a 304: the games read before still stand
    std::vector<ListedGame> games;  // in the list's order, each address once
    std::size_t leftOut = 0;        // entries refused, repeated or past MaxGamesRead
    std::string etag;
    std::string error;  // a few words, to follow "the list at URL could not be read: "
};

// URL/v1/games, whether or not URL ends in a slash.
std::string gamesUrl(std::string_view url);

// An address a listed game may have: not 0.0.0.0/8, loopback (this computer is asked anyway), or
// multicast, reserved and broadcast (224.0.0.0 and up).
bool isListableAddress(std::uint32_t address);

// The games in a 200 answer's body.
GameListRead readGameList(std::string_view body);

// The answer to GET URL/v1/games: its status, ETag and body.
GameListRead readGameListAnswer(const HttpResponse& response);

}  // namespace brassmoor
