// Tests of the held-datagram schedule: time order, capacity, contents and moving one behind another.
#include <gtest/gtest.h>

#include <vector>

#include "held_schedule.h"

namespace brassmoor {
namespace {

const Route UpRoute{Direction::Up, 0, 0};

std::vector<std::uint8_t> marked(std::uint8_t mark) {
    return std::vector<std::uint8_t>{mark};
}

// Releases everything due by `now`, returning the first byte of each in the order they left.
std::vector<std::uint8_t> releaseDue(HeldSchedule& schedule, double now) {
    std::vector<std::uint8_t> marks;
    while (const HeldDatagram* due = firstDue(schedule, now)) {
        marks.push_back(due->bytes[0]);
        releaseFirst(schedule);
    }
    return marks;
}

TEST(HeldSchedule, ReleasesInSendTimeOrderAndTiesInArrivalOrder) {
    HeldSchedule schedule = makeHeldSchedule(16);
    holdDatagram(schedule, 3.0, UpRoute, marked(1));
    holdDatagram(schedule, 1.0, UpRoute, marked(2));
    holdDatagram(schedule, 2.0, UpRoute, marked(3));
    holdDatagram(schedule, 1.0, UpRoute, marked(4));
    holdDatagram(schedule, 2.0, UpRoute, marked(5));
    EXPECT_EQ(nextSendTime(schedule), 1.0);
    EXPECT_EQ(firstDue(schedule, 0.999), nullptr);
    EXPECT_EQ(releaseDue(schedule, 1.0), (std::vector<std::uint8_t>{2, 4}));
    EXPECT_EQ(releaseDue(schedule, 2.5), (std::vector<std::uint8_t>{3, 5}));
    EXPECT_EQ(heldCount(schedule), 1u);
    EXPECT_EQ(releaseDue(schedule, 10.0), (std::vector<std::uint8_t>{1}));
    EXPECT_FALSE(nextSendTime(schedule).has_value());
}

TEST(HeldSchedule, KeepsEachDatagramsBytesLengthAndRoute) {
    HeldSchedule schedule = makeHeldSchedule(4);
    const std::vector<std::uint8_t> longest(MaxRelayedDatagramSize, 0xAB);
    ASSERT_NE(holdDatagram(schedule, 2.0, Route{Direction::Down, 7, 3}, longest), 0u);
    ASSERT_NE(holdDatagram(schedule, 1.0, UpRoute, {}), 0u);
    const HeldDatagram* empty = firstDue(schedule, 5.0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->length, 0u);
    releaseFirst(schedule);
    const HeldDatagram* full = firstDue(schedule, 5.0);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->length, MaxRelayedDatagramSize);
    EXPECT_EQ(full->bytes[0], 0xAB);
    EXPECT_EQ(full->bytes[MaxRelayedDatagramSize - 1], 0xAB);
    EXPECT_EQ(full->route.direction, Direction::Down);
    EXPECT_EQ(full->route.clientSlot, 7u);
    EXPECT_EQ(full->route.clientGeneration, 3u);
}

TEST(HeldSchedule, RefusesBeyondItsCapacityAndTakesMoreOnceRoomIsFree) {
    HeldSchedule schedule = makeHeldSchedule(3);
    for (std::uint8_t i = 0; i < 3; ++i)
        ASSERT_NE(holdDatagram(schedule, 1.0, UpRoute, marked(i)), 0u);
    EXPECT_EQ(holdDatagram(schedule, 0.5, UpRoute, marked(9)), 0u);
    EXPECT_EQ(heldCount(schedule), 3u);
    // The refused one left nothing behind.
    EXPECT_EQ(releaseDue(schedule, 0.9), (std::vector<std::uint8_t>{}));
    EXPECT_EQ(releaseDue(schedule, 1.0).size(), 3u);
    for (int round = 0; round < 10; ++round) {
        ASSERT_NE(holdDatagram(schedule, 2.0, UpRoute, marked(1)), 0u);
        ASSERT_NE(holdDatagram(schedule, 2.0, UpRoute, marked(2)), 0u);
        ASSERT_EQ(releaseDue(schedule, 2.0).size(), 2u);
    }
    // Storage is reused, never grown past the capacity.
    EXPECT_LE(schedule.store.size(), 3u);
}

TEST(HeldSchedule, RefusesADatagramLongerThanItCarries) {
    HeldSchedule schedule = makeHeldSchedule(3);
    const std::vector<std::uint8_t> tooLong(MaxRelayedDatagramSize + 1, 0);
    EXPECT_EQ(holdDatagram(schedule, 1.0, UpRoute, tooLong), 0u);
    EXPECT_EQ(heldCount(schedule), 0u);
}

TEST(HeldSchedule, ADatagramMovedBehindAnotherGoesRightAfterIt) {
    HeldSchedule schedule = makeHeldSchedule(8);
    const HeldTicket first = holdDatagram(schedule, 1.10, UpRoute, marked(1));
    holdDatagram(schedule, 1.05, UpRoute, marked(2));
    holdDatagram(schedule, 1.20, UpRoute, marked(3));
    ASSERT_TRUE(rescheduleBehind(schedule, first, 1.05));
    EXPECT_EQ(releaseDue(schedule, 2.0), (std::vector<std::uint8_t>{2, 1, 3}));
    // Once sent it cannot be moved; nor can a ticket never handed out.
    EXPECT_FALSE(rescheduleBehind(schedule, first, 3.0));
    EXPECT_FALSE(rescheduleBehind(schedule, 0, 3.0));
}

TEST(HeldSchedule, ADatagramCanBeMovedLater) {
    HeldSchedule schedule = makeHeldSchedule(8);
    const HeldTicket first = holdDatagram(schedule, 1.0, UpRoute, marked(1));
    holdDatagram(schedule, 1.5, UpRoute, marked(2));
    ASSERT_TRUE(rescheduleBehind(schedule, first, 1.5));
    EXPECT_EQ(releaseDue(schedule, 1.2), (std::vector<std::uint8_t>{}));
    EXPECT_EQ(releaseDue(schedule, 1.5), (std::vector<std::uint8_t>{2, 1}));
}

TEST(HeldSchedule, CountsWhatItHoldsPerDirection) {
    HeldSchedule schedule = makeHeldSchedule(8);
    holdDatagram(schedule, 1.0, UpRoute, marked(1));
    holdDatagram(schedule, 2.0, Route{Direction::Down, 0, 0}, marked(2));
    holdDatagram(schedule, 3.0, Route{Direction::Down, 1, 0}, marked(3));
    EXPECT_EQ(heldCount(schedule, Direction::Up), 1u);
    EXPECT_EQ(heldCount(schedule, Direction::Down), 2u);
    releaseDue(schedule, 2.0);
    EXPECT_EQ(heldCount(schedule, Direction::Up), 0u);
    EXPECT_EQ(heldCount(schedule, Direction::Down), 1u);
}

}  // namespace
}  // namespace brassmoor
