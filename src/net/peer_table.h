// The table of other players: at most one entry per peerId, never more than one snapshot can list.
//
// A fixed-capacity open-addressing hash table with its storage inline, so that filling, clearing
// and copying it never touch the heap. Entries are kept densely in the order they were first
// inserted; an index of 512 one-byte slots, more than twice the capacity, maps a hashed id to its
// entry, with linear probing. There is no erase: the drain replaces the whole content at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "net/datagram.h"

namespace brassmoor {

struct PeerEntry {
    std::uint32_t peerId;
    PeerState state;
};

class PeerTable {
public:
    // The most entries one received snapshot can deliver.
    static constexpr std::size_t Capacity = MaxSnapshotEntries;
    // Index slots: at most 40% of them are ever in use, so probe runs stay short.
    static constexpr std::size_t IndexSlots = 512;

    PeerTable();
    // Inserted in order, as insert_or_assign would: a repeated id keeps its later state.
    PeerTable(std::initializer_list<PeerEntry> entries);

    std::size_t size() const {
        return count;
    }
    bool empty() const {
        return count == 0;
    }
    void clear();

    // Sets the state of `peerId`, adding the entry if it is new. False, with the table
    // unchanged, only when the id is new and the table already holds Capacity entries.
    bool insert_or_assign(std::uint32_t peerId, const PeerState& state);

    // The entry for `peerId`, or end().
    const PeerEntry* find(std::uint32_t peerId) const;
    bool contains(std::uint32_t peerId) const {
        return find(peerId) != end();
    }
    // The state of an id that is in the table; asking for one that is not is a programming
    // error and aborts.
    const PeerState& at(std::uint32_t peerId) const;

    // Every entry once, in the order of first insertion since the last clear.
    const PeerEntry* begin() const {
        return entries.data();
    }
    const PeerEntry* end() const {
        return entries.data() + count;
    }

private:
    static constexpr std::uint8_t EmptySlot = 0xFF;
    static_assert(Capacity < EmptySlot, "entry numbers must fit the index's bytes");
    static_assert(IndexSlots >= 2 * Capacity && (IndexSlots & (IndexSlots - 1)) == 0);

    // The slot holding `peerId`'s entry number, or the empty slot where it would go.
    std::size_t slotFor(std::uint32_t peerId) const;

    std::array<PeerEntry, Capacity> entries;  // only the first `count` are meaningful
    std::array<std::uint8_t, IndexSlots> index;
    std::size_t count = 0;
};

// Where probing for `peerId` starts: the top bits of a multiplicative hash, which spreads the
// consecutive ids a server usually hands out. Exposed so tests can pick ids that collide.
std::size_t peerTableHomeSlot(std::uint32_t peerId);

}  // namespace brassmoor
