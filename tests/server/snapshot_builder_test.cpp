// Tests of snapshot building: who is listed, the entry cap, and the bytes that go out.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "snapshot_builder.h"

namespace brassmoor {
namespace {

std::vector<SnapshotEntry> playersAlongX(std::uint32_t count) {
    // Player i stands at x = i, so the farthest from player 1 are the highest ids.
    std::vector<SnapshotEntry> players;
    for (std::uint32_t id = 1; id <= count; ++id) {
        players.push_back(SnapshotEntry{id, PeerState{static_cast<float>(id), 0.0f, 1.7f, 0.0f}});
    }
    return players;
}

std::vector<std::uint32_t> idsOf(const std::vector<SnapshotEntry>& entries) {
    std::vector<std::uint32_t> ids;
    for (const SnapshotEntry& e : entries)
        ids.push_back(e.peerId);
    return ids;
}

std::vector<std::uint32_t> idRange(std::uint32_t first, std::uint32_t last) {
    std::vector<std::uint32_t> ids;
    for (std::uint32_t id = first; id <= last; ++id)
        ids.push_back(id);
    return ids;
}

TEST(SnapshotEntries, ListEveryOtherPlayerButNeverTheReceiver) {
    std::vector<SnapshotEntry> chosen;
    selectSnapshotEntries(playersAlongX(3), 2, chosen);
    EXPECT_EQ(idsOf(chosen), (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(chosen[1].state.x, 3.0f);
}

TEST(SnapshotEntries, TheReceiverAloneGetsAnEmptyList) {
    std::vector<SnapshotEntry> chosen{SnapshotEntry{9, PeerState{}}};  // left over from an earlier call
    selectSnapshotEntries(playersAlongX(1), 1, chosen);
    EXPECT_TRUE(chosen.empty());
}

TEST(SnapshotEntries, AnUnknownReceiverIsSentEveryPlayer) {
    std::vector<SnapshotEntry> chosen;
    selectSnapshotEntries(playersAlongX(4), 99, chosen);
    EXPECT_EQ(idsOf(chosen), idRange(1, 4));
}

TEST(SnapshotEntries, TwoHundredFourOthersAllFit) {
    std::vector<SnapshotEntry> chosen;
    selectSnapshotEntries(playersAlongX(205), 1, chosen);
    EXPECT_EQ(idsOf(chosen), idRange(2, 205));
}

TEST(SnapshotEntries, OneOtherTooManyLeavesOutTheFarthest) {
    std::vector<SnapshotEntry> chosen;
    selectSnapshotEntries(playersAlongX(206), 100, chosen);
    // Standing at x = 100, id 206 (106 away) is farther than id 1 (99 away).
    std::vector<std::uint32_t> expected = idRange(1, 205);
    expected.erase(expected.begin() + 99);  // id 100, the receiver
    EXPECT_EQ(idsOf(chosen), expected);
}

TEST(SnapshotEntries, BeyondThatTheFarthestFromTheReceiverAreLeftOut) {
    std::vector<SnapshotEntry> chosen;
    selectSnapshotEntries(playersAlongX(210), 1, chosen);
    // The receiver (1) and the five farthest from x = 1 (206 to 210) are left out.
    EXPECT_EQ(idsOf(chosen), idRange(2, 205));
}

TEST(SnapshotEntries, DistanceIsMeasuredFromTheReceiversPosition) {
    std::vector<SnapshotEntry> chosen;
    selectSnapshotEntries(playersAlongX(210), 210, chosen);
    // Standing at x = 210, the farthest are the lowest ids.
    EXPECT_EQ(idsOf(chosen), idRange(6, 209));
}

TEST(SnapshotEntries, DistanceCountsBothGroundAxes) {
    std::vector<SnapshotEntry> players = playersAlongX(3);
    players[1].state = PeerState{1.0f, 5.0f, 1.7f, 0.0f};  // id 2: 5 away from id 1
    players[2].state = PeerState{4.0f, 0.0f, 1.7f, 0.0f};  // id 3: 3 away from id 1
    std::vector<SnapshotEntry> chosen;
    selectSnapshotEntries(players, 1, chosen, 1);
    EXPECT_EQ(idsOf(chosen), (std::vector<std::uint32_t>{3}));
}

TEST(SnapshotEntries, APlayerWithAnUnreadablePositionIsTheFarthest) {
    std::vector<SnapshotEntry> players = playersAlongX(206);
    players[1].state.x = std::numeric_limits<float>::quiet_NaN();  // id 2, otherwise the nearest
    std::vector<SnapshotEntry> chosen;
    selectSnapshotEntries(players, 1, chosen);
    EXPECT_EQ(idsOf(chosen), idRange(3, 206));
}

TEST(SnapshotEntries, AnUnknownReceiverMeasuresFromTheOrigin) {
    std::vector<SnapshotEntry> chosen;
    selectSnapshotEntries(playersAlongX(5), 99, chosen, 3);
    EXPECT_EQ(idsOf(chosen), (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST(SnapshotBytes, SmallSnapshotIsLaidOutFieldByField) {
    const std::vector<SnapshotEntry> players = {
        {3, PeerState{1.0f, -2.0f, 1.7f, 0.5f}},
        {7, PeerState{0.0f, 4.0f, 1.7f, -1.0f}},
        {9, PeerState{8.0f, 8.0f, 1.7f, 0.0f}},  // the receiver: named by selfId, not listed
    };
    std::vector<SnapshotEntry> scratch;
    std::array<std::uint8_t, ReceiveBufferSize> out{};
    const std::size_t size = buildSnapshotFor(players, 9, scratch, out);
    const std::array<std::uint8_t, 51> expected = {
        'K',  'V',  '0',  '1',  0x02, 0x09, 0x00, 0x00, 0x00,  // selfId 9
        0x02, 0x00,                                            // two entries
        0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0xC0, 0x9A, 0x99,
        0xD9, 0x3F, 0x00, 0x00, 0x00, 0x3F, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x80, 0x40, 0x9A, 0x99, 0xD9, 0x3F, 0x00, 0x00, 0x80, 0xBF,
    };
    ASSERT_EQ(size, 51u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
}

TEST(SnapshotBytes, AFullSnapshotFitsTheClientsBufferAndDecodesBack) {
    const std::vector<SnapshotEntry> players = playersAlongX(300);
    std::vector<SnapshotEntry> scratch;
    std::array<std::uint8_t, ReceiveBufferSize> out{};
    const std::size_t size = buildSnapshotFor(players, 1, scratch, out);
    ASSERT_EQ(size, 4091u);

    SnapshotDatagram snapshot{};
    ASSERT_TRUE(decodeSnapshotDatagram(std::span<const std::uint8_t>(out.data(), size), snapshot));
    EXPECT_EQ(snapshot.selfId, 1u);
    EXPECT_EQ(snapshot.peerCount, 204);
    ASSERT_EQ(snapshot.usableEntryCount, 204u);
    const SnapshotEntry first = snapshotEntryAt(snapshot, 0);
    EXPECT_EQ(first.peerId, 2u);
    EXPECT_EQ(first.state.x, 2.0f);
    EXPECT_EQ(first.state.z, 1.7f);
    const SnapshotEntry last = snapshotEntryAt(snapshot, 203);
    EXPECT_EQ(last.peerId, 205u);
    EXPECT_EQ(last.state.x, 205.0f);
}

TEST(SnapshotBytes, NoPlayersGivesAnEmptySnapshot) {
    std::vector<SnapshotEntry> scratch;
    std::array<std::uint8_t, ReceiveBufferSize> out{};
    const std::size_t size = buildSnapshotFor({}, 12, scratch, out);
    const std::array<std::uint8_t, 11> expected = {'K',  'V',  '0',  '1',  0x02, 0x0C,
                                                   0x00, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(size, 11u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
}

TEST(PlayerGathering, MergesBotsAndClientsInIdOrder) {
    IdSource ids;
    ClientRegistry registry;
    TrafficCounters counters;
    BotWorld bots = makeBots(2, 5, ids);  // ids 1 and 2
    const std::array<std::uint8_t, 25> pose = {
        'K',  'V',  '0',  '1',  0x01, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40,
        0x9A, 0x99, 0xD9, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    };
    acceptDatagram(registry, ids, counters, ClientAddress{0x7F000001, 1000}, pose, 0.0);  // id 3
    Bot extra = bots.bots[0];
    extra.id = takeId(ids);  // a bot that came after a client: id 4
    bots.bots.push_back(extra);
    acceptDatagram(registry, ids, counters, ClientAddress{0x7F000001, 1001}, pose, 0.0);  // id 5

    std::vector<SnapshotEntry> players;
    gatherPlayers(registry, bots, players);
    EXPECT_EQ(idsOf(players), (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(players[2].state.x, 1.0f);
    EXPECT_EQ(players[2].state.y, 2.0f);
    EXPECT_EQ(players[0].state.z, 1.7f);
    EXPECT_EQ(players[0].state.yaw, bots.bots[0].heading);
}

}  // namespace
}  // namespace brassmoor
