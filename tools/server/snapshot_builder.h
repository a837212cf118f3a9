// Chooses what each client's snapshot lists and writes it out.
//
// A snapshot lists every player the server knows, bots included, except the receiver itself: selfId
// carries the receiver's id, and its own entry is never listed, so a damaged selfId or entry id
// cannot make the client count itself. A client reads at most MaxSnapshotEntries entries, so when
// there are more other players those farthest from the receiver are left out.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "bots.h"
#include "net/datagram.h"
#include "player_grid.h"
#include "registry.h"

namespace brassmoor {

// How far a player at (x, y) is from the receiver at the centre, as the snapshot's choice orders
// them: the squared ground distance in single precision. Poses are relayed as received, so a
// coordinate may be NaN or infinite; a NaN result counts as the farthest of all, which also keeps
// the order a strict weak one.
inline float snapshotDistanceSquared(float x, float y, float centreX, float centreY) {
    const float dx = x - centreX;
    const float dy = y - centreY;
    const float d = dx * dx + dy * dy;
    return std::isnan(d) ? std::numeric_limits<float>::infinity() : d;
}

// Every known player, clients and bots, in ascending id order.
void gatherPlayers(const ClientRegistry& registry, const BotWorld& bots, std::vector<SnapshotEntry>& players);

// The entries of the snapshot for `receiverId`: every player but the receiver, in ascending id order,
// at most `maxEntries` of them (the nearest to the receiver by snapshotDistanceSquared, ties going to
// the lower id). `players` must be in ascending id order. When the receiver is not among them,
// distances are measured from the origin. It looks at every player for every receiver; the server
// ticks with the grid (player_grid.h), and this stays as the plain statement of the choice the
// grid must make.
void selectSnapshotEntries(std::span<const SnapshotEntry> players, std::uint32_t receiverId,
                           std::vector<SnapshotEntry>& chosen, std::size_t maxEntries = MaxSnapshotEntries);

// Selects and encodes the snapshot for `receiverId` into `out` (ReceiveBufferSize bytes is enough);
// returns the bytes written. `scratch` is reused between calls to spare allocations.
std::size_t buildSnapshotFor(std::span<const SnapshotEntry> players, std::uint32_t receiverId,
                             std::vector<SnapshotEntry>& scratch, std::span<std::uint8_t> out);

// What a tick keeps from one call to the next, so that it allocates nothing once warmed up.
struct SnapshotWork {
    std::vector<SnapshotEntry> players;  // every player this tick, in id order
    PlayerGrid grid;
    NearestScratch nearest;
    std::vector<SnapshotEntry> chosen;
    // A snapshot listing every player: each receiver's entries are copied from it. Empty when there
    // are more players than one snapshot can count, and entries are then written one by one.
    std::vector<std::uint8_t> everyEntry;
};

// The start of a tick: every player gathered, the grid laid over them, their entries written.
void prepareSnapshots(const ClientRegistry& registry, const BotWorld& bots, SnapshotWork& work);

// The snapshot for one receiver this tick, at most `maxEntries` entries, written into `out`
// (ReceiveBufferSize bytes is enough); returns the bytes written.
std::size_t writeSnapshotFor(SnapshotWork& work, std::uint32_t receiverId, std::size_t maxEntries,
                             std::span<std::uint8_t> out);

}  // namespace brassmoor
