// Encoding and decoding of the pose and snapshot datagrams, field by field at fixed offsets.
#include "net/datagram.h"

#include <algorithm>

#include "net/wire_bytes.h"

namespace brassmoor {

namespace {

// Offsets inside a pose datagram.
constexpr std::size_t PoseXOffset = 5;
constexpr std::size_t PoseYOffset = 9;
constexpr std::size_t PoseZOffset = 13;
constexpr std::size_t PoseYawOffset = 17;
constexpr std::size_t PosePitchOffset = 21;

// Offsets inside a snapshot header and inside one entry.
constexpr std::size_t SelfIdOffset = 5;
constexpr std::size_t PeerCountOffset = 9;
constexpr std::size_t EntryPeerIdOffset = 0;
constexpr std::size_t EntryXOffset = 4;
constexpr std::size_t EntryYOffset = 8;
constexpr std::size_t EntryZOffset = 12;
constexpr std::size_t EntryYawOffset = 16;

}  // namespace

std::array<std::uint8_t, PoseDatagramSize> encodePoseDatagram(const PoseDatagram& pose) {
    std::array<std::uint8_t, PoseDatagramSize> bytes{};
    putDatagramHeader(bytes.data(), PoseDatagramType);
    putF32(bytes.data() + PoseXOffset, pose.x);
    putF32(bytes.data() + PoseYOffset, pose.y);
    putF32(bytes.data() + PoseZOffset, pose.z);
    putF32(bytes.data() + PoseYawOffset, pose.yaw);
    putF32(bytes.data() + PosePitchOffset, pose.pitch);
    return bytes;
}

bool decodePoseDatagram(std::span<const std::uint8_t> bytes, PoseDatagram& pose) {
    if (bytes.size() != PoseDatagramSize || !hasDatagramHeader(bytes, PoseDatagramType)) {
        return false;
    }
    pose.x = getF32(bytes.data() + PoseXOffset);
    pose.y = getF32(bytes.data() + PoseYOffset);
    pose.z = getF32(bytes.data() + PoseZOffset);
    pose.yaw = getF32(bytes.data() + PoseYawOffset);
    pose.pitch = getF32(bytes.data() + PosePitchOffset);
    return true;
}

bool decodeSnapshotDatagram(std::span<const std::uint8_t> bytes, SnapshotDatagram& snapshot) {
    // The length is checked first, so the header reads below stay inside the bytes.
    if (bytes.size() < SnapshotHeaderSize || !hasDatagramHeader(bytes, SnapshotDatagramType)) {
        return false;
    }
    snapshot.selfId = getU32(bytes.data() + SelfIdOffset);
    snapshot.peerCount = getU16(bytes.data() + PeerCountOffset);
    // Only entries that are both announced and wholly received are read; a trailing
    // partial entry and anything beyond the announced count are ignored.
    const std::size_t wholeEntries = (bytes.size() - SnapshotHeaderSize) / SnapshotEntrySize;
    snapshot.usableEntryCount = std::min<std::size_t>(snapshot.peerCount, wholeEntries);
    snapshot.entryBytes = bytes.data() + SnapshotHeaderSize;
    return true;
}

SnapshotEntry snapshotEntryAt(const SnapshotDatagram& snapshot, std::size_t index) {
    const std::uint8_t* at = snapshot.entryBytes + index * SnapshotEntrySize;
    SnapshotEntry entry{};
    entry.peerId = getU32(at + EntryPeerIdOffset);
    entry.state.x = getF32(at + EntryXOffset);
    entry.state.y = getF32(at + EntryYOffset);
    entry.state.z = getF32(at + EntryZOffset);
    entry.state.yaw = getF32(at + EntryYawOffset);
    return entry;
}

void putSnapshotHeader(std::uint8_t* at, std::uint32_t selfId, std::uint16_t peerCount) {
    putDatagramHeader(at, SnapshotDatagramType);
    putU32(at + SelfIdOffset, selfId);
    putU16(at + PeerCountOffset, peerCount);
}

std::size_t encodeSnapshotDatagram(std::uint32_t selfId, std::span<const SnapshotEntry> entries,
                                   std::span<std::uint8_t> out) {
    if (entries.size() > UINT16_MAX) {
        return 0;
    }
    const std::size_t size = SnapshotHeaderSize + entries.size() * SnapshotEntrySize;
    if (out.size() < size) {
        return 0;
    }
    putSnapshotHeader(out.data(), selfId, static_cast<std::uint16_t>(entries.size()));
    std::uint8_t* at = out.data() + SnapshotHeaderSize;
    for (const SnapshotEntry& entry : entries) {
        putU32(at + EntryPeerIdOffset, entry.peerId);
        putF32(at + EntryXOffset, entry.state.x);
        putF32(at + EntryYOffset, entry.state.y);
        putF32(at + EntryZOffset, entry.state.z);
        putF32(at + EntryYawOffset, entry.state.yaw);
        at += SnapshotEntrySize;
    }
    return size;
}

}  // namespace brassmoor
