// One frame's receive drain: which received datagram becomes the peer table.
//
// Only the last accepted snapshot of a drain counts, so nothing is decoded while datagrams are
// coming in. Each one is received straight into one of two buffers and tested for acceptance
// there; an accepted snapshot keeps its buffer and the other one takes the next datagram, so the
// roles swap and nothing is copied. When the drain ends, the last accepted snapshot alone is
// decoded into the table, without the receiver's own id, a repeated id keeping its later pose.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "net/datagram.h"
#include "net/peer_table.h"

namespace brassmoor {

struct SnapshotDrain {
    // Left uninitialised on purpose: a drain runs every frame and fills only what it receives.
    std::array<std::array<std::uint8_t, ReceiveBufferSize>, 2> buffers;
    std::size_t receiving = 0;       // the buffer the next datagram goes into
    std::size_t acceptedLength = 0;  // the last accepted snapshot's length, in the other buffer
    bool sawSnapshot = false;
};

// Where the next datagram is to be received: ReceiveBufferSize bytes.
std::span<std::uint8_t> receiveBuffer(SnapshotDrain& drain);

// Tests the `length` bytes just received into receiveBuffer(); an accepted snapshot is kept as
// the drain's latest, anything else is ignored.
void takeReceived(SnapshotDrain& drain, std::size_t length);

// The same for bytes received elsewhere: they are copied in first, cut to ReceiveBufferSize as a
// receive would cut them.
void offerDatagram(SnapshotDrain& drain, std::span<const std::uint8_t> bytes);

// Replaces `table` with the last accepted snapshot's players if a snapshot was seen; otherwise
// leaves it alone. The drain is then ready for the next frame.
void finishDrain(SnapshotDrain& drain, PeerTable& table);

}  // namespace brassmoor
