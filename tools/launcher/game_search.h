// Looking for games without waiting: a non-blocking UDP socket that sends a round of info queries
// every few seconds (this computer, every local network's broadcast, remembered addresses, each
// worked out again for the round), asks each listed game on its own schedule (listed_games.h), and
// hands the answers to the list's model as they come.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "browser_model.h"
#include "launcher_options.h"
#include "list_sources.h"
#include "local_networks.h"
#include "net/socket_layer.h"
#include "search_targets.h"

namespace brassmoor {

// How often the window's list is asked again.
inline constexpr double RefreshSeconds = 3.0;
// How long --list and --quick listen.
inline constexpr double SearchSeconds = 1.0;
// How long --list waits for the lists to answer, and at most in all (the lists, then their games).
inline constexpr double ListsWaitSeconds = ListTimeoutMilliseconds / 1000.0 + 1.0;
inline constexpr double ListingWaitSeconds = ListsWaitSeconds + 8.0;

struct GameSearch {
    SocketHandle socket = InvalidSocketHandle;
    SearchTargets targets;               // worked out again for each round
    double nextRound = 0.0;              // when the next round of queries leaves
    double lastRound = 0.0;              // when the latest round left
    std::vector<LocalNetwork> networks;  // as the latest round found them
    double queryCredit = 0.0;            // listed games' queries that may leave now
    double creditAt = 0.0;               // when it was last topped up
};

// Starts the sockets library and opens the socket. False, with `error` set to one line, when it cannot.
bool openGameSearch(GameSearch& search, std::string& error);
void closeGameSearch(GameSearch& search);

// An address to ask as well each round (a game the player joined); the next round leaves now.
void addSearchAddress(GameSearch& search, std::uint32_t address);
// A name to look up again and ask each round (an address the player joined before).
void addSearchName(GameSearch& search, const std::string& name);
void refreshNow(GameSearch& search);

// Sends a round when one is due and the listed games' queries that are (those of `shownFirst`, the
// rows on the screen, first), and takes the answers already waiting, a bounded number a call; never
// waits. False, with `error` set, when the socket failed.
bool pollGameSearch(GameSearch& search, BrowserModel& model, double now, std::string& error,
                    std::span<const std::uint64_t> shownFirst = {});

// For --list and --quick: listens for `seconds`, asking twice in case a datagram was lost. With
// `lists`, also reads them (up to ListsWaitSeconds) and asks each game they name until it answers
// or is given up (up to ListingWaitSeconds in all); `problems` gets what went wrong with them.
std::optional<BrowserModel> searchOnce(double seconds, const std::vector<ListServer>& lists,
                                       std::vector<std::string>& problems, std::string& error);

}  // namespace brassmoor
