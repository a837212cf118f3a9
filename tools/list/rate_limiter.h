// Announcements per source address: a token bucket each, in a table of bounded size, so one address
// cannot make the list send a stream of queries and many addresses cannot make it grow without end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace brassmoor {

struct RateLimits {
    double burst = 4.0;                // requests an address may make at once
    double perSecond = 0.1;            // and then this many a second (a server announces every 30 s)
    std::size_t maxAddresses = 65536;  // the table's bound
};

struct RateLimiter {
    struct Bucket {
        double tokens = 0.0;
        double updated = 0.0;  // seconds, the caller's clock
    };
    RateLimits limits;
    std::unordered_map<std::uint32_t, Bucket> buckets;
    double lastSweep = -1e300;  // when a full table was last swept; once a second at most
};

// True when `address` may make one more request at `now` (and takes a token for it). When the table
// is full, addresses whose buckets have refilled are forgotten first (they would start full anyway;
// swept once a second at most, so a flood of new addresses costs no sweep each); until then a new
// address is refused.
bool allowRequest(RateLimiter& limiter, std::uint32_t address, double now);

}  // namespace brassmoor
