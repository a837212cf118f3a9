// The table of other players, and how one receive drain turns datagrams into it.
#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>

#include "net/datagram.h"

namespace brassmoor {

// Keyed by peerId; at most one entry per id, iteration order unspecified.
using PeerTable = std::unordered_map<std::uint32_t, PeerState>;

// One drain's working state. Each accepted snapshot replaces the scratch table
// wholesale, so only the last snapshot of a drain counts.
struct SnapshotDrain {
    PeerTable scratch;
    bool sawSnapshot = false;
};

// Tests one received datagram; an accepted snapshot becomes the scratch table,
// without the receiver's own id. Anything else is ignored.
void offerDatagram(SnapshotDrain& drain, std::span<const std::uint8_t> bytes);

// Replaces `table` with the scratch table if a snapshot was seen; otherwise leaves it alone.
void finishDrain(SnapshotDrain& drain, PeerTable& table);

}  // namespace brassmoor
