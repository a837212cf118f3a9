// The figures the server publishes: the tick histogram, the health rule and the session's end.
#include "server_figures.h"

#include <cmath>

namespace brassmoor {

void recordTick(TickDurations& durations, double seconds) {
    if (!(seconds >= 0.0)) seconds = 0.0;  // NaN too
    std::size_t bucket = 0;
    while (bucket < TickBucketBounds.size() && seconds > TickBucketBounds[bucket])
        ++bucket;
    ++durations.counts[bucket];
    ++durations.samples;
    durations.sum += seconds;
}

bool ticksOnTime(const ServerFigures& figures, double now) {
    if (figures.lastTick == 0.0) return false;
    return now - (figures.lastTick + figures.tickPeriod) <= TickLatenessLimit;
}

bool sessionIsOver(double emptySeconds, std::optional<double> lastPose, double now) {
    return emptySeconds > 0.0 && lastPose && now - *lastPose >= emptySeconds;
}

}  // namespace brassmoor
