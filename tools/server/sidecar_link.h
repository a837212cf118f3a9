// The orchestrator's SDK sidecar (AGONES_SDK_HTTP_PORT) as one kind of call on the watchers' thread:
// the calls the sidecar schedule asks for, made from what the tick loop published.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "figures_slot.h"
#include "sidecar_schedule.h"

namespace brassmoor {

// The sidecar's port from AGONES_SDK_HTTP_PORT's value (null: unset, so no link); an error line for
// a value that is not a port.
struct SidecarPortResult {
    std::optional<std::uint16_t> port;
    std::string error;
};
SidecarPortResult sidecarPortFrom(const char* value);

// Makes the sidecar's call that is due now, if one is; true when it made one. Its lines go to `log`.
bool callSidecarIfDue(std::uint16_t port, SidecarSchedule& schedule, const PublishedFigures& published,
                      std::FILE* log);

}  // namespace brassmoor
