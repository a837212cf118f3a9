// The rechecks' phases within the interval, and which fell due since the checker last looked.
#include "recheck_schedule.h"

#include <cmath>

namespace brassmoor {

double recheckPhase(std::uint32_t address, double interval) {
    // Fibonacci hashing spreads neighbouring addresses (a host's block) across the interval.
    const std::uint32_t spread = address * 2654435761u;
    return interval * (static_cast<double>(spread) / 4294967296.0);
}

void dueRechecks(std::span<const std::uint32_t> addresses, double interval, double previous, double now,
                 std::vector<std::uint32_t>& due) {
    if (!(now > previous) || now - previous > interval) return;
    for (const std::uint32_t address : addresses) {
        const double phase = recheckPhase(address, interval);
        if (std::floor((now - phase) / interval) > std::floor((previous - phase) / interval))
            due.push_back(address);
    }
}

int recheckClaimMilliseconds(int intervalSeconds) {
    return intervalSeconds * 500;
}

}  // namespace brassmoor
