// Token buckets per address, refilled by the time passed in, in a table that never outgrows its bound.
#include "rate_limiter.h"

#include <algorithm>

namespace brassmoor {
namespace {

double refilled(const RateLimits& limits, const RateLimiter::Bucket& bucket, double now) {
    const double elapsed = std::max(0.0, now - bucket.updated);
    return std::min(limits.burst, bucket.tokens + elapsed * limits.perSecond);
}

void forgetRefilled(RateLimiter& limiter, double now) {
    std::erase_if(limiter.buckets, [&](const auto& item) {
        return refilled(limiter.limits, item.second, now) >= limiter.limits.burst;
    });
}

}  // namespace

bool allowRequest(RateLimiter& limiter, std::uint32_t address, double now) {
    auto found = limiter.buckets.find(address);
    if (found == limiter.buckets.end()) {
        if (limiter.buckets.size() >= limiter.limits.maxAddresses && now - limiter.lastSweep >= 1.0) {
            forgetRefilled(limiter, now);
            limiter.lastSweep = now;
        }
        if (limiter.buckets.size() >= limiter.limits.maxAddresses) return false;
        found = limiter.buckets.emplace(address, RateLimiter::Bucket{limiter.limits.burst, now}).first;
    }
    RateLimiter::Bucket& bucket = found->second;
    bucket.tokens = refilled(limiter.limits, bucket, now);
    bucket.updated = now;
    if (bucket.tokens < 1.0) return false;
    bucket.tokens -= 1.0;
    return true;
}

}  // namespace brassmoor
