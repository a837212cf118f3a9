// Fuzz target: arbitrary received bytes through snapshot acceptance, decoding and the peer-table drain.
//
// Every input is one datagram as the receive buffer would hold it (at most 4096 bytes). The
// expected outcome is worked out here from the byte layout alone, independently of the decoder,
// and any disagreement aborts so that libFuzzer keeps the input as a crash.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <span>
#include <vector>

#include "net/datagram.h"
#include "net/peer_table.h"
#include "net/snapshot_drain.h"

namespace {

using brassmoor::PeerState;
using brassmoor::PeerTable;

constexpr std::size_t MaxDatagramSize = 4096;
constexpr std::size_t MostEntriesInOneDatagram = 204;

// The four floats of a PeerState as raw bits, so that NaNs compare equal to themselves.
using StateBits = std::array<std::uint32_t, 4>;
using ExpectedTable = std::map<std::uint32_t, StateBits>;

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "snapshot fuzz: invariant broken: %s\n", what);
        std::abort();
    }
}

std::uint32_t readU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

std::uint32_t floatBits(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

StateBits stateBits(const PeerState& state) {
    return {floatBits(state.x), floatBits(state.y), floatBits(state.z), floatBits(state.yaw)};
}

// The reference reading of one datagram: accepted or not, its selfId and its usable entries.
struct Reference {
    bool accepted = false;
    std::uint32_t selfId = 0;
    std::uint16_t peerCount = 0;
    std::size_t usableEntries = 0;
};

Reference readReference(std::span<const std::uint8_t> bytes) {
    Reference reference;
    if (bytes.size() < 11 || bytes[0] != 'K' || bytes[1] != 'V' || bytes[2] != '0' || bytes[3] != '1' ||
        bytes[4] != 2) {
        return reference;
    }
    reference.accepted = true;
    reference.selfId = readU32(bytes.data() + 5);
    reference.peerCount = static_cast<std::uint16_t>(bytes[9] | (bytes[10] << 8));
    std::size_t whole = 0;
    while (11 + 20 * (whole + 1) <= bytes.size()) {
        ++whole;
    }
    reference.usableEntries = std::min<std::size_t>(reference.peerCount, whole);
    return reference;
}

// What the peer table must hold after a drain whose last accepted snapshot is `bytes`.
ExpectedTable expectedTable(std::span<const std::uint8_t> bytes, const Reference& reference) {
    ExpectedTable table;
    for (std::size_t i = 0; i < reference.usableEntries; ++i) {
        const std::uint8_t* at = bytes.data() + 11 + 20 * i;
        const std::uint32_t peerId = readU32(at);
        if (peerId == reference.selfId) {
            continue;
        }
        table[peerId] = {readU32(at + 4), readU32(at + 8), readU32(at + 12), readU32(at + 16)};
    }
    return table;
}

bool tableMatches(const PeerTable& table, const ExpectedTable& expected) {
    if (table.size() != expected.size()) {
        return false;
    }
    for (const auto& [peerId, bits] : expected) {
        const auto found = table.find(peerId);
        if (found == table.end() || stateBits(found->state) != bits) {
            return false;
        }
    }
    return true;
}

// A table as a previous frame could have left it; a rejected datagram must not touch it.
PeerTable previousTable() {
    PeerTable table;
    table.insert_or_assign(0xFEEDFACEu, PeerState{1.0f, 2.0f, 1.7f, 0.5f});
    table.insert_or_assign(3u, PeerState{-4.0f, 8.0f, 1.7f, -1.0f});
    return table;
}

// A valid snapshot that an earlier datagram of the same drain could have carried.
std::vector<std::uint8_t> earlierSnapshot() {
    const std::array<brassmoor::SnapshotEntry, 2> entries = {{
        {0xABCD0001u, PeerState{5.0f, 6.0f, 1.7f, 0.25f}},
        {0xABCD0002u, PeerState{7.0f, 8.0f, 1.7f, 0.75f}},
    }};
    std::vector<std::uint8_t> bytes(11 + 20 * entries.size());
    const std::size_t written = brassmoor::encodeSnapshotDatagram(42u, entries, bytes);
    require(written == bytes.size(), "the earlier snapshot encodes");
    return bytes;
}

void checkDecoding(std::span<const std::uint8_t> bytes, const Reference& reference) {
    brassmoor::SnapshotDatagram snapshot{};
    const bool accepted = brassmoor::decodeSnapshotDatagram(bytes, snapshot);
    require(accepted == reference.accepted, "acceptance matches magic, type 2 and at least 11 bytes");
    if (!accepted) {
        return;
    }
    require(snapshot.selfId == reference.selfId, "selfId is the u32 at offset 5");
    require(snapshot.peerCount == reference.peerCount, "peerCount is the u16 at offset 9");
    require(snapshot.usableEntryCount == reference.usableEntries,
            "usable entries are those announced and wholly inside the datagram");
    require(snapshot.usableEntryCount <= MostEntriesInOneDatagram, "no more than 204 entries");
    for (std::size_t i = 0; i < snapshot.usableEntryCount; ++i) {
        const brassmoor::SnapshotEntry entry = brassmoor::snapshotEntryAt(snapshot, i);
        const std::uint8_t* at = bytes.data() + 11 + 20 * i;
        require(entry.peerId == readU32(at), "an entry's id equals the bytes at its offset");
        const StateBits expected = {readU32(at + 4), readU32(at + 8), readU32(at + 12), readU32(at + 16)};
        require(stateBits(entry.state) == expected, "an entry's state equals the bytes at its offset");
    }
}

// The datagram alone in a drain over a table left by an earlier frame.
void checkSingleDrain(std::span<const std::uint8_t> bytes, const Reference& reference) {
    brassmoor::SnapshotDrain drain;
    PeerTable table = previousTable();
    brassmoor::offerDatagram(drain, bytes);
    brassmoor::finishDrain(drain, table);
    require(table.size() <= MostEntriesInOneDatagram, "the table never holds more than 204 entries");
    if (!reference.accepted) {
        require(tableMatches(table, {{0xFEEDFACEu, stateBits(PeerState{1.0f, 2.0f, 1.7f, 0.5f})},
                                     {3u, stateBits(PeerState{-4.0f, 8.0f, 1.7f, -1.0f})}}),
                "a rejected datagram leaves the table exactly as it was");
        return;
    }
    require(table.find(reference.selfId) == table.end(), "the receiver's own id is never in the table");
    require(tableMatches(table, expectedTable(bytes, reference)),
            "the table holds exactly the snapshot's players, later repeats winning");
    require(drain.acceptedLength == 0 && !drain.sawSnapshot, "a finished drain is ready for the next frame");
}

// A drain of several datagrams: a valid snapshot, this datagram, an echoed pose and the
// datagram's first half. The last accepted snapshot among them is what the table must hold.
void checkMixedDrain(std::span<const std::uint8_t> bytes, const Reference& reference) {
    const std::vector<std::uint8_t> earlier = earlierSnapshot();
    const std::array<std::uint8_t, 25> echoedPose =
        brassmoor::encodePoseDatagram({0.0f, 0.0f, 1.7f, 0.0f, 0.0f});
    const std::span<const std::uint8_t> firstHalf = bytes.first(bytes.size() / 2);
    const Reference halfReference = readReference(firstHalf);

    brassmoor::SnapshotDrain drain;
    PeerTable table = previousTable();
    brassmoor::offerDatagram(drain, earlier);
    brassmoor::offerDatagram(drain, bytes);
    brassmoor::offerDatagram(drain, echoedPose);
    brassmoor::offerDatagram(drain, firstHalf);
    brassmoor::finishDrain(drain, table);

    ExpectedTable expected;
    if (halfReference.accepted) {
        expected = expectedTable(firstHalf, halfReference);
    } else if (reference.accepted) {
        expected = expectedTable(bytes, reference);
    } else {
        expected = {{0xABCD0001u, stateBits(PeerState{5.0f, 6.0f, 1.7f, 0.25f})},
                    {0xABCD0002u, stateBits(PeerState{7.0f, 8.0f, 1.7f, 0.75f})}};
    }
    require(table.size() <= MostEntriesInOneDatagram, "the table never holds more than 204 entries");
    require(tableMatches(table, expected), "only the last accepted snapshot of a drain counts");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The receive buffer is 4096 bytes; a longer datagram would arrive cut to that length.
    // The copy is exactly as long as the datagram, so a read past its end is caught.
    const std::vector<std::uint8_t> datagram(data, data + std::min(size, MaxDatagramSize));
    const std::span<const std::uint8_t> bytes(datagram.data(), datagram.size());
    const Reference reference = readReference(bytes);
    checkDecoding(bytes, reference);
    checkSingleDrain(bytes, reference);
    checkMixedDrain(bytes, reference);
    return 0;
}
