// When each listed game is asked again. Every game has a phase of its own within the --recheck
// interval, drawn from its address, so that 10 000 games are asked evenly across the interval rather
// than at once; the checker wakes at a steady pace and asks those whose time fell since it last looked,
// never waking per game. The phase is taken on the wall clock, so that every list instance sharing one
// store agrees on when a game is due and the first to claim it (for half an interval) checks it alone.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace brassmoor {

// Where in [0, interval) the game's rechecks fall.
double recheckPhase(std::uint32_t address, double interval);

// Adds to `due` every address with a recheck time in (previous, now]. A clock that went back, or
// jumped ahead by more than an interval, asks nobody: the next call starts afresh from `now`.
void dueRechecks(std::span<const std::uint32_t> addresses, double interval, double previous, double now,
                 std::vector<std::uint32_t>& due);

// How long a claimed recheck stays claimed: half the interval, long enough for every instance's
// clock to agree within it and gone well before the game's next recheck time.
int recheckClaimMilliseconds(int intervalSeconds);

}  // namespace brassmoor
