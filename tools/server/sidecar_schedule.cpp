// The sidecar's schedule: which call is due, and what a call's outcome changes.
#include "sidecar_schedule.h"

namespace brassmoor {

const char* sidecarPath(SidecarCall call) {
    switch (call) {
        case SidecarCall::Ready:
            return "/ready";
        case SidecarCall::Allocate:
            return "/allocate";
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
    // A stuck loop stops the health calls, so the orchestrator marks the game unhealthy. Health goes
    // first when due, so that an allocate the sidecar keeps refusing cannot starve it.
    if (wants.ticksOnTime && now >= schedule.nextHealth) return SidecarCall::Health;
    // Players join by address, so nothing else allocates the game; an allocated one is not deleted
    // on a scale-down or an update.
    if (wants.clientServed && !schedule.allocateDone) return SidecarCall::Allocate;
    return SidecarCall::None;
}

std::string sidecarAnswered(SidecarSchedule& schedule, SidecarCall call, bool ok, const std::string& failure,
                            double now) {
    if (!ok) {
        schedule.nextTry = now + SidecarRetrySeconds;
        if (schedule.failing != SidecarCall::None) return {};
        schedule.failing = call;
        return std::string("agones: the sidecar does not take ") + sidecarPath(call) + " (" + failure +
               "); trying again each second";
    }
    const bool recovered = schedule.failing == call;
    if (recovered) schedule.failing = SidecarCall::None;
    switch (call) {
        case SidecarCall::Ready:
            schedule.readyDone = true;
            schedule.nextHealth = now;  // the first health call follows at once, then every 2 s
            return "agones: ready";
        case SidecarCall::Allocate:
            schedule.allocateDone = true;
            return "agones: allocated";
        case SidecarCall::Shutdown:
            schedule.shutdownDone = true;
            return "agones: shutdown";
        case SidecarCall::Health:
            schedule.nextHealth = now + SidecarHealthSeconds;
            return recovered ? "agones: the sidecar answers again" : "";
        case SidecarCall::None:
            break;
    }
    return {};
}

}  // namespace brassmoor
