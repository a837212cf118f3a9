// The fixed-capacity peer table: lookups through collisions, overwriting, clearing, filling up.
#include "net/peer_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace brassmoor {
namespace {

using Ids = std::vector<std::uint32_t>;

PeerState stateFor(std::uint32_t id) {
    return PeerState{static_cast<float>(id), -static_cast<float>(id), 1.7f, 0.001f * static_cast<float>(id)};
}

// `count` ids, in ascending order, whose probing starts at `slot`.
Ids idsWithHomeSlot(std::size_t slot, std::size_t count) {
    Ids ids;
    for (std::uint32_t id = 0; ids.size() < count; ++id) {
        if (peerTableHomeSlot(id) == slot) {
            ids.push_back(id);
        }
    }
    return ids;
}

Ids idsOf(const PeerTable& table) {
    Ids ids;
    for (const auto& [id, state] : table) {
        ids.push_back(id);
    }
    return ids;
}

void expectHolds(const PeerTable& table, const Ids& ids) {
    for (const std::uint32_t id : ids) {
        ASSERT_TRUE(table.contains(id)) << "id " << id;
        EXPECT_EQ(table.at(id).x, stateFor(id).x) << "id " << id;
        EXPECT_EQ(table.at(id).yaw, stateFor(id).yaw) << "id " << id;
    }
}

TEST(PeerTable, CollidingIdsAreEachFoundWithTheirOwnState) {
    // The last slot's run wraps round to the first slots, where ids of their own are waiting.
    const Ids last = idsWithHomeSlot(PeerTable::IndexSlots - 1, 5);
    const Ids first = idsWithHomeSlot(0, 3);
    PeerTable table;
    for (const std::uint32_t id : first) {
        ASSERT_TRUE(table.insert_or_assign(id, stateFor(id)));
    }
    for (const std::uint32_t id : last) {
        ASSERT_TRUE(table.insert_or_assign(id, stateFor(id)));
    }
    EXPECT_EQ(table.size(), first.size() + last.size());
    expectHolds(table, first);
    expectHolds(table, last);
    // An absent id whose probe crosses the whole run is not found.
    const Ids absent = idsWithHomeSlot(PeerTable::IndexSlots - 1, 6);
    EXPECT_FALSE(table.contains(absent.back()));
    EXPECT_EQ(table.find(absent.back()), table.end());
}

TEST(PeerTable, SettingAnIdAgainOverwritesWithoutAddingAnEntry) {
    const Ids same = idsWithHomeSlot(17, 3);
    PeerTable table;
    for (const std::uint32_t id : same) {
        table.insert_or_assign(id, stateFor(id));
    }
    ASSERT_TRUE(table.insert_or_assign(same[1], PeerState{9, 8, 7, 6}));
    EXPECT_EQ(table.size(), 3u);
    EXPECT_EQ(table.at(same[1]).x, 9.0f);
    EXPECT_EQ(table.at(same[1]).yaw, 6.0f);
    EXPECT_EQ(table.at(same[2]).x, stateFor(same[2]).x);
}

TEST(PeerTable, ClearForgetsEveryEntryAndTheTableFillsAgain) {
    PeerTable table = {{1, stateFor(1)}, {2, stateFor(2)}};
    table.clear();
    EXPECT_TRUE(table.empty());
    EXPECT_FALSE(table.contains(1));
    EXPECT_EQ(table.begin(), table.end());
    table.insert_or_assign(2, stateFor(20));
    EXPECT_EQ(idsOf(table), Ids({2}));
    EXPECT_EQ(table.at(2).x, 20.0f);
}

TEST(PeerTable, AFullTableRefusesNewIdsButStillUpdatesKnownOnes) {
    // Ids a server hands out in a row, and ids that all share few home slots.
    for (const std::uint32_t stride : {1u, 512u, 4096u}) {
        PeerTable table;
        Ids inserted;
        for (std::uint32_t i = 0; i < PeerTable::Capacity; ++i) {
            const std::uint32_t id = 1 + i * stride;
            ASSERT_TRUE(table.insert_or_assign(id, stateFor(id))) << "stride " << stride;
            inserted.push_back(id);
        }
        ASSERT_EQ(table.size(), PeerTable::Capacity);
        expectHolds(table, inserted);

        const std::uint32_t newcomer = 0xFFFFFFFFu;
        EXPECT_FALSE(table.insert_or_assign(newcomer, stateFor(1)));
        EXPECT_FALSE(table.contains(newcomer));
        EXPECT_EQ(table.size(), PeerTable::Capacity);
        EXPECT_TRUE(table.insert_or_assign(inserted[100], PeerState{-1, -1, -1, -1}));
        EXPECT_EQ(table.at(inserted[100]).x, -1.0f);
    }
}

TEST(PeerTable, IterationVisitsEachEntryOnceInInsertionOrder) {
    PeerTable table;
    Ids expected;
    for (std::uint32_t id = 4000000000u; expected.size() < 150; id -= 7919u) {
        table.insert_or_assign(id, stateFor(id));
        expected.push_back(id);
    }
    table.insert_or_assign(expected[3], stateFor(expected[3]));  // an update keeps the entry's place
    EXPECT_EQ(idsOf(table), expected);
    for (const auto& [id, state] : table) {
        EXPECT_EQ(state.x, stateFor(id).x);
    }
}

TEST(PeerTable, ACopyIsIndependentOfItsOriginal) {
    PeerTable original = {{5, stateFor(5)}, {6, stateFor(6)}};
    PeerTable copy = original;
    original.clear();
    original.insert_or_assign(7, stateFor(7));
    EXPECT_EQ(idsOf(copy), Ids({5, 6}));
    expectHolds(copy, {5, 6});
    EXPECT_EQ(idsOf(original), Ids({7}));
}

TEST(PeerTable, InitialEntriesKeepTheLaterStateOfARepeatedId) {
    const PeerTable table = {{3, stateFor(3)}, {3, stateFor(30)}};
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(table.at(3).x, 30.0f);
}

TEST(PeerTableDeathTest, AskingForAnAbsentIdAborts) {
    const PeerTable table = {{3, stateFor(3)}};
    EXPECT_DEATH(table.at(4), "no entry for id 4");
}

}  // namespace
}  // namespace brassmoor
