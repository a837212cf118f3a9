// Durations gathered into fixed buckets, so that percentiles need no list of every sample.
//
// Bucket 0 holds everything under a microsecond; above it the buckets grow by 2^(1/32) (about 2.2%)
// each, up to 2^32 microseconds (over an hour), and the last one holds everything longer. A
// percentile is the upper edge of the bucket it falls in (never above the longest sample), so it is
// at most about 2.2% high. Times are in seconds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace brassmoor {

inline constexpr std::size_t DurationBucketsPerDoubling = 32;
inline constexpr std::size_t DurationDoublings = 32;
inline constexpr std::size_t DurationBucketCount = 2 + DurationBucketsPerDoubling * DurationDoublings;

struct DurationHistogram {
    std::array<std::uint32_t, DurationBucketCount> counts{};
    std::uint64_t samples = 0;
    double longest = 0.0;  // seconds, exact
};

// Counts one duration; a negative or NaN one counts as zero.
void recordDuration(DurationHistogram& histogram, double seconds);

// The duration that `fraction` (0 to 1) of the samples do not exceed, by the nearest rank: 0.5 is
// the median, 1 the longest. 0 when there are no samples.
double durationPercentile(const DurationHistogram& histogram, double fraction);

void clearDurations(DurationHistogram& histogram);

}  // namespace brassmoor
