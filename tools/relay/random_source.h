// The relay's one source of random choices: xoshiro256** seeded through splitmix64, so that a seed
// gives the same run on every platform, compiler and standard library.
#pragma once

#include <cstdint>

namespace brassmoor {

struct RandomSource {
    std::uint64_t state[4];
};

RandomSource seedRandomSource(std::uint64_t seed);

// The next 64 random bits.
std::uint64_t nextRandomBits(RandomSource& random);

// Uniform in [0, 1), from the top 53 bits of one draw.
double randomUnit(RandomSource& random);

// Uniform in [0, bound); `bound` must be above 0. Unbiased: draws again in the rare case that would
// favour the low values.
std::uint64_t randomBelow(RandomSource& random, std::uint64_t bound);

// True with probability `fraction`. A certain answer (0 or less, 1 or more) draws nothing.
bool randomChance(RandomSource& random, double fraction);

}  // namespace brassmoor
