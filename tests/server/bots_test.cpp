// Tests of the simulated players: ids, determinism, speed, smooth turns and staying on the grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "bots.h"

namespace brassmoor {
namespace {

constexpr double TickSeconds = 1.0 / 30.0;

float headingChange(float from, float to) {
    float d = to - from;
    const float pi = std::numbers::pi_v<float>;
    while (d > pi)
        d -= 2.0f * pi;
    while (d < -pi)
        d += 2.0f * pi;
    return d;
}

TEST(BotCreation, TakesIdsFromTheSharedSource) {
    IdSource ids;
    ids.next = 10;
    const BotWorld world = makeBots(3, 1, ids);
    ASSERT_EQ(world.bots.size(), 3u);
    EXPECT_EQ(world.bots[0].id, 10u);
    EXPECT_EQ(world.bots[1].id, 11u);
    EXPECT_EQ(world.bots[2].id, 12u);
    EXPECT_EQ(ids.next, 13u);
}

TEST(BotCreation, NoBotsIsAnEmptyWorld) {
    IdSource ids;
    BotWorld world = makeBots(0, 1, ids);
    stepBots(world, 1.0);
    EXPECT_TRUE(world.bots.empty());
    EXPECT_EQ(ids.next, 1u);
}

TEST(BotCreation, StartSpreadOutInsideTheGrid) {
    IdSource ids;
    const BotWorld world = makeBots(20, 1, ids);
    for (const Bot& bot : world.bots) {
        EXPECT_LE(std::fabs(bot.x), 40.0f);
        EXPECT_LE(std::fabs(bot.y), 40.0f);
    }
    EXPECT_NE(world.bots[0].x, world.bots[1].x);
}

TEST(BotState, StandsAtEyeHeightFacingItsHeading) {
    const Bot bot{4, 3.0f, -2.0f, 0.75f, 0.0f, 0.0f};
    const PeerState state = botState(bot);
    EXPECT_EQ(state.x, 3.0f);
    EXPECT_EQ(state.y, -2.0f);
    EXPECT_EQ(state.z, 1.7f);
    EXPECT_EQ(state.yaw, 0.75f);
}

TEST(BotWalk, TheSameSeedWalksTheSamePath) {
    IdSource idsA;
    IdSource idsB;
    BotWorld a = makeBots(4, 77, idsA);
    BotWorld b = makeBots(4, 77, idsB);
    for (int i = 0; i < 600; ++i) {
        stepBots(a, TickSeconds);
        stepBots(b, TickSeconds);
    }
    for (std::size_t i = 0; i < a.bots.size(); ++i) {
        EXPECT_EQ(a.bots[i].x, b.bots[i].x);
        EXPECT_EQ(a.bots[i].y, b.bots[i].y);
        EXPECT_EQ(a.bots[i].heading, b.bots[i].heading);
    }
}

TEST(BotWalk, AnotherSeedWalksAnotherPath) {
    IdSource idsA;
    IdSource idsB;
    const BotWorld a = makeBots(1, 1, idsA);
    const BotWorld b = makeBots(1, 2, idsB);
    EXPECT_NE(a.bots[0].x, b.bots[0].x);
}

TEST(BotWalk, ANonPositiveStepChangesNothing) {
    IdSource ids;
    BotWorld world = makeBots(1, 3, ids);
    const Bot before = world.bots[0];
    stepBots(world, 0.0);
    stepBots(world, -1.0);
    EXPECT_EQ(world.bots[0].x, before.x);
    EXPECT_EQ(world.bots[0].y, before.y);
    EXPECT_EQ(world.bots[0].heading, before.heading);
}

TEST(BotWalk, CoversSixUnitsPerSecond) {
    IdSource ids;
    BotWorld world = makeBots(10, 9, ids);
    for (int tick = 0; tick < 3000; ++tick) {
        const std::vector<Bot> before = world.bots;
        stepBots(world, TickSeconds);
        for (std::size_t i = 0; i < before.size(); ++i) {
            const float dx = world.bots[i].x - before[i].x;
            const float dy = world.bots[i].y - before[i].y;
            const double moved = std::sqrt(double{dx} * dx + double{dy} * dy);
            // A curved path's chord is a hair shorter than the 0.2 units walked along it.
            ASSERT_NEAR(moved, 0.2, 0.002) << "bot " << i << " at tick " << tick;
        }
    }
}

TEST(BotWalk, ALongStepGoesAsFarAsManyShortOnes) {
    IdSource ids;
    BotWorld world = makeBots(1, 4, ids);
    // Heading straight for the centre from nearby, so no turn back interferes.
    world.bots[0] = Bot{1, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    stepBots(world, 0.5);
    const double moved = std::hypot(double{world.bots[0].x}, double{world.bots[0].y});
    EXPECT_GT(moved, 2.9);
    EXPECT_LE(moved, 3.0001);
}

TEST(BotWalk, TurnsSmoothlyAndDoesTurn) {
    IdSource ids;
    BotWorld world = makeBots(10, 11, ids);
    float largestTurn = 0.0f;
    float totalTurn = 0.0f;
    for (int tick = 0; tick < 9000; ++tick) {
        const std::vector<Bot> before = world.bots;
        stepBots(world, TickSeconds);
        for (std::size_t i = 0; i < before.size(); ++i) {
            const float turn = std::fabs(headingChange(before[i].heading, world.bots[i].heading));
            largestTurn = std::max(largestTurn, turn);
            totalTurn += turn;
        }
    }
    // Never a jump: at most the top turn rate for one tick.
    EXPECT_LE(largestTurn, BotMaxTurnRate * static_cast<float>(TickSeconds) + 1e-4f);
    // Five minutes of ten bots walking: they turn a good deal, not just walk straight lines.
    EXPECT_GT(totalTurn, 100.0f);
}

TEST(BotWalk, StaysOnTheGridOverAnHour) {
    for (std::uint64_t seed : {1u, 2u, 3u}) {
        IdSource ids;
        BotWorld world = makeBots(40, seed, ids);
        float farthest = 0.0f;
        float minX = 0.0f, maxX = 0.0f, minY = 0.0f, maxY = 0.0f;
        for (int tick = 0; tick < 30 * 3600; ++tick) {
            stepBots(world, TickSeconds);
            for (const Bot& bot : world.bots) {
                farthest = std::max({farthest, std::fabs(bot.x), std::fabs(bot.y)});
                minX = std::min(minX, bot.x);
                maxX = std::max(maxX, bot.x);
                minY = std::min(minY, bot.y);
                maxY = std::max(maxY, bot.y);
            }
        }
        EXPECT_LE(farthest, BotArenaHalfSize) << "seed " << seed;
        // And they do roam: each side of the grid is reached well beyond the starting square.
        EXPECT_LT(minX, -45.0f);
        EXPECT_GT(maxX, 45.0f);
        EXPECT_LT(minY, -45.0f);
        EXPECT_GT(maxY, 45.0f);
    }
}

TEST(BotWalk, StaysOnTheGridEvenWithSlowTicks) {
    IdSource ids;
    BotWorld world = makeBots(40, 5, ids);
    float farthest = 0.0f;
    for (int tick = 0; tick < 2000; ++tick) {
        stepBots(world, 2.0);
        for (const Bot& bot : world.bots)
            farthest = std::max({farthest, std::fabs(bot.x), std::fabs(bot.y)});
    }
    EXPECT_LE(farthest, BotArenaHalfSize);
}

TEST(BotWalk, ASmallArenaKeepsThemClose) {
    IdSource ids;
    BotWorld world = makeBots(12, 9, ids, 12.0f);
    float farthest = 0.0f;
    for (const Bot& bot : world.bots)
        farthest = std::max({farthest, std::fabs(bot.x), std::fabs(bot.y)});
    EXPECT_LE(farthest, 8.0f);
    for (int tick = 0; tick < 30 * 600; ++tick) {
        stepBots(world, TickSeconds);
        for (const Bot& bot : world.bots)
            farthest = std::max(farthest, std::hypot(bot.x, bot.y));
    }
    // They turn back beyond 9.6 units; turning round takes them up to about nine units further.
    EXPECT_GT(farthest, 9.6f);
    EXPECT_LE(farthest, 20.0f);
}

}  // namespace
}  // namespace brassmoor
