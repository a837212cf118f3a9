// The fixed-capacity peer table: a dense entry array behind a linear-probing index.
#include "net/peer_table.h"

#include <cstdio>
#include <cstdlib>

namespace brassmoor {

namespace {

constexpr std::uint32_t FibonacciMultiplier = 2654435769u;  // 2^32 divided by the golden ratio
constexpr unsigned IndexBits = 9;
static_assert((std::size_t{1} << IndexBits) == PeerTable::IndexSlots);

}  // namespace

std::size_t peerTableHomeSlot(std::uint32_t peerId) {
    return static_cast<std::size_t>((peerId * FibonacciMultiplier) >> (32 - IndexBits));
}

PeerTable::PeerTable() {
    index.fill(EmptySlot);
}

PeerTable::PeerTable(std::initializer_list<PeerEntry> initial) : PeerTable() {
    for (const PeerEntry& entry : initial) {
        insert_or_assign(entry.peerId, entry.state);
    }
}

void PeerTable::clear() {
    index.fill(EmptySlot);
    count = 0;
}

std::size_t PeerTable::slotFor(std::uint32_t peerId) const {
    // Never more than Capacity slots are taken out of IndexSlots, so an empty one ends every probe.
    std::size_t slot = peerTableHomeSlot(peerId);
    while (index[slot] != EmptySlot && entries[index[slot]].peerId != peerId) {
        slot = (slot + 1) & (IndexSlots - 1);
    }
    return slot;
}

bool PeerTable::insert_or_assign(std::uint32_t peerId, const PeerState& state) {
    const std::size_t slot = slotFor(peerId);
    if (index[slot] != EmptySlot) {
        entries[index[slot]].state = state;
        return true;
    }
    if (count == Capacity) {
        return false;
    }
    entries[count] = PeerEntry{peerId, state};
    index[slot] = static_cast<std::uint8_t>(count);
    ++count;
    return true;
}

const PeerEntry* PeerTable::find(std::uint32_t peerId) const {
    const std::size_t slot = slotFor(peerId);
    return index[slot] == EmptySlot ? end() : &entries[index[slot]];
}

const PeerState& PeerTable::at(std::uint32_t peerId) const {
    const PeerEntry* entry = find(peerId);
    if (entry == end()) {
        std::fprintf(stderr, "PeerTable::at: no entry for id %u\n", static_cast<unsigned>(peerId));
        std::abort();
    }
    return entry->state;
}

}  // namespace brassmoor
