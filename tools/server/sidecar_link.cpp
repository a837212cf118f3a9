// The sidecar's calls on the watchers' thread: those the schedule asks for, one at a time.
#include "sidecar_link.h"

#include "monotonic_clock.h"
#include "option_values.h"
#include "sidecar_post.h"

namespace brassmoor {

bool callSidecarIfDue(std::uint16_t port, SidecarSchedule& schedule, const PublishedFigures& published,
                      std::FILE* log) {
    const double now = monotonicSeconds();
    const SidecarWants wants{published.figures.ticks > 0, ticksOnTime(published.figures, now),
                             published.sessionOver, published.figures.clientServed};
    const SidecarCall call = nextSidecarCall(schedule, wants, now);
    if (call == SidecarCall::None) return false;
    std::string failure;
    const bool ok = postToSidecar(port, sidecarPath(call), failure);
    const std::string line = sidecarAnswered(schedule, call, ok, failure, monotonicSeconds());
    if (!line.empty() && log != nullptr) std::fprintf(log, "%s\n", line.c_str());
    return true;
}

SidecarPortResult sidecarPortFrom(const char* value) {
    if (value == nullptr) return {};
    const auto port = parseWhole(value);
    if (!port || *port < 1 || *port > 65535) {
        return {std::nullopt,
                "AGONES_SDK_HTTP_PORT must be a TCP port from 1 to 65535, not " + quoted(value)};
    }
    return {static_cast<std::uint16_t>(*port), {}};
}

}  // namespace brassmoor
