// One receive drain: every datagram tested where it landed, the last accepted snapshot decoded once.
#include "net/snapshot_drain.h"

#include <algorithm>

namespace brassmoor {

namespace {

std::size_t otherBuffer(std::size_t buffer) {
    return buffer ^ 1u;
}

}  // namespace

std::span<std::uint8_t> receiveBuffer(SnapshotDrain& drain) {
    return drain.buffers[drain.receiving];
}

void takeReceived(SnapshotDrain& drain, std::size_t length) {
    const std::size_t kept = std::min(length, ReceiveBufferSize);
    SnapshotDatagram snapshot{};
    if (!decodeSnapshotDatagram(std::span<const std::uint8_t>(drain.buffers[drain.receiving].data(), kept),
                                snapshot)) {
        return;
    }
    // Snapshots are whole pictures, not updates: an earlier one in the same drain is simply
    // forgotten, its buffer taking the next datagram.
    drain.acceptedLength = kept;
    drain.receiving = otherBuffer(drain.receiving);
    drain.sawSnapshot = true;
}

void offerDatagram(SnapshotDrain& drain, std::span<const std::uint8_t> bytes) {
    const std::size_t length = std::min(bytes.size(), ReceiveBufferSize);
    std::copy_n(bytes.begin(), length, receiveBuffer(drain).begin());
    takeReceived(drain, length);
}

void finishDrain(SnapshotDrain& drain, PeerTable& table) {
    const std::array<std::uint8_t, ReceiveBufferSize>& accepted = drain.buffers[otherBuffer(drain.receiving)];
    SnapshotDatagram snapshot{};
    // Without a snapshot the last known players stay: silence from the server is not an empty world.
    if (drain.sawSnapshot &&
        decodeSnapshotDatagram(std::span<const std::uint8_t>(accepted.data(), drain.acceptedLength),
                               snapshot)) {
        table.clear();
        // At most MaxSnapshotEntries entries fit in the buffer, so every insert finds room.
        for (std::size_t i = 0; i < snapshot.usableEntryCount; ++i) {
            const SnapshotEntry entry = snapshotEntryAt(snapshot, i);
            if (entry.peerId != snapshot.selfId) {
                table.insert_or_assign(entry.peerId, entry.state);
            }
        }
    }
    drain.acceptedLength = 0;
    drain.sawSnapshot = false;
}

}  // namespace brassmoor
