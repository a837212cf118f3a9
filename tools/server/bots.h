// Simulated players, so that one person alone on the server sees boxes walk about and turn.
//
// Each bot walks on the ground at the player's walking speed with a heading that changes smoothly:
// its turn rate drifts at random, and near the edge it turns back towards the centre, so it never
// leaves the square from -BotArenaHalfSize to +BotArenaHalfSize. The run is fixed by the seed.
#pragma once

#include <cstdint>
#include <vector>

#include "net/datagram.h"
#include "registry.h"

namespace brassmoor {

inline constexpr float BotWalkSpeed = 6.0f;       // world units per second, as a player walks
inline constexpr float BotEyeHeight = 1.7f;       // the z every client reports
inline constexpr float BotArenaHalfSize = 60.0f;  // bots stay within +-this on x and y
inline constexpr float BotMaxTurnRate = 1.5f;     // radians per second
inline constexpr float BotHomingRadius = 48.0f;   // beyond this distance from the centre, turn back

struct Bot {
    std::uint32_t id;
    float x;
    float y;
    float heading;         // radians in [-pi, pi], from +X towards +Y; also the yaw it shows
    float turnRate;        // radians per second, positive turns left
    float wantedTurnRate;  // what the turn rate is drifting towards
};

struct BotWorld {
    std::vector<Bot> bots;
    std::uint64_t randomState;
    float homingRadius = BotHomingRadius;  // beyond this distance from the centre, turn back
};

// `count` bots with ids from `ids`, placed and headed at random inside the inner part of an arena
// of the given half size (a smaller one keeps them close to a player standing at the centre).
BotWorld makeBots(std::uint32_t count, std::uint64_t seed, IdSource& ids,
                  float arenaHalfSize = BotArenaHalfSize);

// Moves every bot on by `dt` seconds (long steps are cut into short ones, so the path is the same
// shape whatever the tick rate).
void stepBots(BotWorld& world, double dt);

PeerState botState(const Bot& bot);

}  // namespace brassmoor
