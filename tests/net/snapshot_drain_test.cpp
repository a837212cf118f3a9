// How one drain turns a sequence of received datagrams into the table of other players.
#include "net/snapshot_drain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "snapshot_bytes.h"

namespace brassmoor {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::snapshotBytes;

void offer(SnapshotDrain& drain, const Bytes& bytes) {
    offerDatagram(drain, std::span<const std::uint8_t>(bytes.data(), bytes.size()));
}

std::vector<std::uint32_t> idsOf(const PeerTable& table) {
    std::vector<std::uint32_t> ids;
    for (const auto& [id, state] : table) {
        ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

using Ids = std::vector<std::uint32_t>;

TEST(SnapshotDrain, SkipsTheReceiversOwnId) {
    SnapshotDrain drain;
    offer(drain, snapshotBytes(7, {{7, 1, 1, 1.7f, 0}, {9, 2, 3, 1.7f, 0.5f}}));
    PeerTable table;
    finishDrain(drain, table);
    ASSERT_EQ(idsOf(table), Ids({9}));
    EXPECT_EQ(table.at(9).x, 2.0f);
    EXPECT_EQ(table.at(9).y, 3.0f);
    EXPECT_EQ(table.at(9).z, 1.7f);
    EXPECT_EQ(table.at(9).yaw, 0.5f);
}

TEST(SnapshotDrain, OnlyTheLastSnapshotCounts) {
    SnapshotDrain drain;
    offer(drain, snapshotBytes(1, {{3, 0, 0, 0, 0}, {4, 0, 0, 0, 0}}));
    offer(drain, snapshotBytes(1, {{5, 0, 0, 0, 0}}));
    PeerTable table;
    finishDrain(drain, table);
    EXPECT_EQ(idsOf(table), Ids({5}));
}

TEST(SnapshotDrain, RejectedDatagramAfterSnapshotChangesNothing) {
    SnapshotDrain drain;
    offer(drain, snapshotBytes(1, {{3, 0, 0, 0, 0}, {4, 0, 0, 0, 0}}));
    Bytes echoedPose = snapshotBytes(1, {{6, 0, 0, 0, 0}});
    echoedPose[4] = 1;
    offer(drain, echoedPose);
    offer(drain, Bytes{'K', 'V', '0', '1', 2, 0, 0, 0, 0, 0});  // 10 bytes
    PeerTable table;
    finishDrain(drain, table);
    EXPECT_EQ(idsOf(table), Ids({3, 4}));
}

TEST(SnapshotDrain, SnapshotWithNoOtherPlayersEmptiesTheTable) {
    Bytes cutOff = snapshotBytes(1, 2, {{3, 0, 0, 0, 0}, {4, 0, 0, 0, 0}});
    cutOff.resize(30);  // the first entry would end at byte 31
    const Bytes cases[] = {snapshotBytes(1, 0), snapshotBytes(8, {{8, 1, 2, 3, 4}}), cutOff};
    for (const Bytes& bytes : cases) {
        PeerTable table = {{3, {1, 2, 3, 4}}, {4, {5, 6, 7, 8}}};
        SnapshotDrain drain;
        offer(drain, bytes);
        finishDrain(drain, table);
        EXPECT_TRUE(table.empty()) << bytes.size() << "-byte snapshot";
    }
}

TEST(SnapshotDrain, RepeatedIdKeepsTheLaterPose) {
    SnapshotDrain drain;
    offer(drain, snapshotBytes(1, {{4, 1, 1, 1, 1}, {4, 2, 3, 1.7f, 5}}));
    PeerTable table;
    finishDrain(drain, table);
    ASSERT_EQ(idsOf(table), Ids({4}));
    EXPECT_EQ(table.at(4).x, 2.0f);
    EXPECT_EQ(table.at(4).y, 3.0f);
    EXPECT_EQ(table.at(4).yaw, 5.0f);
}

TEST(SnapshotDrain, WithoutSnapshotLeavesTableUnchanged) {
    PeerTable empty;
    SnapshotDrain nothing;
    finishDrain(nothing, empty);
    EXPECT_TRUE(empty.empty());

    PeerTable table = {{3, {1, 2, 3, 4}}};
    SnapshotDrain onlyRejected;
    offer(onlyRejected, Bytes{'K', 'V', '0', '1', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    finishDrain(onlyRejected, table);
    ASSERT_EQ(idsOf(table), Ids({3}));
    EXPECT_EQ(table.at(3).x, 1.0f);
    EXPECT_EQ(table.at(3).yaw, 4.0f);
}

TEST(SnapshotDrain, ReplacesTheTableRatherThanMerging) {
    PeerTable table = {{1, {1, 1, 1, 1}}, {2, {2, 2, 2, 2}}};
    SnapshotDrain drain;
    offer(drain, snapshotBytes(9, {{3, 3, 3, 3, 3}}));
    finishDrain(drain, table);
    EXPECT_EQ(idsOf(table), Ids({3}));
}

TEST(SnapshotDrain, IsReadyForReuseAfterFinishing) {
    SnapshotDrain drain;
    offer(drain, snapshotBytes(1, {{3, 0, 0, 0, 0}}));
    PeerTable table;
    finishDrain(drain, table);
    EXPECT_FALSE(drain.sawSnapshot);
    EXPECT_EQ(drain.acceptedLength, 0u);

    // A second drain that sees nothing must not reapply the first one's players.
    table = {{8, {0, 0, 0, 0}}};
    finishDrain(drain, table);
    EXPECT_EQ(idsOf(table), Ids({8}));
}

// Datagrams received in place, as the link receives them: a rejected datagram lands in the
// buffer the accepted snapshot does not hold, whatever came before.
TEST(SnapshotDrain, ReceivingInPlaceNeverOverwritesTheLastAcceptedSnapshot) {
    const auto receive = [](SnapshotDrain& drain, const Bytes& bytes) {
        std::copy(bytes.begin(), bytes.end(), receiveBuffer(drain).begin());
        takeReceived(drain, bytes.size());
    };
    const Bytes garbage(40, 0xEE);
    SnapshotDrain drain;
    receive(drain, snapshotBytes(1, {{3, 3, 3, 1.7f, 3}}));
    receive(drain, garbage);
    receive(drain, garbage);
    receive(drain, snapshotBytes(1, {{4, 4, 4, 1.7f, 4}, {5, 5, 5, 1.7f, 5}}));
    receive(drain, garbage);
    receive(drain, Bytes{'K', 'V', '0', '1', 1});
    PeerTable table;
    finishDrain(drain, table);
    EXPECT_EQ(idsOf(table), Ids({4, 5}));
    EXPECT_EQ(table.at(5).yaw, 5.0f);
}

TEST(SnapshotDrain, OfferedBytesAreCutToTheReceiveBuffer) {
    // 210 entries announced and present: only the 204 whole ones inside 4096 bytes are read.
    Bytes bytes = snapshotBytes(1, 210);
    for (std::uint32_t id = 100; id < 310; ++id) {
        test::appendPeer(bytes, {id, 0, 0, 1.7f, 0});
    }
    SnapshotDrain drain;
    offer(drain, bytes);
    PeerTable table;
    finishDrain(drain, table);
    EXPECT_EQ(table.size(), 204u);
    EXPECT_TRUE(table.contains(303));
    EXPECT_FALSE(table.contains(304));
}

}  // namespace
}  // namespace brassmoor
