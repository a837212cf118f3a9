// What the relay does to one datagram on its way, drawn from the one RandomSource.
#include "impairment.h"

#include <algorithm>

namespace brassmoor {

DatagramFate impairDatagram(const Impairment& impairment, std::span<std::uint8_t> bytes,
                            RandomSource& random) {
    DatagramFate fate;
    fate.length = bytes.size();
    fate.lost = randomChance(random, impairment.loss);
    if (fate.lost) return fate;

    if (fate.length > 0 && randomChance(random, impairment.truncate)) {
        fate.truncated = true;
        fate.length = truncatedLength(fate.length, random);
    }
    if (fate.length > 0 && randomChance(random, impairment.corrupt)) {
        fate.corrupted = true;
        corruptBytes(bytes.first(fate.length), random);
    }
    fate.duplicated = randomChance(random, impairment.duplicate);
    fate.reordered = randomChance(random, impairment.reorder);
    fate.delaySeconds = drawDelaySeconds(impairment.delayMs, impairment.jitterMs, random);
    if (fate.duplicated)
        fate.copyDelaySeconds = drawDelaySeconds(impairment.delayMs, impairment.jitterMs, random);
    return fate;
}

std::size_t truncatedLength(std::size_t length, RandomSource& random) {
    return static_cast<std::size_t>(randomBelow(random, length));
}

void corruptBytes(std::span<std::uint8_t> bytes, RandomSource& random) {
    if (bytes.empty()) return;
    const std::size_t most = std::min(MaxCorruptedBytes, bytes.size());
    const std::size_t count = 1 + static_cast<std::size_t>(randomBelow(random, most));
    // Distinct places, so that a second change never undoes the first.
    std::size_t places[MaxCorruptedBytes];
    for (std::size_t chosen = 0; chosen < count;) {
        const std::size_t place = static_cast<std::size_t>(randomBelow(random, bytes.size()));
        if (std::find(places, places + chosen, place) != places + chosen) continue;
        places[chosen++] = place;
        // XOR with 1 to 255: always another value.
        bytes[place] = static_cast<std::uint8_t>(bytes[place] ^ (1 + randomBelow(random, 255)));
    }
}

double drawDelaySeconds(double delayMs, double jitterMs, RandomSource& random) {
    double ms = delayMs;
    if (jitterMs > 0.0) ms += jitterMs * (2.0 * randomUnit(random) - 1.0);
    return std::max(0.0, ms) / 1000.0;
}

}  // namespace brassmoor
