// The thread that talks to the orchestrator's SDK sidecar (AGONES_SDK_HTTP_PORT): it reads what the
// tick loop published, follows the sidecar schedule and makes each call itself, so no call ever
// blocks a tick.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "figures_slot.h"

namespace brassmoor {

struct SidecarLink {
    std::uint16_t port = 0;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> shutdownDone{false};
};

// The sidecar's port from AGONES_SDK_HTTP_PORT's value (null: unset, so no link); an error line for
// a value that is not a port.
struct SidecarPortResult {
    std::optional<std::uint16_t> port;
    std::string error;
};
SidecarPortResult sidecarPortFrom(const char* value);

// Starts the thread; its log lines go to `log`. False, with `error` set, when this build cannot.
bool startSidecarLink(std::uint16_t port, FiguresSlot& slot, std::FILE* log, SidecarLink& link,
                      std::string& error);

// Stops the thread (a call in flight is finished first).
void stopSidecarLink(SidecarLink& link);

}  // namespace brassmoor
