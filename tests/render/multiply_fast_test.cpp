// The fast matrix product against the plain one, bit for bit, over random and edge inputs.
#include "render/math.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

namespace brassmoor {
namespace {

constexpr int RandomPairs = 100000;

// Values where rounding, signed zeros and special values show.
const std::vector<float>& edgeValues() {
    static const std::vector<float> values = {
        0.0f,
        -0.0f,
        1.0f,
        -1.0f,
        0.5f,
        1.7f,
        0.9f,
        3.0f,
        std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity(),
        std::numeric_limits<float>::quiet_NaN(),
        -std::numeric_limits<float>::quiet_NaN(),
        std::bit_cast<float>(0x7fa00001u),  // a signalling NaN with a payload
        std::bit_cast<float>(0xffc12345u),  // a negative quiet NaN with a payload
        std::numeric_limits<float>::max(),
        -std::numeric_limits<float>::max(),
        std::numeric_limits<float>::min(),
        -std::numeric_limits<float>::min(),
        std::numeric_limits<float>::denorm_min(),
        -std::numeric_limits<float>::denorm_min(),
        1e-30f,
        -1e-30f,
        1e30f,
        -1e30f,
        1.0f + 0x1p-23f,
        1.0f - 0x1p-24f,
        -4.37113883e-08f,
    };
    return values;
}

// Which of the ways of drawing a value an element takes.
enum class Draw { AnyBits, Edge, Ordinary };

float drawValue(std::mt19937& random, Draw draw) {
    switch (draw) {
        case Draw::AnyBits:
            return std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        case Draw::Edge:
            return edgeValues()[random() % edgeValues().size()];
        case Draw::Ordinary:
            return std::uniform_real_distribution<float>(-100.0f, 100.0f)(random);
    }
    return 0.0f;
}

Mat4 drawMatrix(std::mt19937& random) {
    Mat4 m;
    for (float& value : m.m) {
        const std::uint32_t pick = random() % 8;
        const Draw draw = pick == 0 ? Draw::AnyBits : pick < 3 ? Draw::Edge : Draw::Ordinary;
        value = drawValue(random, draw);
    }
    return m;
}

// Every element must have the plain product's bits. The one allowance is a NaN's payload: when two
// NaNs meet, which one an addition or multiplication passes on depends on the order in which the
// compiler puts the operands of that commutative instruction, which neither the language nor
// IEEE 754 fixes, so a NaN matches any NaN. `nanResults` counts the NaN elements met.
testing::AssertionResult sameBits(const Mat4& a, const Mat4& b, int* nanResults = nullptr) {
    const Mat4 fast = multiply(a, b);
    const Mat4 plain = multiplyPlain(a, b);
    for (int i = 0; i < 16; ++i) {
        const std::uint32_t fastBits = std::bit_cast<std::uint32_t>(fast.m[i]);
        const std::uint32_t plainBits = std::bit_cast<std::uint32_t>(plain.m[i]);
        if (std::isnan(plain.m[i])) {
            if (nanResults != nullptr) {
                ++*nanResults;
            }
            if (std::isnan(fast.m[i])) {
                continue;
            }
        }
        if (fastBits != plainBits) {
            char message[64];
            std::snprintf(message, sizeof message, "element %d: fast %08x, plain %08x", i,
                          static_cast<unsigned>(fastBits), static_cast<unsigned>(plainBits));
            return testing::AssertionFailure() << message;
        }
    }
    return testing::AssertionSuccess();
}

TEST(FastMultiply, SameBitsAsThePlainProductForRandomAndEdgeInputs) {
    std::mt19937 random(20261208u);
    int nanResults = 0;
    for (int i = 0; i < RandomPairs; ++i) {
        const Mat4 a = drawMatrix(random);
        const Mat4 b = drawMatrix(random);
        ASSERT_TRUE(sameBits(a, b, &nanResults)) << "pair " << i;
    }
    EXPECT_GT(nanResults, 0) << "no NaN was produced: the edge cases were not reached";
}

TEST(FastMultiply, SameBitsForEveryPairOfEdgeValues) {
    // Each edge value meets each other one as a product and as a running sum.
    for (const float x : edgeValues()) {
        for (const float y : edgeValues()) {
            Mat4 a = identity();
            Mat4 b = identity();
            a.m[0] = x;
            a.m[4] = y;
            a.m[13] = -x;
            b.m[0] = y;
            b.m[1] = x;
            b.m[7] = -y;
            ASSERT_TRUE(sameBits(a, b)) << x << " and " << y;
            ASSERT_TRUE(sameBits(b, a)) << y << " and " << x;
        }
    }
}

TEST(FastMultiply, KeepsThePositiveZeroOfASumThatStartsFromZero) {
    // Every product is -0, so the sum is 0 + (-0) + ... = +0; skipping the start would give -0.
    Mat4 negativeZeros;
    negativeZeros.m.fill(-0.0f);
    const Mat4 ones = [] {
        Mat4 m;
        m.m.fill(1.0f);
        return m;
    }();
    const Mat4 product = multiply(negativeZeros, ones);
    for (const float value : product.m) {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(value), 0u);
    }
}

TEST(FastMultiply, TheModelMatricesOfBoxesMatchThePlainProduct) {
    std::mt19937 random(7u);
    std::uniform_real_distribution<float> place(-500.0f, 500.0f);
    std::uniform_real_distribution<float> angle(-10.0f, 10.0f);
    const Mat4 viewProjection = multiplyPlain(perspective(1.2f, 1280.0f / 720.0f, 0.05f, 500.0f),
                                              lookAt({1, 2, 1.7f}, {1.5f, 2.8f, 1.6f}, {0, 0, 1}));
    for (int i = 0; i < 10000; ++i) {
        const float x = place(random);
        const float y = place(random);
        const Mat4 move = translation(x, y, 0.9f);
        const Mat4 turn = rotationZ(angle(random));
        ASSERT_TRUE(sameBits(move, turn)) << x << ", " << y;
        ASSERT_TRUE(sameBits(viewProjection, multiplyPlain(move, turn))) << x << ", " << y;
    }
}

}  // namespace
}  // namespace brassmoor
