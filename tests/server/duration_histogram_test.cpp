// Tests of the duration histogram behind the status line's tick times and the load generator's gaps.
#include <gtest/gtest.h>

#include "duration_histogram.h"

namespace brassmoor {
namespace {

TEST(DurationHistogram, NothingRecordedGivesZero) {
    const DurationHistogram histogram;
    EXPECT_EQ(durationPercentile(histogram, 0.5), 0.0);
    EXPECT_EQ(durationPercentile(histogram, 1.0), 0.0);
}

TEST(DurationHistogram, PercentilesAreWithinABucketOfTheNearestRank) {
    DurationHistogram histogram;
    // 1 ms to 100 ms in 1 ms steps: the median is 50 ms, the 99th percentile 99 ms.
    for (int ms = 100; ms >= 1; --ms)
        recordDuration(histogram, ms * 1e-3);
    EXPECT_EQ(histogram.samples, 100u);
    const double median = durationPercentile(histogram, 0.5);
    EXPECT_GE(median, 50e-3);
    EXPECT_LE(median, 50e-3 * 1.022);
    const double p99 = durationPercentile(histogram, 0.99);
    EXPECT_GE(p99, 99e-3);
    EXPECT_LE(p99, 99e-3 * 1.022);
    EXPECT_EQ(durationPercentile(histogram, 1.0), 100e-3);
}

TEST(DurationHistogram, APercentileNeverExceedsTheLongestSample) {
    DurationHistogram histogram;
    recordDuration(histogram, 0.0123);
    EXPECT_EQ(durationPercentile(histogram, 0.5), 0.0123);
    EXPECT_EQ(histogram.longest, 0.0123);
}

TEST(DurationHistogram, OneSlowSampleInAHundredShowsOnlyAtTheTop) {
    DurationHistogram histogram;
    for (int i = 0; i < 99; ++i)
        recordDuration(histogram, 2e-3);
    recordDuration(histogram, 0.8);
    EXPECT_LE(durationPercentile(histogram, 0.99), 2e-3 * 1.022);
    EXPECT_EQ(durationPercentile(histogram, 1.0), 0.8);
}

TEST(DurationHistogram, ExtremesLandInTheEndBuckets) {
    DurationHistogram histogram;
    recordDuration(histogram, -1.0);
    recordDuration(histogram, 1e-9);
    recordDuration(histogram, 1e7);
    EXPECT_EQ(histogram.samples, 3u);
    EXPECT_EQ(histogram.counts.front(), 2u);
    EXPECT_EQ(histogram.counts.back(), 1u);
    EXPECT_LE(durationPercentile(histogram, 0.5), 1e-6);
    EXPECT_EQ(durationPercentile(histogram, 1.0), 1e7);
}

TEST(DurationHistogram, ClearingStartsAfresh) {
    DurationHistogram histogram;
    recordDuration(histogram, 0.5);
    clearDurations(histogram);
    recordDuration(histogram, 0.001);
    EXPECT_EQ(histogram.samples, 1u);
    EXPECT_EQ(durationPercentile(histogram, 1.0), 0.001);
}

}  // namespace
}  // namespace brassmoor
