// Snapshot datagrams written byte by byte for the tests, without the encoder under test.
#pragma once

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace brassmoor::test {

struct WirePeer {
    std::uint32_t id;
    float x;
    float y;
    float z;
    float yaw;
};

inline void appendU32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFFu));
    }
}

inline void appendPeer(std::vector<std::uint8_t>& bytes, const WirePeer& peer) {
    appendU32(bytes, peer.id);
    appendU32(bytes, std::bit_cast<std::uint32_t>(peer.x));
    appendU32(bytes, std::bit_cast<std::uint32_t>(peer.y));
    appendU32(bytes, std::bit_cast<std::uint32_t>(peer.z));
    appendU32(bytes, std::bit_cast<std::uint32_t>(peer.yaw));
}

// "KV01", type 2, selfId, the given peerCount, then the peers as they are (any number).
inline std::vector<std::uint8_t> snapshotBytes(std::uint32_t selfId, std::uint16_t peerCount,
                                               std::initializer_list<WirePeer> peers = {}) {
    std::vector<std::uint8_t> bytes = {'K', 'V', '0', '1', 2};
    appendU32(bytes, selfId);
    bytes.push_back(static_cast<std::uint8_t>(peerCount & 0xFFu));
    bytes.push_back(static_cast<std::uint8_t>(peerCount >> 8));
    for (const WirePeer& peer : peers) {
        appendPeer(bytes, peer);
    }
    return bytes;
}

// A well-formed snapshot announcing exactly the peers it carries.
inline std::vector<std::uint8_t> snapshotBytes(std::uint32_t selfId, std::initializer_list<WirePeer> peers) {
    return snapshotBytes(selfId, static_cast<std::uint16_t>(peers.size()), peers);
}

}  // namespace brassmoor::test
