// Simulated players: a seeded random walk with smooth turns inside the arena.
#include "bots.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace brassmoor {

namespace {

constexpr float Pi = std::numbers::pi_v<float>;
// No single movement step is longer than this, so a slow tick rate cannot carry a bot through a turn.
constexpr double MaxSubstep = 0.02;
// How fast a bot's turn rate drifts towards its current whim, per second.
constexpr float TurnRateDrift = 2.0f;
// Chance per second that a bot picks a new whim.
constexpr float WhimChangesPerSecond = 0.7f;

// splitmix64: small, and the same sequence on every platform and standard library.
std::uint64_t nextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform in [0, 1).
float randomUnit(std::uint64_t& state) {
    return static_cast<float>(nextRandom(state) >> 40) * (1.0f / 16777216.0f);
}

float randomBetween(std::uint64_t& state, float low, float high) {
    return low + (high - low) * randomUnit(state);
}

float wrapAngle(float a) {
    while (a > Pi)
        a -= 2.0f * Pi;
    while (a < -Pi)
        a += 2.0f * Pi;
    return a;
}

void stepOne(Bot& bot, std::uint64_t& random, float homingRadius, float dt) {
    if (randomUnit(random) < WhimChangesPerSecond * dt) {
        // Mostly gentle curves, now and then a straight stretch.
        bot.wantedTurnRate = randomUnit(random) < 0.25f ? 0.0f : randomBetween(random, -1.0f, 1.0f);
    }

    const float distance = std::sqrt(bot.x * bot.x + bot.y * bot.y);
    float target = bot.wantedTurnRate;
    if (distance > homingRadius) {
        // Turn as hard as allowed towards the centre, easing off as the bot comes to face it. Starting
        // from a standstill turn while heading straight out, the bot still turns round within about
        // 9 units, well inside the arena's edge.
        const float towardsCentre = std::atan2(-bot.y, -bot.x);
        const float off = wrapAngle(towardsCentre - bot.heading);
        target = std::clamp(off * 4.0f, -BotMaxTurnRate, BotMaxTurnRate);
    }

    // The turn rate itself changes gradually, so the heading has no kinks.
    const float maxChange = TurnRateDrift * dt;
    bot.turnRate += std::clamp(target - bot.turnRate, -maxChange, maxChange);
    bot.turnRate = std::clamp(bot.turnRate, -BotMaxTurnRate, BotMaxTurnRate);

    bot.heading = wrapAngle(bot.heading + bot.turnRate * dt);
    bot.x += BotWalkSpeed * dt * std::cos(bot.heading);
    bot.y += BotWalkSpeed * dt * std::sin(bot.heading);
}

}  // namespace

BotWorld makeBots(std::uint32_t count, std::uint64_t seed, IdSource& ids, float arenaHalfSize) {
    // The same proportions as the full arena: start within two thirds, turn back beyond four fifths.
    const float spawnHalfSize = arenaHalfSize * (40.0f / BotArenaHalfSize);
    BotWorld world{{}, seed, arenaHalfSize * (BotHomingRadius / BotArenaHalfSize)};
    world.bots.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        Bot bot{};
        bot.id = takeId(ids);
        bot.x = randomBetween(world.randomState, -spawnHalfSize, spawnHalfSize);
        bot.y = randomBetween(world.randomState, -spawnHalfSize, spawnHalfSize);
        bot.heading = randomBetween(world.randomState, -Pi, Pi);
        bot.turnRate = 0.0f;
        bot.wantedTurnRate = 0.0f;
        world.bots.push_back(bot);
    }
    return world;
}

void stepBots(BotWorld& world, double dt) {
    if (!(dt > 0.0)) return;
    const int substeps = static_cast<int>(std::ceil(dt / MaxSubstep));
    const float h = static_cast<float>(dt / substeps);
    for (int s = 0; s < substeps; ++s) {
        for (Bot& bot : world.bots) {
            stepOne(bot, world.randomState, world.homingRadius, h);
        }
    }
}

PeerState botState(const Bot& bot) {
    return PeerState{bot.x, bot.y, BotEyeHeight, bot.heading};
}

}  // namespace brassmoor
