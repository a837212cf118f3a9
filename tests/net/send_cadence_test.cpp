// The pose send gate driven by frame times.
#include "net/send_cadence.h"

#include <gtest/gtest.h>

#include <string>

namespace brassmoor {
namespace {

// One character per frame: 'x' where a pose is due, '-' where not.
std::string sendPattern(float dt, int frames) {
    double accumulator = 0.0;
    std::string pattern;
    for (int i = 0; i < frames; ++i) {
        pattern += takePoseSendTurn(accumulator, dt) ? 'x' : '-';
    }
    return pattern;
}

TEST(PoseSendCadence, SixtyFramesPerSecondSendsEverySecondFrame) {
    EXPECT_EQ(sendPattern(1.0f / 60.0f, 10), "-x-x-x-x-x");
}

TEST(PoseSendCadence, FramesJustUnderTheIntervalSendEverySecondFrame) {
    EXPECT_EQ(sendPattern(0.03f, 10), "-x-x-x-x-x");
}

TEST(PoseSendCadence, FramesOf0033AsFloatSendEverySecondFrame) {
    // 0.033f is a little below the double 0.033.
    EXPECT_EQ(sendPattern(0.033f, 10), "-x-x-x-x-x");
}

TEST(PoseSendCadence, ThirtyFramesPerSecondOrSlowerSendsEveryFrame) {
    EXPECT_EQ(sendPattern(1.0f / 30.0f, 5), "xxxxx");
    EXPECT_EQ(sendPattern(0.1f, 5), "xxxxx");
}

TEST(PoseSendCadence, HundredFortyFourFramesPerSecondSendsEveryFifthFrame) {
    EXPECT_EQ(sendPattern(1.0f / 144.0f, 15), "----x----x----x");
}

TEST(PoseSendCadence, LongFrameSendsOnceAndDropsTheExcess) {
    double accumulator = 0.0;
    EXPECT_TRUE(takePoseSendTurn(accumulator, 0.5f));
    EXPECT_EQ(accumulator, 0.0);
    EXPECT_FALSE(takePoseSendTurn(accumulator, 0.02f));
    EXPECT_EQ(accumulator, static_cast<double>(0.02f));
    EXPECT_TRUE(takePoseSendTurn(accumulator, 0.02f));
}

TEST(PoseSendCadence, AccumulatorIsExactlyZeroAfterASend) {
    double accumulator = 0.0;
    EXPECT_FALSE(takePoseSendTurn(accumulator, 1.0f / 60.0f));
    EXPECT_TRUE(takePoseSendTurn(accumulator, 1.0f / 60.0f));
    EXPECT_EQ(accumulator, 0.0);
}

TEST(PoseSendCadence, ExactlyTheIntervalIsEnough) {
    double accumulator = 0.033;
    EXPECT_TRUE(takePoseSendTurn(accumulator, 0.0f));
}

TEST(PoseSendCadence, NothingIsDueBeforeTheIntervalHasGathered) {
    double accumulator = 0.0;
    EXPECT_FALSE(takePoseSendTurn(accumulator, 0.0f));
    EXPECT_FALSE(takePoseSendTurn(accumulator, 0.032f));
    EXPECT_TRUE(takePoseSendTurn(accumulator, 0.001f));
}

}  // namespace
}  // namespace brassmoor
