// What to tell the orchestrator's SDK sidecar, and when: ready once serving, allocated once a client
// is served, health every 2 s while ticks run on time, shutdown when the session ends; a failed call
// is tried again a second later. Pure: the thread that makes the calls passes the time and what came
// of each call.
#pragma once

#include <string>

namespace brassmoor {

enum class SidecarCall { None, Ready, Allocate, Health, Shutdown };

// The REST path of a call: "/ready", "/allocate", "/health", "/shutdown".
const char* sidecarPath(SidecarCall call);

inline constexpr double SidecarHealthSeconds = 2.0;  // between health calls
inline constexpr double SidecarRetrySeconds = 1.0;   // after a call that failed

// What the tick loop has published.
struct SidecarWants {
    bool serving = false;       // the socket is bound and a tick has run
    bool ticksOnTime = false;   // the loop is not stuck: health is told only then
    bool sessionOver = false;   // --end-when-empty ended the session
    bool clientServed = false;  // a client's pose has been taken: the game has players
};

struct SidecarSchedule {
    bool readyDone = false;
    bool allocateDone = false;
    bool shutdownDone = false;
    double nextTry = 0.0;     // no call before this (a retry's wait)
    double nextHealth = 0.0;  // the next health call is due then
    // The call the sidecar last failed, until that call goes through: one log line for a sidecar that
    // starts late or refuses one call, however often it is tried or other calls go through between.
    SidecarCall failing = SidecarCall::None;
};

// The call to make now, or None.
SidecarCall nextSidecarCall(const SidecarSchedule& schedule, const SidecarWants& wants, double now);

// Takes what came of `call` (`failure` says why it failed, when it did). Returns a line for the log
// when the state changed (a call began or stopped failing, ready, allocate or shutdown went through),
// otherwise empty: a sidecar that starts late costs one line, not one a try.
std::string sidecarAnswered(SidecarSchedule& schedule, SidecarCall call, bool ok, const std::string& failure,
                            double now);

}  // namespace brassmoor
