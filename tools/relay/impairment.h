// What the relay does to one datagram on its way: lose it, cut it short, damage it, send it twice,
// hold it back behind the next one, delay it. Every choice comes from the one RandomSource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "random_source.h"

namespace brassmoor {

// The impairment of one direction. Fractions are of the datagrams that arrive, from 0 to 1.
struct Impairment {
    double loss = 0.0;       // never sent on
    double duplicate = 0.0;  // sent twice, each copy with its own delay
    double reorder = 0.0;    // held back until the next datagram of the same client and direction
    double truncate = 0.0;   // cut to a random shorter length, 0 included
    double corrupt = 0.0;    // a few bytes changed, the length kept
    double delayMs = 0.0;    // milliseconds each datagram is held
    double jitterMs = 0.0;   // the delay varies by up to this much either way, never below 0 in all
};

// The most bytes a corrupted datagram has changed.
inline constexpr std::size_t MaxCorruptedBytes = 4;

struct DatagramFate {
    bool lost = false;
    bool truncated = false;
    bool corrupted = false;
    bool duplicated = false;
    bool reordered = false;
    std::size_t length = 0;         // the bytes that go on: shorter than before when truncated
    double delaySeconds = 0.0;      // the datagram's own delay
    double copyDelaySeconds = 0.0;  // the duplicate's, when there is one
};

// Decides the fate of `bytes` and applies the damage to them in place (corruption to the first
// `length` bytes). The draws come in a fixed order: loss (a lost datagram draws nothing more),
// truncation, corruption, duplication, reordering, the delay, the copy's delay.
DatagramFate impairDatagram(const Impairment& impairment, std::span<std::uint8_t> bytes,
                            RandomSource& random);

// A length from 0 to `length` - 1; `length` must be above 0.
std::size_t truncatedLength(std::size_t length, RandomSource& random);

// Changes 1 to MaxCorruptedBytes bytes (never more than there are) at distinct places, each to
// another value; an empty span is left alone.
void corruptBytes(std::span<std::uint8_t> bytes, RandomSource& random);

// delay +- uniform jitter, in seconds, never below 0. Without jitter it draws nothing.
double drawDelaySeconds(double delayMs, double jitterMs, RandomSource& random);

}  // namespace brassmoor
