// The two datagrams exchanged with the server, built and read byte by byte.
//
// Every datagram starts with the ASCII magic "KV01" and a type byte. Multi-byte
// fields are little-endian, floats are IEEE binary32, nothing is padded.
//
//   PoseDatagram (client -> server), 25 bytes
//     0  magic "KV01"   4  type = 1
//     5  x   9  y   13  z (eye height)   17  yaw   21  pitch      (binary32 each)
//
//   SnapshotDatagram (server -> client), 11 + 20 * n bytes
//     0  magic "KV01"   4  type = 2   5  selfId (u32)   9  peerCount (u16)
//     11 + 20 * i: entry i
//        0  peerId (u32)   4  x   8  y   12  z   16  yaw            (binary32 each)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace brassmoor {

inline constexpr std::size_t PoseDatagramSize = 25;
inline constexpr std::size_t SnapshotHeaderSize = 11;
inline constexpr std::size_t SnapshotEntrySize = 20;
inline constexpr std::uint8_t PoseDatagramType = 1;
inline constexpr std::uint8_t SnapshotDatagramType = 2;

// The client receives into a buffer of this size, so it never reads more than
// MaxSnapshotEntries entries of one snapshot (11 + 204 * 20 = 4091 bytes).
inline constexpr std::size_t ReceiveBufferSize = 4096;
inline constexpr std::size_t MaxSnapshotEntries =
    (ReceiveBufferSize - SnapshotHeaderSize) / SnapshotEntrySize;

struct PoseDatagram {
    float x;
    float y;
    float z;
    float yaw;
    float pitch;
};

// Another player as a snapshot reports it; the same four floats, in wire order.
struct PeerState {
    float x;
    float y;
    float z;
    float yaw;
};

struct SnapshotEntry {
    std::uint32_t peerId;
    PeerState state;
};

// An accepted snapshot. The entries are not copied: they are read from the
// received bytes, which must outlive this view.
struct SnapshotDatagram {
    std::uint32_t selfId;
    std::uint16_t peerCount;
    std::size_t usableEntryCount;  // entries announced and wholly inside the datagram
    const std::uint8_t* entryBytes;
};

std::array<std::uint8_t, PoseDatagramSize> encodePoseDatagram(const PoseDatagram& pose);

// The server's side: true only for exactly 25 bytes with the magic and type 1.
bool decodePoseDatagram(std::span<const std::uint8_t> bytes, PoseDatagram& pose);

// Acceptance: at least 11 bytes, the magic, type 2. False leaves `snapshot` untouched.
bool decodeSnapshotDatagram(std::span<const std::uint8_t> bytes, SnapshotDatagram& snapshot);

// Entry `index` (below usableEntryCount) of an accepted snapshot.
SnapshotEntry snapshotEntryAt(const SnapshotDatagram& snapshot, std::size_t index);

// Writes the first SnapshotHeaderSize bytes at `at`: the magic, the type, selfId and peerCount,
// for a writer that lays the entries down itself (copied from a snapshot already encoded).
void putSnapshotHeader(std::uint8_t* at, std::uint32_t selfId, std::uint16_t peerCount);

// Writes a snapshot announcing entries.size() players; returns the bytes written,
// or 0 when `out` is too small or there are more entries than peerCount can say.
std::size_t encodeSnapshotDatagram(std::uint32_t selfId, std::span<const SnapshotEntry> entries,
                                   std::span<std::uint8_t> out);

}  // namespace brassmoor
