// Looking for games without waiting: a non-blocking UDP socket that sends a round of info queries
// every few seconds (this computer, every local network's broadcast, remembered addresses, each
// worked out again for the round) and hands the answers to the list's model as they come.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "browser_model.h"
#include "launcher_options.h"
#include "net/socket_layer.h"
#include "search_targets.h"

namespace brassmoor {

// How often the window's list is asked again.
inline constexpr double RefreshSeconds = 3.0;
// How long --list and --quick listen.
inline constexpr double SearchSeconds = 1.0;

struct GameSearch {
    SocketHandle socket = InvalidSocketHandle;
    SearchTargets targets;               // worked out again for each round
    double nextRound = 0.0;              // when the next round of queries leaves
    double lastRound = 0.0;              // when the latest round left
};

// Starts the sockets library and opens the socket. False, with `error` set to one line, when it cannot.
bool openGameSearch(GameSearch& search, std::string& error);
void closeGameSearch(GameSearch& search);

// An address to ask as well each round (a game the player joined); the next round leaves now.
void addSearchAddress(GameSearch& search, std::uint32_t address);
// A name to look up again and ask each round (an address the player joined before).
void addSearchName(GameSearch& search, const std::string& name);
void refreshNow(GameSearch& search);

// Sends a round when one is due and takes the answers already waiting, a bounded number a call;
// never waits. False, with `error` set, when the socket failed.
bool pollGameSearch(GameSearch& search, BrowserModel& model, double now, std::string& error);

// For --list and --quick: listens for `seconds`, asking twice in case a datagram was lost.
std::optional<BrowserModel> searchOnce(double seconds, std::string& error);

}  // namespace brassmoor
