// A few words on what a datagram is, for the replayer's lines.
#include "datagram_text.h"

#include <algorithm>
#include <cstdio>

#include "net/datagram.h"
#include "net/wire_bytes.h"
#include "server_info.h"

namespace brassmoor {

std::string describeDatagram(std::span<const std::uint8_t> bytes) {
    char text[128];
    if (bytes.size() < DatagramHeaderSize || !std::equal(DatagramMagic.begin(), DatagramMagic.end(), bytes.begin())) {
        std::snprintf(text, sizeof text, "no header (the client rejects it)");
        return text;
    }
    const std::uint8_t type = bytes[DatagramTypeOffset];
    SnapshotDatagram snapshot{};
    if (decodeSnapshotDatagram(bytes, snapshot)) {
        const char* players = snapshot.peerCount == 1 ? "player" : "players";
        if (snapshot.usableEntryCount == snapshot.peerCount) {
            std::snprintf(text, sizeof text, "snapshot self=%u, %zu %s", static_cast<unsigned>(snapshot.selfId),
                          snapshot.usableEntryCount, players);
        } else {
            std::snprintf(text, sizeof text, "snapshot self=%u, %zu of %u %s", static_cast<unsigned>(snapshot.selfId),
                          snapshot.usableEntryCount, static_cast<unsigned>(snapshot.peerCount), players);
        }
    } else if (type == SnapshotDatagramType) {
        std::snprintf(text, sizeof text, "snapshot shorter than its header (the client rejects it)");
    } else if (type == PoseDatagramType) {
        std::snprintf(text, sizeof text, "pose (the client rejects it)");
    } else if (type == InfoQueryType) {
        std::snprintf(text, sizeof text, "info query (the client rejects it)");
    } else if (type == InfoAnswerType) {
        std::snprintf(text, sizeof text, "info answer (the client rejects it)");
    } else {
        std::snprintf(text, sizeof text, "unknown type %u (the client rejects it)", static_cast<unsigned>(type));
    }
    return text;
}

}  // namespace brassmoor
