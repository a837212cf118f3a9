// The sidecar's thread: polls the published figures, makes the calls the schedule asks for.
#include "sidecar_link.h"

#include <chrono>

#include "monotonic_clock.h"
#include "option_values.h"
#include "sidecar_post.h"
#include "sidecar_schedule.h"

namespace brassmoor {
namespace {

// How often the thread looks at the published figures: well inside a second's retry.
constexpr auto PollInterval = std::chrono::milliseconds(50);

// Makes the sidecar's call that is due now, if one is; true when it made one.
bool callSidecarIfDue(SidecarLink& link, SidecarSchedule& schedule, const PublishedFigures& published,
                      std::FILE* log) {
    const double now = monotonicSeconds();
    const SidecarWants wants{published.figures.ticks > 0, ticksOnTime(published.figures, now),
                             published.sessionOver, published.figures.clientServed};
    const SidecarCall call = nextSidecarCall(schedule, wants, now);
    if (call == SidecarCall::None) return false;
    std::string failure;
    const bool ok = postToSidecar(link.port, sidecarPath(call), failure);
    const std::string line = sidecarAnswered(schedule, call, ok, failure, monotonicSeconds());
    if (!line.empty() && log != nullptr) std::fprintf(log, "%s\n", line.c_str());
    if (schedule.shutdownDone) link.shutdownDone.store(true);
    return true;
}

// Each kind of call keeps its own schedule and is asked in turn; the thread sleeps when none is due.
void talk(SidecarLink& link, FiguresSlot& slot, std::FILE* log) {
    SidecarSchedule sidecar;
    while (!link.stop.load()) {
        const PublishedFigures published = readFigures(slot);
        const bool called = callSidecarIfDue(link, sidecar, published, log);
        if (!called) std::this_thread::sleep_for(PollInterval);
    }
}

}  // namespace

SidecarPortResult sidecarPortFrom(const char* value) {
    if (value == nullptr) return {};
    const auto port = parseWhole(value);
    if (!port || *port < 1 || *port > 65535) {
        return {std::nullopt,
                "AGONES_SDK_HTTP_PORT must be a TCP port from 1 to 65535, not " + quoted(value)};
    }
    return {static_cast<std::uint16_t>(*port), {}};
}

bool startSidecarLink(std::uint16_t port, FiguresSlot& slot, std::FILE* log, SidecarLink& link,
                      std::string& error) {
    if (!startSidecarCalls(error)) return false;
    link.port = port;
    link.thread = std::thread(talk, std::ref(link), std::ref(slot), log);
    return true;
}

void stopSidecarLink(SidecarLink& link) {
    if (!link.thread.joinable()) return;
    link.stop.store(true);
    link.thread.join();
    stopSidecarCalls();
}

}  // namespace brassmoor
