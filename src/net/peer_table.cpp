// One receive drain: accepted snapshots replace a scratch table, which replaces the peer table at the end.
#include "net/peer_table.h"

namespace brassmoor {

void offerDatagram(SnapshotDrain& drain, std::span<const std::uint8_t> bytes) {
    SnapshotDatagram snapshot{};
    if (!decodeSnapshotDatagram(bytes, snapshot)) {
        return;
    }
    // Snapshots are whole pictures, not updates: an earlier one in the same drain is forgotten.
    drain.scratch.clear();
    for (std::size_t i = 0; i < snapshot.usableEntryCount; ++i) {
        const SnapshotEntry entry = snapshotEntryAt(snapshot, i);
        if (entry.peerId == snapshot.selfId) {
            continue;
        }
        // A repeated id keeps the later pose.
        drain.scratch.insert_or_assign(entry.peerId, entry.state);
    }
    drain.sawSnapshot = true;
}

void finishDrain(SnapshotDrain& drain, PeerTable& table) {
    // Without a snapshot the last known players stay: silence from the server is not an empty world.
    if (drain.sawSnapshot) {
        table = drain.scratch;
    }
    drain.scratch.clear();
    drain.sawSnapshot = false;
}

}  // namespace brassmoor
