// The lists' games in the list of games: a row for each listed address at once, showing its address
// and that it is being asked; then the launcher's own info query to each, whose answer alone fills
// the row (never the list's word). A game that stops answering is shown as unreachable, never
// hidden; one that answers with the instance of a game already shown (heard on the LAN, listed
// twice) is that row. Pure: the caller sends the queries and passes the time in.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "browser_model.h"
#include "game_list.h"

namespace brassmoor {

inline constexpr double PingWaitSeconds = 1.0;  // an answer later than this counts as missed
inline constexpr std::uint32_t PingTries = 3;   // missed in a row, and the game is unreachable
// Each listed game is asked again this often: every launcher open asks it, and a server answers a
// bounded number of queries a second in all.
inline constexpr double ReaskSeconds = 30.0;
inline constexpr double PingsPerSecond = 200.0;  // what the caller sends at most

struct ListedQuery {
    std::uint32_t address;
    std::uint32_t nonce;
};

// The lists' games as read now, all lists together: the busiest MaxListedRows (by the lists' word)
// get a row, which stays while they are listed; rows of games no longer listed go.
void showListedGames(BrowserModel& model, std::span<const ListedGame> games);

// The queries due at `now`, one for each of `nonces` at most: rows never asked, missed lately
// (again after PingWaitSeconds) or last asked ReaskSeconds ago; the rows `shownFirst` names (the
// ones on the screen) before the others. Each is taken as sent.
std::vector<ListedQuery> startListedQueries(BrowserModel& model, double now,
                                            std::span<const std::uint32_t> nonces,
                                            std::span<const std::uint64_t> shownFirst = {});

// An answer from `from` with `nonce` at `now`: true when it answers a listed game's query.
bool takeListedAnswer(BrowserModel& model, const Ipv4Endpoint& from, std::uint32_t nonce, ServerInfo info,
                      double now);

// True while a listed game has neither answered nor been given up: --list waits for it.
bool listedStillAsked(const BrowserModel& model);

// Refresh: every listed game is asked again at once.
void askListedAgain(BrowserModel& model);

// A listed game shown by another row gets its own row again when that row goes.
void restoreTwins(BrowserModel& model);

}  // namespace brassmoor
