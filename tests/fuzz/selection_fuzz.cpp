// Fuzz target: each client's snapshot chosen through the grid against the plain selection that
// looks at every player, on worlds the input lays out.
//
// An input starts with three set-up bytes: the cap on entries (modulo 206: 0 to 205, so that 204
// and beyond are met), the players per cell of a second, finer or coarser grid (0.25, 1, 8 or 64)
// and how many bots walk about (modulo 8). Then each player, a client, in turn:
//
//   below 0x80   one byte t: a point of a small lattice, x = t mod 12 - 6, y = t / 12 - 5, so that
//                many players stand at equal distances or on the same spot
//   0x80 and up  followed by x and y as raw little-endian binary32 (any bits: NaN, infinities,
//                denormals, the largest floats)
//
// For every client (the first 24, and the last) and the cap, the tick's snapshot must be the plain
// selection's byte for byte, and the second grid must choose the same players in the same order.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "bots.h"
#include "net/datagram.h"
#include "player_grid.h"
#include "registry.h"
#include "snapshot_builder.h"

namespace {

using brassmoor::SnapshotEntry;

constexpr std::size_t MostPlayers = 800;
constexpr std::size_t ReceiversChecked = 24;

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "selection fuzz: %s\n", what);
        std::abort();
    }
}

float readFloat(std::span<const std::uint8_t> bytes, std::size_t at) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(at + i < bytes.size() ? bytes[at + i] : 0) << (8 * i);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (bytes.size() < 3) return 0;
    const std::size_t cap = bytes[0] % 206;
    constexpr double Densities[] = {0.25, 1.0, 8.0, 64.0};
    const double playersPerCell = Densities[bytes[1] % 4];

    brassmoor::IdSource ids;
    const brassmoor::BotWorld bots = brassmoor::makeBots(bytes[2] % 8, 7, ids);
    brassmoor::ClientRegistry registry;
    registry.maxClients = MostPlayers;
    brassmoor::TrafficCounters counters;
    for (std::size_t at = 3; at < bytes.size() && registry.clients.size() < MostPlayers;) {
        float x = 0.0f;
        float y = 0.0f;
        if (bytes[at] < 0x80) {
            x = static_cast<float>(bytes[at] % 12) - 6.0f;
            y = static_cast<float>(bytes[at] / 12) - 5.0f;
            at += 1;
        } else {
            x = readFloat(bytes, at + 1);
            y = readFloat(bytes, at + 5);
            at += 9;
        }
        const auto pose = brassmoor::encodePoseDatagram(brassmoor::PoseDatagram{x, y, 1.7f, 0.0f, 0.0f});
        const std::uint32_t n = static_cast<std::uint32_t>(registry.clients.size());
        acceptDatagram(registry, ids, counters, brassmoor::ClientAddress{0x0A000000u + n, 40000}, pose, 0.0);
    }

    brassmoor::SnapshotWork work;
    prepareSnapshots(registry, bots, work);
    brassmoor::PlayerGrid other;
    buildPlayerGrid(work.players, other, playersPerCell);
    brassmoor::NearestScratch scratch;
    std::vector<SnapshotEntry> expected;
    std::vector<SnapshotEntry> chosen;
    std::array<std::uint8_t, brassmoor::ReceiveBufferSize> expectedBytes{};
    std::array<std::uint8_t, brassmoor::ReceiveBufferSize> actualBytes{};
    const std::size_t clients = registry.clients.size();
    for (std::size_t i = 0; i < clients; ++i) {
        if (i >= ReceiversChecked && i + 1 != clients) continue;
        const std::uint32_t receiver = registry.clients[i].id;
        // The cap never goes past what one snapshot can hold.
        const std::size_t entries = std::min(cap, brassmoor::MaxSnapshotEntries);
        selectSnapshotEntries(work.players, receiver, expected, entries);
        const std::size_t expectedSize = encodeSnapshotDatagram(receiver, expected, expectedBytes);
        const std::size_t actualSize = writeSnapshotFor(work, receiver, entries, actualBytes);
        require(actualSize == expectedSize &&
                    std::equal(actualBytes.begin(), actualBytes.begin() + static_cast<std::ptrdiff_t>(actualSize),
                               expectedBytes.begin()),
                "the tick's snapshot differs from the plain selection's");
        if (cap != entries) selectSnapshotEntries(work.players, receiver, expected, cap);
        selectNearestEntries(other, work.players, receiver, cap, scratch, chosen);
        require(chosen.size() == expected.size(), "the second grid chose a different number of players");
        for (std::size_t k = 0; k < chosen.size(); ++k) {
            require(chosen[k].peerId == expected[k].peerId, "the second grid chose other players");
        }
    }
    return 0;
}
