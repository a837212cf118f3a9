// The server's one thread for calls to the outside, run when the orchestrator's sidecar or list
// servers are configured. It reads only what the tick loop published, and makes each kind of call
// itself on a schedule of its own, so no call ever blocks a tick; one kind's slow call delays the
// other's by that one call at most (a list's announcement: 5 s).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "figures_slot.h"
#include "list_link.h"

namespace brassmoor {

struct WatchersThread {
    std::optional<std::uint16_t> sidecarPort;
    ListLink lists;
    std::thread thread;
    std::atomic<bool> stop{false};
    // The session ended, or the program stops: an announcement in flight is given up, and the game
    // is withdrawn from its lists.
    std::atomic<bool> ending{false};
    std::atomic<bool> shutdownDone{false};  // the sidecar took the shutdown
    bool sidecarCalls = false;              // the sidecar's HTTP client was readied
    bool listCalls = false;                 // the lists' HTTP client was readied
};

// Starts the thread when there is a sidecar or a list server; its log lines go to `log`. False,
// with `error` set, when this build cannot make those calls.
bool startWatchersThread(std::optional<std::uint16_t> sidecarPort,
                         const std::vector<std::string>& listServers, const std::string& bindAddress,
                         FiguresSlot& slot, std::FILE* log, WatchersThread& watchers, std::string& error);

// The session is over: the sidecar is told (as the slot says) and the lists are withdrawn from.
void endWatchedSession(WatchersThread& watchers);

// Stops the thread: the game is withdrawn from its lists first, within WithdrawSeconds.
void stopWatchersThread(WatchersThread& watchers);

}  // namespace brassmoor
