// Byte layout of the pose datagram and the acceptance and reading of snapshot datagrams.
#include "net/datagram.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "snapshot_bytes.h"

namespace brassmoor {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::snapshotBytes;
using test::WirePeer;

std::uint32_t bitsOf(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

bool decode(const Bytes& bytes, SnapshotDatagram& snapshot) {
    return decodeSnapshotDatagram(std::span<const std::uint8_t>(bytes.data(), bytes.size()), snapshot);
}

// The documented example: selfId 7, one entry for id 9 at (1, 2, 1.7), yaw 0.
const Bytes ExampleSnapshot = {
    'K',  'V',  '0',  '1',  0x02, 0x07, 0x00, 0x00, 0x00, 0x01, 0x00,  // header
    0x09, 0x00, 0x00, 0x00,                                            // peerId 9
    0x00, 0x00, 0x80, 0x3F,                                            // x 1.0
    0x00, 0x00, 0x00, 0x40,                                            // y 2.0
    0x9A, 0x99, 0xD9, 0x3F,                                            // z 1.7
    0x00, 0x00, 0x00, 0x00,                                            // yaw 0.0
};

TEST(PoseDatagram, EncodesInitialPoseAsDocumentedBytes) {
    const auto bytes = encodePoseDatagram({0.0f, 0.0f, 1.7f, 1.5708f, 0.0f});
    const Bytes expected = {'K',  'V',  '0',  '1',  0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x9A, 0x99, 0xD9, 0x3F, 0xF9, 0x0F, 0xC9, 0x3F, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), expected);
}

TEST(PoseDatagram, EncodesEveryFieldAtItsOffsetLittleEndian) {
    const auto bytes = encodePoseDatagram({12.34f, -56.78f, 1.7f, -0.7854f, 1.2345f});
    const Bytes expected = {'K',  'V',  '0',  '1',  0x01,                    // header
                            0xA4, 0x70, 0x45, 0x41, 0xB8, 0x1E, 0x63, 0xC2,  // x, y
                            0x9A, 0x99, 0xD9, 0x3F, 0xF9, 0x0F, 0x49, 0xBF,  // z, yaw
                            0x19, 0x04, 0x9E, 0x3F};                         // pitch
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), expected);
}

TEST(PoseDatagram, DecodesExactly25BytesOfTypeOne) {
    const Bytes bytes = {'K',  'V',  '0',  '1',  0x01, 0xA4, 0x70, 0x45, 0x41, 0xB8, 0x1E, 0x63, 0xC2,
                         0x9A, 0x99, 0xD9, 0x3F, 0xF9, 0x0F, 0x49, 0xBF, 0x19, 0x04, 0x9E, 0x3F};
    PoseDatagram pose{};
    ASSERT_TRUE(decodePoseDatagram(bytes, pose));
    EXPECT_EQ(pose.x, 12.34f);
    EXPECT_EQ(pose.y, -56.78f);
    EXPECT_EQ(pose.z, 1.7f);
    EXPECT_EQ(pose.yaw, -0.7854f);
    EXPECT_EQ(pose.pitch, 1.2345f);
}

TEST(PoseDatagram, DecodeRejectsWrongLengthTypeOrMagic) {
    const auto good = encodePoseDatagram({1.0f, 2.0f, 1.7f, 0.5f, 0.25f});
    PoseDatagram pose{};

    Bytes shorter(good.begin(), good.end() - 1);
    EXPECT_FALSE(decodePoseDatagram(shorter, pose));
    Bytes longer(good.begin(), good.end());
    longer.push_back(0);
    EXPECT_FALSE(decodePoseDatagram(longer, pose));
    Bytes snapshotType(good.begin(), good.end());
    snapshotType[4] = 2;
    EXPECT_FALSE(decodePoseDatagram(snapshotType, pose));
    Bytes lowerCase(good.begin(), good.end());
    lowerCase[1] = 'v';
    EXPECT_FALSE(decodePoseDatagram(lowerCase, pose));
}

TEST(PoseDatagram, RoundTripKeepsEveryBit) {
    const float nan = std::bit_cast<float>(0x7FC01234u);
    const PoseDatagram sent{-0.0f, nan, 1.7f, -3.5f, 1.55f};
    const auto bytes = encodePoseDatagram(sent);
    PoseDatagram received{};
    ASSERT_TRUE(decodePoseDatagram(bytes, received));
    EXPECT_EQ(bitsOf(received.x), 0x80000000u);
    EXPECT_EQ(bitsOf(received.y), 0x7FC01234u);
    EXPECT_EQ(received.z, 1.7f);
    EXPECT_EQ(received.yaw, -3.5f);
    EXPECT_EQ(received.pitch, 1.55f);
}

TEST(SnapshotAcceptance, AcceptsDocumentedExampleWithOneEntry) {
    ASSERT_EQ(ExampleSnapshot.size(), 31u);
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decode(ExampleSnapshot, snapshot));
    EXPECT_EQ(snapshot.selfId, 7u);
    EXPECT_EQ(snapshot.peerCount, 1u);
    ASSERT_EQ(snapshot.usableEntryCount, 1u);
    const SnapshotEntry entry = snapshotEntryAt(snapshot, 0);
    EXPECT_EQ(entry.peerId, 9u);
    EXPECT_EQ(entry.state.x, 1.0f);
    EXPECT_EQ(entry.state.y, 2.0f);
    EXPECT_EQ(entry.state.z, 1.7f);
    EXPECT_EQ(entry.state.yaw, 0.0f);
}

TEST(SnapshotAcceptance, ReadsSelfIdAndPeerCountLittleEndian) {
    const Bytes bytes = {'K', 'V', '0', '1', 0x02, 0x78, 0x56, 0x34, 0x12, 0x02, 0x01};
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decode(bytes, snapshot));
    EXPECT_EQ(snapshot.selfId, 0x12345678u);
    EXPECT_EQ(snapshot.peerCount, 0x0102u);
}

TEST(SnapshotAcceptance, AcceptsElevenBytesWithNoEntriesWhateverPeerCount) {
    for (const int countLow : {0x00, 0x01, 0x05, 0xFF}) {
        const Bytes bytes = {'K', 'V', '0', '1', 0x02, 0x07, 0x00, 0x00, 0x00, std::uint8_t(countLow), 0xFF};
        SnapshotDatagram snapshot{};
        ASSERT_TRUE(decode(bytes, snapshot)) << "peerCount low byte " << countLow;
        EXPECT_EQ(snapshot.usableEntryCount, 0u);
    }
}

TEST(SnapshotAcceptance, RejectsTenBytesOrFewerAndLeavesOutputUntouched) {
    const Bytes eleven = {'K', 'V', '0', '1', 0x02, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00};
    for (std::size_t length = 0; length <= 10; ++length) {
        SnapshotDatagram snapshot{99u, 5u, 3u, nullptr};
        EXPECT_FALSE(decodeSnapshotDatagram(std::span<const std::uint8_t>(eleven.data(), length), snapshot))
            << length << " bytes";
        EXPECT_EQ(snapshot.selfId, 99u);
        EXPECT_EQ(snapshot.usableEntryCount, 3u);
    }
}

TEST(SnapshotAcceptance, RejectsPoseAndUnknownTypes) {
    for (const int type : {0, 1, 3, 255}) {
        Bytes bytes = ExampleSnapshot;
        bytes[4] = static_cast<std::uint8_t>(type);
        SnapshotDatagram snapshot{};
        EXPECT_FALSE(decode(bytes, snapshot)) << "type " << type;
    }
}

TEST(SnapshotAcceptance, RejectsMagicInOtherLetterCase) {
    for (const Bytes& magic :
         {Bytes{'k', 'v', '0', '1'}, Bytes{'K', 'v', '0', '1'}, Bytes{'k', 'V', '0', '1'}}) {
        Bytes bytes = ExampleSnapshot;
        std::copy(magic.begin(), magic.end(), bytes.begin());
        SnapshotDatagram snapshot{};
        EXPECT_FALSE(decode(bytes, snapshot));
    }
}

TEST(SnapshotAcceptance, RejectsAnyOtherMagicByte) {
    for (std::size_t i = 0; i < 4; ++i) {
        Bytes bytes = ExampleSnapshot;
        bytes[i] = static_cast<std::uint8_t>(bytes[i] + 1);
        SnapshotDatagram snapshot{};
        EXPECT_FALSE(decode(bytes, snapshot)) << "magic byte " << i;
    }
}

TEST(SnapshotEntries, FiftyBytesAnnouncingThreeYieldOne) {
    Bytes bytes = snapshotBytes(1, 3, {{10, 1, 2, 3, 4}, {11, 5, 6, 7, 8}});
    bytes.resize(50);
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decode(bytes, snapshot));
    ASSERT_EQ(snapshot.usableEntryCount, 1u);
    EXPECT_EQ(snapshotEntryAt(snapshot, 0).peerId, 10u);
}

TEST(SnapshotEntries, AnnouncingThreeWithTwoCompleteYieldsTwo) {
    const Bytes bytes = snapshotBytes(1, 3, {{10, 1, 2, 3, 4}, {11, 5, 6, 7, 8}});
    ASSERT_EQ(bytes.size(), 51u);
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decode(bytes, snapshot));
    EXPECT_EQ(snapshot.usableEntryCount, 2u);
}

TEST(SnapshotEntries, AnnouncingZeroIgnoresCarriedEntries) {
    const Bytes bytes = snapshotBytes(1, 0, {{10, 1, 2, 3, 4}, {11, 5, 6, 7, 8}});
    ASSERT_EQ(bytes.size(), 51u);
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decode(bytes, snapshot));
    EXPECT_EQ(snapshot.usableEntryCount, 0u);
}

TEST(SnapshotEntries, EntriesBeyondPeerCountAreIgnored) {
    const Bytes bytes = snapshotBytes(1, 1, {{10, 1, 2, 3, 4}, {11, 5, 6, 7, 8}});
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decode(bytes, snapshot));
    EXPECT_EQ(snapshot.usableEntryCount, 1u);
}

TEST(SnapshotEntries, RepeatedIdsAreBothYieldedInOrder) {
    const Bytes bytes = snapshotBytes(1, {{4, 1, 2, 3, 4}, {4, 5, 6, 7, 8}});
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decode(bytes, snapshot));
    ASSERT_EQ(snapshot.usableEntryCount, 2u);
    EXPECT_EQ(snapshotEntryAt(snapshot, 0).peerId, 4u);
    EXPECT_EQ(snapshotEntryAt(snapshot, 0).state.x, 1.0f);
    EXPECT_EQ(snapshotEntryAt(snapshot, 1).peerId, 4u);
    EXPECT_EQ(snapshotEntryAt(snapshot, 1).state.x, 5.0f);
}

TEST(SnapshotEntries, ReadsEveryFieldOfLaterEntries) {
    // Distinct bytes in every field of the second entry, so a wrong stride or offset shows.
    const Bytes bytes = {'K',  'V',  '0',  '1',  0x02, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00,  // header
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // entry 0: all zero
                         0x44, 0x33, 0x22, 0x11,                                // peerId 0x11223344
                         0xA4, 0x70, 0x45, 0x41,                                // x 12.34
                         0xB8, 0x1E, 0x63, 0xC2,                                // y -56.78
                         0x9A, 0x99, 0xD9, 0x3F,                                // z 1.7
                         0xF9, 0x0F, 0x49, 0xBF};                               // yaw -0.7854
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decode(bytes, snapshot));
    ASSERT_EQ(snapshot.usableEntryCount, 2u);
    const SnapshotEntry entry = snapshotEntryAt(snapshot, 1);
    EXPECT_EQ(entry.peerId, 0x11223344u);
    EXPECT_EQ(entry.state.x, 12.34f);
    EXPECT_EQ(entry.state.y, -56.78f);
    EXPECT_EQ(entry.state.z, 1.7f);
    EXPECT_EQ(entry.state.yaw, -0.7854f);
}

TEST(SnapshotEntries, TakesNanAndInfinityAsTheyAre) {
    const Bytes bytes = {'K',  'V',  '0',  '1',  0x02, 0x01, 0x00, 0x00,
                         0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00,  // peerId 5
                         0x01, 0x00, 0xC0, 0x7F,                    // x: quiet NaN with a payload
                         0x00, 0x00, 0x80, 0x7F,                    // y: +infinity
                         0x00, 0x00, 0x80, 0xFF,                    // z: -infinity
                         0x00, 0x00, 0x00, 0x80};                   // yaw: -0
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decode(bytes, snapshot));
    ASSERT_EQ(snapshot.usableEntryCount, 1u);
    const SnapshotEntry entry = snapshotEntryAt(snapshot, 0);
    EXPECT_EQ(bitsOf(entry.state.x), 0x7FC00001u);
    EXPECT_EQ(bitsOf(entry.state.y), 0x7F800000u);
    EXPECT_EQ(bitsOf(entry.state.z), 0xFF800000u);
    EXPECT_EQ(bitsOf(entry.state.yaw), 0x80000000u);
}

// A snapshot of `count` entries with ids 1000, 1001, ..., announcing `announced`.
Bytes manyEntries(std::uint16_t announced, std::size_t count) {
    Bytes bytes = snapshotBytes(1, announced);
    for (std::size_t i = 0; i < count; ++i) {
        test::appendPeer(bytes, {static_cast<std::uint32_t>(1000 + i), float(i), 0.0f, 1.7f, 0.0f});
    }
    return bytes;
}

TEST(SnapshotEntries, ReadsAll204EntriesOfA4091ByteSnapshot) {
    const Bytes bytes = manyEntries(204, 204);
    ASSERT_EQ(bytes.size(), 4091u);
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decode(bytes, snapshot));
    ASSERT_EQ(snapshot.usableEntryCount, 204u);
    EXPECT_EQ(snapshotEntryAt(snapshot, 203).peerId, 1203u);
    EXPECT_EQ(snapshotEntryAt(snapshot, 203).state.x, 203.0f);
}

TEST(SnapshotEntries, FullBufferAnnouncing205StopsAt204) {
    Bytes bytes = manyEntries(205, 205);
    bytes.resize(4096);  // what a 4096-byte receive buffer keeps of it
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decode(bytes, snapshot));
    EXPECT_EQ(snapshot.peerCount, 205u);
    EXPECT_EQ(snapshot.usableEntryCount, 204u);
}

TEST(SnapshotEncoding, WritesTheDocumentedExampleBytes) {
    const SnapshotEntry entries[] = {{9, {1.0f, 2.0f, 1.7f, 0.0f}}};
    std::uint8_t out[64] = {};
    const std::size_t written = encodeSnapshotDatagram(7, entries, out);
    ASSERT_EQ(written, 31u);
    EXPECT_EQ(Bytes(out, out + written), ExampleSnapshot);
}

TEST(SnapshotEncoding, RoundTripsThroughTheDecoder) {
    const SnapshotEntry entries[] = {
        {3, {1.5f, -2.5f, 1.7f, 0.75f}}, {0xFFFFFFFFu, {-100.0f, 100.0f, 0.0f, -3.0f}}, {0, {0, 0, 0, 0}}};
    std::uint8_t out[ReceiveBufferSize] = {};
    const std::size_t written = encodeSnapshotDatagram(42, entries, out);
    ASSERT_EQ(written, 71u);
    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decodeSnapshotDatagram(std::span<const std::uint8_t>(out, written), snapshot));
    EXPECT_EQ(snapshot.selfId, 42u);
    ASSERT_EQ(snapshot.usableEntryCount, 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const SnapshotEntry entry = snapshotEntryAt(snapshot, i);
        EXPECT_EQ(entry.peerId, entries[i].peerId);
        EXPECT_EQ(entry.state.x, entries[i].state.x);
        EXPECT_EQ(entry.state.y, entries[i].state.y);
        EXPECT_EQ(entry.state.z, entries[i].state.z);
        EXPECT_EQ(entry.state.yaw, entries[i].state.yaw);
    }
}

TEST(SnapshotEncoding, RefusesOutputTooSmallOrTooManyEntries) {
    const SnapshotEntry one[] = {{9, {1.0f, 2.0f, 1.7f, 0.0f}}};
    std::uint8_t out[31] = {};
    EXPECT_EQ(encodeSnapshotDatagram(7, one, std::span<std::uint8_t>(out, 30)), 0u);
    EXPECT_EQ(encodeSnapshotDatagram(7, one, std::span<std::uint8_t>(out, 31)), 31u);

    const std::vector<SnapshotEntry> tooMany(65536, SnapshotEntry{});
    std::vector<std::uint8_t> big(11 + 20 * tooMany.size());
    EXPECT_EQ(encodeSnapshotDatagram(7, tooMany, big), 0u);
}

}  // namespace
}  // namespace brassmoor
