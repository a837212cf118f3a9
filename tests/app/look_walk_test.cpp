// Looking with the mouse and walking with the keys, stepped by hand.
#include <bit>
#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "app/look.h"
#include "app/walk.h"

namespace brassmoor {
namespace {

std::uint32_t bitsOf(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

LookState afterFirstEvent(double x, double y) {
    LookState look;
    applyCursorMotion(look, x, y);
    return look;
}

TEST(Look, StartsLookingAlongPlusY) {
    const LookState look;
    EXPECT_EQ(bitsOf(look.yaw), 0x3FC90FF9u);
    EXPECT_EQ(look.pitch, 0.0f);
    const Vec3 f = lookDirection(look);
    EXPECT_NEAR(f.x, 0.0f, 1e-5f);
    EXPECT_NEAR(f.y, 1.0f, 1e-6f);
    EXPECT_EQ(f.z, 0.0f);
}

TEST(Look, FirstEventOnlyRecordsThePosition) {
    const LookState look = afterFirstEvent(640.0, -300.0);
    EXPECT_EQ(bitsOf(look.yaw), bitsOf(InitialYaw));
    EXPECT_EQ(look.pitch, 0.0f);
    EXPECT_FALSE(look.firstCursorEvent);
    EXPECT_EQ(look.lastCursorX, 640.0);
    EXPECT_EQ(look.lastCursorY, -300.0);
}

TEST(Look, MotionRightLowersYawAndDownLowersPitch) {
    LookState look = afterFirstEvent(500.0, 400.0);
    applyCursorMotion(look, 600.0, 400.0);
    EXPECT_EQ(bitsOf(look.yaw), bitsOf(1.5708f - 100.0f * 0.0022f));
    EXPECT_NEAR(look.yaw, 1.5708f - 0.22f, 1e-6f);
    EXPECT_EQ(look.pitch, 0.0f);

    applyCursorMotion(look, 600.0, 410.0);
    EXPECT_NEAR(look.pitch, -0.022f, 1e-7f);
    EXPECT_EQ(look.lastCursorY, 410.0);
}

TEST(Look, PitchStopsAtTheLimitWithoutStoringTheOvershoot) {
    LookState look = afterFirstEvent(0.0, 0.0);
    applyCursorMotion(look, 0.0, 5000.0);  // far down
    EXPECT_EQ(bitsOf(look.pitch), 0xBFC66666u);
    applyCursorMotion(look, 0.0, 4990.0);  // a little up: turns at once
    EXPECT_GT(look.pitch, -1.55f);
    EXPECT_NEAR(look.pitch, -1.55f + 0.022f, 1e-6f);

    applyCursorMotion(look, 0.0, -9000.0);  // far up
    EXPECT_EQ(bitsOf(look.pitch), 0x3FC66666u);
}

TEST(Look, YawIsNeverWrapped) {
    LookState look = afterFirstEvent(0.0, 0.0);
    applyCursorMotion(look, -20000.0, 0.0);  // 44 radians to the left
    EXPECT_GT(look.yaw, 40.0f);
    const Vec3 f = lookDirection(look);
    EXPECT_NEAR(std::hypot(f.x, f.y), 1.0f, 1e-6f);
}

TEST(Walk, ForwardForOneSecondMovesSixAlongTheView) {
    PlayerPosition position;
    walkStep(position, lookDirection(LookState{}), 1.0f, WalkKeys{.forward = true});
    EXPECT_NEAR(position.x, 0.0f, 1e-4f);
    EXPECT_NEAR(position.y, 6.0f, 1e-5f);
}

TEST(Walk, RightMovesTowardsPlusXAtStart) {
    PlayerPosition position;
    walkStep(position, lookDirection(LookState{}), 0.5f, WalkKeys{.right = true});
    EXPECT_NEAR(position.x, 3.0f, 1e-5f);
    EXPECT_NEAR(position.y, 0.0f, 1e-4f);
}

TEST(Walk, OppositeKeysCancel) {
    const Vec3 f = lookDirection(LookState{.yaw = 0.7f, .pitch = 0.3f});
    PlayerPosition position{2.0f, -3.0f};
    walkStep(position, f, 0.25f, WalkKeys{.forward = true, .back = true, .right = true, .left = true});
    EXPECT_NEAR(position.x, 2.0f, 1e-6f);
    EXPECT_NEAR(position.y, -3.0f, 1e-6f);
}

TEST(Walk, DiagonalKeysAreNotNormalised) {
    PlayerPosition position;
    walkStep(position, lookDirection(LookState{.yaw = 0.4f}), 1.0f, WalkKeys{.forward = true, .right = true});
    EXPECT_NEAR(std::hypot(position.x, position.y), 8.485281f, 1e-4f);
}

TEST(Walk, SpeedDoesNotDependOnPitch) {
    PlayerPosition position;
    LookState look;
    look.pitch = -PitchLimit;
    walkStep(position, lookDirection(look), 1.0f, WalkKeys{.forward = true});
    EXPECT_NEAR(position.y, 6.0f, 1e-4f);
    EXPECT_NEAR(position.x, 0.0f, 1e-4f);
}

TEST(Walk, LongFrameIsOneLongStep) {
    PlayerPosition position;
    walkStep(position, lookDirection(LookState{}), 2.0f, WalkKeys{.forward = true});
    EXPECT_NEAR(position.y, 12.0f, 1e-5f);
}

TEST(Walk, StraightUpOrDownLeavesThePositionAlone) {
    // No horizontal component to walk along: nothing is divided by a zero length.
    PlayerPosition position{1.0f, 1.0f};
    walkStep(position, Vec3{0.0f, 0.0f, -1.0f}, 1.0f, WalkKeys{.forward = true, .right = true});
    EXPECT_EQ(position.x, 1.0f);
    EXPECT_EQ(position.y, 1.0f);
}

TEST(Walk, NoKeysNoMotion) {
    PlayerPosition position{4.0f, 5.0f};
    walkStep(position, lookDirection(LookState{}), 1.0f, WalkKeys{});
    EXPECT_EQ(position.x, 4.0f);
    EXPECT_EQ(position.y, 5.0f);
}

}  // namespace
}  // namespace brassmoor
