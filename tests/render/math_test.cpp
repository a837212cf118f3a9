// Tests of the vector and matrix operations and of the camera matrices built from them.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "render/camera.h"
#include "render/math.h"

namespace brassmoor {
namespace {

void expectMatrix(const Mat4& actual, const std::array<float, 16>& expected) {
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(actual.m[i], expected[i]) << "index " << i;
    }
}

void expectNoNaN(const Mat4& actual) {
    for (int i = 0; i < 16; ++i) {
        EXPECT_TRUE(std::isfinite(actual.m[i])) << "index " << i;
    }
}

TEST(LookAt, StartViewLooksAlongPlusYWithPlusXRight) {
    const Mat4 view = lookAt({0.0f, 0.0f, 1.7f}, {0.0f, 1.0f, 1.7f}, {0.0f, 0.0f, 1.0f});
    expectMatrix(view, {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, -1.7f, 0, 1});
}

TEST(LookAt, EyeEqualToTargetGivesZerosAndOneCornerWithoutNaN) {
    const Mat4 view = lookAt({2.0f, 3.0f, 1.7f}, {2.0f, 3.0f, 1.7f}, {0.0f, 0.0f, 1.0f});
    expectNoNaN(view);
    expectMatrix(view, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
}

TEST(LookAt, LookingAlongUpKeepsOnlyTheDepthRow) {
    const Mat4 view = lookAt({0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 5.0f}, {0.0f, 0.0f, 1.0f});
    expectNoNaN(view);
    expectMatrix(view, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1});
}

TEST(Perspective, DepthTermsAreEvaluatedInSinglePrecision) {
    const Mat4 p = perspective(1.2f, 1280.0f / 720.0f, 0.05f, 500.0f);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(p.m[10]), 0xbf80068du);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(p.m[14]), 0xbdccd20bu);
    EXPECT_EQ(p.m[11], -1.0f);
    EXPECT_NEAR(p.m[5], 1.461696f, 1e-5f);
    EXPECT_NEAR(p.m[0], 0.822204f, 1e-5f);
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13, 15}) {
        EXPECT_EQ(p.m[i], 0.0f) << "index " << i;
    }
}

TEST(Multiply, IdentityOnEitherSideLeavesTheMatrix) {
    const Mat4 m{{1.5f, -2, 3, 0.25f, 5, 6, -7, 8, 9, 10, 11.5f, -12, 13, 14, 15, 16}};
    expectMatrix(multiply(identity(), m), m.m);
    expectMatrix(multiply(m, identity()), m.m);
}

TEST(Multiply, RightOperandIsAppliedFirst) {
    const float c = std::cos(1.57079637f);  // cosine of the float nearest pi/2, about -4.37e-8
    const Mat4 moved = multiply(translation(3.0f, 4.0f, 0.9f), rotationZ(1.57079637f));
    expectMatrix(moved, {c, 1, 0, 0, -1, c, 0, 0, 0, 0, 1, 0, 3, 4, 0.9f, 1});

    const Mat4 swapped = multiply(rotationZ(1.57079637f), translation(3.0f, 4.0f, 0.9f));
    EXPECT_NEAR(swapped.m[12], -4.0f, 1e-6f);
    EXPECT_NEAR(swapped.m[13], 3.0f, 1e-6f);
    EXPECT_EQ(swapped.m[14], 0.9f);
}

TEST(Multiply, RoundsEveryProductBeforeAddingItLeftToRight) {
    // (1 + 2^-12)^2 = 1 + 2^-11 + 2^-24 rounds to 1 + 2^-11, which the first product cancels exactly;
    // a fused multiply-add would keep the 2^-24.
    const float a = 1.0f + 0x1p-12f;
    const float cancel = -(1.0f + 0x1p-11f);
    ASSERT_NE(std::fma(a, a, cancel), 0.0f);

    Mat4 left{};
    Mat4 right{};
    left.m[0] = 1.0f;     // row 0, column 0
    left.m[4] = a;        // row 0, column 1
    right.m[0] = cancel;  // column 0, row 0
    right.m[1] = a;       // column 0, row 1
    Mat4 result = multiply(left, right);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(result.m[0]), 0x00000000u);

    // Left to right: (1e8 + 1) rounds back to 1e8, then -1e8 cancels it; cancelling the
    // large terms first would keep the 1.
    Mat4 order{};
    order.m[0] = 1e8f;
    order.m[4] = 1.0f;
    order.m[8] = -1e8f;
    Mat4 ones{};
    ones.m[0] = 1.0f;
    ones.m[1] = 1.0f;
    ones.m[2] = 1.0f;
    result = multiply(order, ones);
    EXPECT_EQ(result.m[0], 0.0f);
}

TEST(Normalize, DividesOnlyVectorsLongerThanTheThreshold) {
    const Vec3 atThreshold = normalize({1e-6f, 0.0f, 0.0f});
    EXPECT_EQ(std::bit_cast<std::uint32_t>(atThreshold.x), 0x358637bdu);
    EXPECT_EQ(atThreshold.y, 0.0f);

    const Vec3 twice = normalize({0.0f, 2e-6f, 0.0f});
    EXPECT_NEAR(twice.y, 1.0f, 1e-6f);
    EXPECT_EQ(twice.x, 0.0f);

    const Vec3 zero = normalize({0.0f, 0.0f, 0.0f});
    EXPECT_EQ(zero.x, 0.0f);
    EXPECT_EQ(zero.y, 0.0f);
    EXPECT_EQ(zero.z, 0.0f);

    const Vec3 notANumber = normalize({std::numeric_limits<float>::quiet_NaN(), 3.0f, 4.0f});
    EXPECT_TRUE(std::isnan(notANumber.x));
    EXPECT_EQ(notANumber.y, 3.0f);
    EXPECT_EQ(notANumber.z, 4.0f);

    const Vec3 ordinary = normalize({3.0f, 0.0f, 4.0f});
    EXPECT_FLOAT_EQ(ordinary.x, 0.6f);
    EXPECT_FLOAT_EQ(ordinary.z, 0.8f);
}

TEST(VectorOps, CrossFollowsTheRightHandRule) {
    const Vec3 z = cross({1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f});
    EXPECT_EQ(z.x, 0.0f);
    EXPECT_EQ(z.y, 0.0f);
    EXPECT_EQ(z.z, 1.0f);
    EXPECT_EQ(dot({1.0f, 2.0f, 3.0f}, {4.0f, -5.0f, 6.0f}), 12.0f);
    const Vec3 d = sub(add({1.0f, 2.0f, 3.0f}, {0.5f, 0.5f, 0.5f}), {1.0f, 1.0f, 1.0f});
    EXPECT_EQ(d.x, 0.5f);
    EXPECT_EQ(d.y, 1.5f);
    EXPECT_EQ(d.z, 2.5f);
}

TEST(RotationZ, TurnsPlusXTowardsPlusY) {
    expectMatrix(rotationZ(0.0f), identity().m);
    const Mat4 quarter = rotationZ(1.57079637f);
    // The image of (1, 0, 0) is the first column.
    EXPECT_NEAR(quarter.m[0], 0.0f, 1e-7f);
    EXPECT_EQ(quarter.m[1], 1.0f);
    EXPECT_EQ(quarter.m[4], -1.0f);
    EXPECT_EQ(quarter.m[10], 1.0f);
    EXPECT_EQ(quarter.m[15], 1.0f);
}

TEST(Camera, ProjectionTakesZeroHeightAsOneAndLeavesTheWidth) {
    const Mat4 flat = projectionForFramebuffer(800, 0);
    EXPECT_FLOAT_EQ(flat.m[0], 1.461696f / 800.0f);
    EXPECT_NEAR(flat.m[5], 1.461696f, 1e-5f);

    const Mat4 minimised = projectionForFramebuffer(0, 0);
    EXPECT_TRUE(std::isinf(minimised.m[0]));

    const Mat4 window = projectionForFramebuffer(1280, 720);
    EXPECT_NEAR(window.m[0], 0.822204f, 1e-5f);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(window.m[10]), 0xbf80068du);
}

TEST(Camera, EyeSitsAtEyeHeightAndPitchMovesOnlyTheTarget) {
    const PlayerPosition position{3.0f, -2.0f};
    const Vec3 look = normalize({0.6f, 0.0f, 0.8f});  // looking up and along +X
    const Mat4 view = viewFromEye(position, look);
    // The eye point maps to the origin of view space ...
    EXPECT_NEAR(view.m[0] * 3 + view.m[4] * -2 + view.m[8] * 1.7f + view.m[12], 0.0f, 1e-5f);
    EXPECT_NEAR(view.m[1] * 3 + view.m[5] * -2 + view.m[9] * 1.7f + view.m[13], 0.0f, 1e-5f);
    EXPECT_NEAR(view.m[2] * 3 + view.m[6] * -2 + view.m[10] * 1.7f + view.m[14], 0.0f, 1e-5f);
    // ... and the view looks down -Z along the look direction.
    EXPECT_NEAR(view.m[2], -0.6f, 1e-6f);
    EXPECT_NEAR(view.m[6], 0.0f, 1e-6f);
    EXPECT_NEAR(view.m[10], -0.8f, 1e-6f);

    const Vec3 start{std::cos(1.5708f), std::sin(1.5708f), 0.0f};
    const Mat4 startView = viewFromEye({0.0f, 0.0f}, start);
    EXPECT_NEAR(startView.m[0], 1.0f, 1e-6f);   // +X to the right
    EXPECT_NEAR(startView.m[6], -1.0f, 1e-6f);  // looks along +Y
    EXPECT_NEAR(startView.m[9], 1.0f, 1e-6f);   // +Z up
    EXPECT_NEAR(startView.m[13], -1.7f, 1e-6f);
}

TEST(AvatarModel, StandsOnTheGroundTurnedByYawWhateverTheReportedHeight) {
    const Mat4 low = avatarModelMatrix({4.0f, -6.0f, 0.0f, 0.0f});
    expectMatrix(low, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4, -6, 0.9f, 1});

    const Mat4 high = avatarModelMatrix({4.0f, -6.0f, 5.0f, 0.0f});
    expectMatrix(high, low.m);

    const Mat4 turned = avatarModelMatrix({1.0f, 2.0f, 3.0f, 1.57079637f});
    EXPECT_NEAR(turned.m[0], 0.0f, 1e-7f);  // local +X along world +Y
    EXPECT_EQ(turned.m[1], 1.0f);
    EXPECT_EQ(turned.m[14], 0.9f);
}

}  // namespace
}  // namespace brassmoor
