// The figures the server publishes about itself once a tick, for the metrics and health endpoint
// and the orchestrator's sidecar: plain values, copied whole, so a reader never touches the loop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "registry.h"

namespace brassmoor {

// Upper bounds of the tick-duration buckets, in seconds; a tick must stay well under 33 ms at the
// default rate, so the buckets are finest below that. One more bucket holds everything longer.
inline constexpr std::array<double, 12> TickBucketBounds = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005,
                                                            0.01,   0.025,   0.05,   0.1,   0.25,   1.0};

// Every tick's duration since the start (unlike the status line's, never cleared).
struct TickDurations {
    std::array<std::uint64_t, TickBucketBounds.size() + 1> counts{};  // per bucket, not cumulative
    std::uint64_t samples = 0;
    double sum = 0.0;  // seconds
};

void recordTick(TickDurations& durations, double seconds);

struct ServerFigures {
    TrafficCounters counters;
    std::size_t clients = 0;
    std::size_t bots = 0;
    std::size_t maxClients = 0;
    std::uint64_t ticks = 0;
    std::optional<std::uint64_t> systemDrops;  // the kernel's drops at the socket, where it says
    TickDurations tickDurations;
    double tickPeriod = 0.0;    // seconds between ticks at the configured rate
    double lastTick = 0.0;      // monotonic seconds when the last tick ran; the start before the first
    bool clientServed = false;  // a pose from a client (not a bot) has been taken
};

// How late a tick may be before the loop counts as stuck: a second past its due time.
inline constexpr double TickLatenessLimit = 1.0;

// True while ticks run on time: the next was due less than TickLatenessLimit ago. Default figures
// (nothing published yet) are not on time.
bool ticksOnTime(const ServerFigures& figures, double now);

// --end-when-empty: true once a client has been served (`lastPose`, when the last pose came) and
// none has been heard for `emptySeconds`. Never true without --end-when-empty (0) or before a client.
bool sessionIsOver(double emptySeconds, std::optional<double> lastPose, double now);

}  // namespace brassmoor
