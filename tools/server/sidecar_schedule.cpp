// The sidecar's schedule: which call is due, and what a call's outcome changes.
#include "sidecar_schedule.h"

namespace brassmoor {

const char* sidecarPath(SidecarCall call) {
    switch (call) {
        case SidecarCall::Ready:
            return "/ready";
        case SidecarCall::Health:
            return "/health";
        case SidecarCall::Shutdown:
            return "/shutdown";
        case SidecarCall::None:
            break;
    }
    return "";
}

SidecarCall nextSidecarCall(const SidecarSchedule& schedule, const SidecarWants& wants, double now) {
    if (schedule.shutdownDone || now < schedule.nextTry) return SidecarCall::None;
    if (wants.sessionOver) return SidecarCall::Shutdown;
    if (!wants.serving) return SidecarCall::None;
    if (!schedule.readyDone) return SidecarCall::Ready;
    // A stuck loop stops the health calls, so the orchestrator marks the game unhealthy.
    if (wants.ticksOnTime && now >= schedule.nextHealth) return SidecarCall::Health;
    return SidecarCall::None;
}

std::string sidecarAnswered(SidecarSchedule& schedule, SidecarCall call, bool ok, const std::string& failure,
                            double now) {
    const SidecarLinkState before = schedule.link;
    if (!ok) {
        schedule.link = SidecarLinkState::Silent;
        schedule.nextTry = now + SidecarRetrySeconds;
        if (before == SidecarLinkState::Silent) return {};
        return std::string("agones: the sidecar does not take ") + sidecarPath(call) + " (" + failure +
               "); trying again each second";
    }
    schedule.link = SidecarLinkState::Answering;
    switch (call) {
        case SidecarCall::Ready:
            schedule.readyDone = true;
            schedule.nextHealth = now;  // the first health call follows at once, then every 2 s
            return "agones: ready";
        case SidecarCall::Shutdown:
            schedule.shutdownDone = true;
            return "agones: shutdown";
        case SidecarCall::Health:
            schedule.nextHealth = now + SidecarHealthSeconds;
            return before == SidecarLinkState::Silent ? "agones: the sidecar answers again" : "";
        case SidecarCall::None:
            break;
    }
    return {};
}

}  // namespace brassmoor
