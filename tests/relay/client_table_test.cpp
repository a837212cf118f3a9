// Tests of the relay's client table: one slot per sender, a cap, idle expiry and stale routes.
#include <gtest/gtest.h>

#include <vector>

#include "client_table.h"

namespace brassmoor {
namespace {

const Ipv4Endpoint Alice{0x7F000001, 5000};
const Ipv4Endpoint Bob{0x7F000001, 5001};
const Ipv4Endpoint Carol{0x0A000001, 5000};

TEST(ClientTable, EachSenderKeepsOneSlot) {
    ClientTable table = makeClientTable(4);
    const AdmissionResult alice = admitClient(table, Alice, 0.0);
    const AdmissionResult bob = admitClient(table, Bob, 0.0);
    EXPECT_EQ(alice.admission, Admission::Added);
    EXPECT_EQ(bob.admission, Admission::Added);
    EXPECT_NE(alice.slot, bob.slot);
    const AdmissionResult again = admitClient(table, Alice, 1.0);
    EXPECT_EQ(again.admission, Admission::Known);
    EXPECT_EQ(again.slot, alice.slot);
    EXPECT_EQ(clientCount(table), 2u);
}

TEST(ClientTable, RefusesANewClientWhenFullUntilOneFallsSilent) {
    ClientTable table = makeClientTable(2);
    admitClient(table, Alice, 0.0);
    admitClient(table, Bob, 5.0);
    EXPECT_EQ(admitClient(table, Carol, 6.0).admission, Admission::Full);
    // A known client is still let in.
    EXPECT_EQ(admitClient(table, Bob, 6.0).admission, Admission::Known);

    std::vector<std::uint32_t> forgotten;
    forgetIdleClients(table, 10.5, 10.0, forgotten);
    ASSERT_EQ(forgotten.size(), 1u);
    EXPECT_FALSE(table.slots[forgotten[0]].inUse);
    const AdmissionResult carol = admitClient(table, Carol, 10.5);
    EXPECT_EQ(carol.admission, Admission::Added);
    EXPECT_EQ(carol.slot, forgotten[0]);
}

TEST(ClientTable, OnlyClientsSilentLongerThanTheIdleTimeAreForgotten) {
    ClientTable table = makeClientTable(4);
    admitClient(table, Alice, 0.0);
    admitClient(table, Bob, 0.0);
    admitClient(table, Alice, 8.0);  // heard again
    std::vector<std::uint32_t> forgotten;
    forgetIdleClients(table, 10.0, 10.0, forgotten);
    EXPECT_TRUE(forgotten.empty());
    forgetIdleClients(table, 10.01, 10.0, forgotten);
    ASSERT_EQ(forgotten.size(), 1u);
    EXPECT_EQ(table.slots[forgotten[0]].address, Bob);
    EXPECT_EQ(clientCount(table), 1u);
}

TEST(ClientTable, ARouteToAForgottenClientLeadsNowhereEvenWhenItsSlotIsTaken) {
    ClientTable table = makeClientTable(1);
    const AdmissionResult alice = admitClient(table, Alice, 0.0);
    table.slots[alice.slot].awaitingFollower[0] = 17;
    const Route route{Direction::Down, alice.slot, table.slots[alice.slot].generation};
    ASSERT_EQ(clientOnRoute(table, route), &table.slots[alice.slot]);

    forgetClient(table, alice.slot);
    EXPECT_EQ(clientOnRoute(table, route), nullptr);
    const AdmissionResult bob = admitClient(table, Bob, 1.0);
    ASSERT_EQ(bob.slot, alice.slot);
    EXPECT_EQ(clientOnRoute(table, route), nullptr);
    EXPECT_EQ(table.slots[bob.slot].awaitingFollower[0], 0u);
    EXPECT_EQ(clientOnRoute(table, Route{Direction::Up, 5, 0}), nullptr);
}

}  // namespace
}  // namespace brassmoor
