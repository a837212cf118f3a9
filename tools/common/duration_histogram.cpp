// Durations gathered into fixed buckets: recording, percentiles, clearing.
#include "duration_histogram.h"

#include <algorithm>
#include <cmath>

namespace brassmoor {
namespace {

constexpr double BucketBaseSeconds = 1e-6;

std::size_t bucketOf(double seconds) {
    if (!(seconds >= BucketBaseSeconds)) return 0;  // also NaN
    const double steps = std::floor(std::log2(seconds / BucketBaseSeconds) * DurationBucketsPerDoubling);
    return 1 + static_cast<std::size_t>(std::min(steps, static_cast<double>(DurationBucketCount - 2)));
}

// The longest duration bucket `index` holds (the last one has none).
double upperEdge(std::size_t index) {
    return BucketBaseSeconds * std::exp2(static_cast<double>(index) / DurationBucketsPerDoubling);
}

}  // namespace

void recordDuration(DurationHistogram& histogram, double seconds) {
    const double kept = seconds > 0.0 ? seconds : 0.0;
    ++histogram.counts[bucketOf(kept)];
    ++histogram.samples;
    histogram.longest = std::max(histogram.longest, kept);
}

double durationPercentile(const DurationHistogram& histogram, double fraction) {
    if (histogram.samples == 0) return 0.0;
    const double clamped = std::clamp(fraction, 0.0, 1.0);
    const auto rank = std::max<std::uint64_t>(
        1, static_cast<std::uint64_t>(std::ceil(clamped * static_cast<double>(histogram.samples))));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < histogram.counts.size(); ++i) {
        seen += histogram.counts[i];
        if (seen >= rank) return i + 1 < histogram.counts.size() ? std::min(upperEdge(i), histogram.longest)
                                                                 : histogram.longest;
    }
    return histogram.longest;
}

void clearDurations(DurationHistogram& histogram) {
    histogram = DurationHistogram{};
}

}  // namespace brassmoor
