// Tests of the impairment decisions: repeatable by seed, certain at 0 and 1, at the right rates,
// and damage that keeps its promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "impairment.h"

namespace brassmoor {
namespace {

std::vector<std::uint8_t> countingBytes(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{1});
    return bytes;
}

Impairment everything(double fraction) {
    return Impairment{fraction, fraction, fraction, fraction, fraction, 100.0, 50.0};
}

bool sameFate(const DatagramFate& a, const DatagramFate& b) {
    return a.lost == b.lost && a.truncated == b.truncated && a.corrupted == b.corrupted &&
           a.duplicated == b.duplicated && a.reordered == b.reordered && a.length == b.length &&
           a.delaySeconds == b.delaySeconds && a.copyDelaySeconds == b.copyDelaySeconds;
}

TEST(ImpairmentDecisions, TheSameSeedMakesTheSameDecisionsAndDamage) {
    RandomSource a = seedRandomSource(42);
    RandomSource b = seedRandomSource(42);
    RandomSource other = seedRandomSource(43);
    int differences = 0;
    for (int i = 0; i < 2000; ++i) {
        std::vector<std::uint8_t> bytesA = countingBytes(25);
        std::vector<std::uint8_t> bytesB = countingBytes(25);
        std::vector<std::uint8_t> bytesOther = countingBytes(25);
        const DatagramFate fateA = impairDatagram(everything(0.3), bytesA, a);
        const DatagramFate fateB = impairDatagram(everything(0.3), bytesB, b);
        ASSERT_TRUE(sameFate(fateA, fateB)) << "datagram " << i;
        ASSERT_EQ(bytesA, bytesB);
        if (!sameFate(fateA, impairDatagram(everything(0.3), bytesOther, other))) ++differences;
    }
    EXPECT_GT(differences, 1000);
}

TEST(ImpairmentDecisions, FractionZeroLeavesEveryDatagramAlone) {
    RandomSource random = seedRandomSource(1);
    const Impairment none{0.0, 0.0, 0.0, 0.0, 0.0, 30.0, 0.0};
    for (int i = 0; i < 1000; ++i) {
        std::vector<std::uint8_t> bytes = countingBytes(25);
        const DatagramFate fate = impairDatagram(none, bytes, random);
        ASSERT_FALSE(fate.lost || fate.truncated || fate.corrupted || fate.duplicated || fate.reordered);
        ASSERT_EQ(fate.length, 25u);
        ASSERT_EQ(fate.delaySeconds, 0.03);
        ASSERT_EQ(bytes, countingBytes(25));
    }
}

TEST(ImpairmentDecisions, FractionOneDoesItToEveryDatagram) {
    RandomSource random = seedRandomSource(2);
    for (int i = 0; i < 1000; ++i) {
        std::vector<std::uint8_t> bytes = countingBytes(25);
        ASSERT_TRUE(impairDatagram(Impairment{1.0}, bytes, random).lost);
        const DatagramFate fate = impairDatagram(Impairment{0.0, 1.0, 1.0, 1.0, 1.0}, bytes, random);
        ASSERT_FALSE(fate.lost);
        ASSERT_TRUE(fate.truncated && fate.duplicated && fate.reordered) << i;
        ASSERT_LT(fate.length, 25u);
        // Cut to nothing, there is nothing left to corrupt.
        ASSERT_EQ(fate.corrupted, fate.length > 0);
    }
}

TEST(ImpairmentDecisions, RatesComeOutRoughlyAsAsked) {
    RandomSource random = seedRandomSource(9);
    const Impairment asked{0.25, 0.25, 0.1, 0.02, 0.02, 0.0, 0.0};
    int lost = 0, duplicated = 0, reordered = 0, truncated = 0, corrupted = 0;
    const int count = 200000;
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint8_t> bytes = countingBytes(25);
        const DatagramFate fate = impairDatagram(asked, bytes, random);
        lost += fate.lost;
        duplicated += fate.duplicated;
        reordered += fate.reordered;
        truncated += fate.truncated;
        corrupted += fate.corrupted;
    }
    const double kept = count - lost;
    EXPECT_NEAR(lost / double{count}, 0.25, 0.01);
    // Only datagrams that are not lost can suffer anything else.
    EXPECT_NEAR(duplicated / kept, 0.25, 0.01);
    EXPECT_NEAR(reordered / kept, 0.1, 0.01);
    EXPECT_NEAR(truncated / kept, 0.02, 0.003);
    EXPECT_NEAR(corrupted / kept, 0.02 * (1.0 - 0.02 / 25.0), 0.003);
}

TEST(Truncation, AlwaysShorterAndReachesEveryShorterLength) {
    RandomSource random = seedRandomSource(4);
    for (std::size_t length : {std::size_t{1}, std::size_t{2}, std::size_t{25}, std::size_t{4091}}) {
        std::vector<bool> reached(length, false);
        for (int i = 0; i < 20000; ++i) {
            const std::size_t cut = truncatedLength(length, random);
            ASSERT_LT(cut, length);
            reached[cut] = true;
        }
        if (length <= 25) {
            EXPECT_TRUE(std::all_of(reached.begin(), reached.end(), [](bool r) { return r; })) << length;
        }
    }
}

TEST(Truncation, KeepsTheFrontOfTheDatagram) {
    RandomSource random = seedRandomSource(6);
    for (int i = 0; i < 200; ++i) {
        std::vector<std::uint8_t> bytes = countingBytes(40);
        const DatagramFate fate = impairDatagram(Impairment{0.0, 0.0, 0.0, 1.0}, bytes, random);
        ASSERT_LT(fate.length, 40u);
        ASSERT_EQ(bytes, countingBytes(40));
    }
}

TEST(Corruption, ChangesOneToFourBytesAndNeverTheLength) {
    RandomSource random = seedRandomSource(8);
    std::vector<int> changedCounts(MaxCorruptedBytes + 1, 0);
    for (std::size_t length : {std::size_t{1}, std::size_t{2}, std::size_t{25}, std::size_t{411}}) {
        for (int i = 0; i < 5000; ++i) {
            std::vector<std::uint8_t> bytes = countingBytes(length);
            corruptBytes(bytes, random);
            ASSERT_EQ(bytes.size(), length);
            const std::vector<std::uint8_t> original = countingBytes(length);
            std::size_t changed = 0;
            for (std::size_t b = 0; b < length; ++b)
                changed += bytes[b] != original[b];
            ASSERT_GE(changed, 1u) << "length " << length;
            ASSERT_LE(changed, std::min(length, MaxCorruptedBytes));
            ++changedCounts[changed];
        }
    }
    for (std::size_t n = 1; n <= MaxCorruptedBytes; ++n)
        EXPECT_GT(changedCounts[n], 500) << n << " bytes changed";
    std::vector<std::uint8_t> empty;
    corruptBytes(empty, random);
    EXPECT_TRUE(empty.empty());
}

TEST(Corruption, OnlyTheBytesKeptAfterTruncationAreTouched) {
    RandomSource random = seedRandomSource(10);
    for (int i = 0; i < 2000; ++i) {
        std::vector<std::uint8_t> bytes = countingBytes(30);
        const DatagramFate fate = impairDatagram(Impairment{0.0, 0.0, 0.0, 1.0, 1.0}, bytes, random);
        ASSERT_TRUE(std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(fate.length), bytes.end(),
                               countingBytes(30).begin() + static_cast<std::ptrdiff_t>(fate.length)));
    }
}

TEST(Delay, JitterSpreadsEvenlyAroundTheDelayAndNeverBelowZero) {
    RandomSource random = seedRandomSource(11);
    EXPECT_EQ(drawDelaySeconds(100.0, 0.0, random), 0.1);
    double lowest = 1.0, highest = 0.0, total = 0.0;
    const int count = 100000;
    for (int i = 0; i < count; ++i) {
        const double d = drawDelaySeconds(100.0, 50.0, random);
        lowest = std::min(lowest, d);
        highest = std::max(highest, d);
        total += d;
    }
    EXPECT_GE(lowest, 0.05);
    EXPECT_LT(lowest, 0.0505);
    EXPECT_LE(highest, 0.15);
    EXPECT_GT(highest, 0.1495);
    EXPECT_NEAR(total / count, 0.1, 0.001);

    int zeros = 0;
    for (int i = 0; i < 10000; ++i) {
        const double d = drawDelaySeconds(10.0, 30.0, random);
        ASSERT_GE(d, 0.0);
        zeros += d == 0.0;
    }
    // Anything from -20 to 0 ms becomes 0: a third of the draws.
    EXPECT_NEAR(zeros / 10000.0, 1.0 / 3.0, 0.03);
}

TEST(Delay, EachDuplicateDrawsItsOwnDelay) {
    RandomSource random = seedRandomSource(12);
    int differing = 0;
    for (int i = 0; i < 100; ++i) {
        std::vector<std::uint8_t> bytes = countingBytes(25);
        const DatagramFate fate =
            impairDatagram(Impairment{0.0, 1.0, 0.0, 0.0, 0.0, 100.0, 50.0}, bytes, random);
        ASSERT_TRUE(fate.duplicated);
        differing += fate.delaySeconds != fate.copyDelaySeconds;
    }
    EXPECT_GT(differing, 95);
}

}  // namespace
}  // namespace brassmoor
