// The relay's one source of random choices: xoshiro256** seeded through splitmix64.
#include "random_source.h"

namespace brassmoor {

namespace {

std::uint64_t splitmix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t rotateLeft(std::uint64_t x, int bits) {
    return (x << bits) | (x >> (64 - bits));
}

}  // namespace

RandomSource seedRandomSource(std::uint64_t seed) {
    // splitmix64 spreads any seed, 0 included, over the whole state; it never gives four zeros.
    RandomSource random{};
    for (std::uint64_t& word : random.state)
        word = splitmix64(seed);
    return random;
}

std::uint64_t nextRandomBits(RandomSource& random) {
    std::uint64_t* s = random.state;
    const std::uint64_t result = rotateLeft(s[1] * 5, 7) * 9;
    const std::uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotateLeft(s[3], 45);
    return result;
}

double randomUnit(RandomSource& random) {
    return static_cast<double>(nextRandomBits(random) >> 11) * 0x1.0p-53;
}

std::uint64_t randomBelow(RandomSource& random, std::uint64_t bound) {
    // 2^64 mod bound: the lowest draws that would make some values one more likely than others.
    const std::uint64_t threshold = (0 - bound) % bound;
    for (;;) {
        const std::uint64_t bits = nextRandomBits(random);
        if (bits >= threshold) return bits % bound;
    }
}

bool randomChance(RandomSource& random, double fraction) {
    if (fraction <= 0.0) return false;
    if (fraction >= 1.0) return true;
    return randomUnit(random) < fraction;
}

}  // namespace brassmoor
