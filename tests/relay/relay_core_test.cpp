// Tests of the relay core: datagrams through clients, server and schedule without a socket, and
// counters that always add up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "relay_core.h"

namespace brassmoor {
namespace {

const Ipv4Endpoint Server{0x7F000001, 40124};
const Ipv4Endpoint Alice{0x7F000001, 5000};
const Ipv4Endpoint Bob{0x7F000001, 5001};

struct Sent {
    Direction direction;
    std::uint32_t slot;
    std::vector<std::uint8_t> bytes;
};

RelayState makeState(Impairment up = {}, Impairment down = {}, std::uint32_t maxClients = 4,
                     std::uint32_t maxHeld = 64) {
    RelayOptions options;
    options.server = Server;
    options.up = up;
    options.down = down;
    options.maxClients = maxClients;
    options.maxHeld = maxHeld;
    return makeRelayState(options);
}

// What the socket loop does with due datagrams, with every send succeeding.
std::vector<Sent> sendDue(RelayState& state, double now) {
    std::vector<Sent> sent;
    while (const HeldDatagram* due = firstDue(state.held, now)) {
        if (clientOnRoute(state.clients, due->route) == nullptr) {
            completeDeparture(state, DepartureOutcome::ClientGone);
            continue;
        }
        sent.push_back(
            Sent{due->route.direction, due->route.clientSlot,
                 std::vector<std::uint8_t>(due->bytes.begin(),
                                           due->bytes.begin() + static_cast<std::ptrdiff_t>(due->length))});
        completeDeparture(state, DepartureOutcome::Sent);
    }
    return sent;
}

AdmissionResult fromClient(RelayState& state, const Ipv4Endpoint& from, std::uint8_t mark, double now) {
    std::vector<std::uint8_t> bytes{mark, 0x20, 0x30};
    return acceptFromClient(state, from, bytes, now);
}

void fromServer(RelayState& state, std::uint32_t slot, std::uint8_t mark, double now,
                const Ipv4Endpoint& from = Server) {
    std::vector<std::uint8_t> bytes{mark, 0x40};
    acceptFromServer(state, slot, from, bytes, now);
}

std::vector<std::uint8_t> marksOf(const std::vector<Sent>& sent) {
    std::vector<std::uint8_t> marks;
    for (const Sent& s : sent)
        marks.push_back(s.bytes[0]);
    return marks;
}

std::uint64_t drops(const DirectionCounters& c) {
    return c.queueFull + c.tooLong + c.refused + c.gone + c.foreign + c.sendFailed;
}

void expectCountersAddUp(const RelayState& state) {
    for (Direction direction : {Direction::Up, Direction::Down}) {
        const DirectionCounters& c = direction == Direction::Up ? state.counters.up : state.counters.down;
        EXPECT_EQ(c.in - c.lost + c.duplicated, c.out + heldCount(state.held, direction) + drops(c));
    }
}

TEST(RelayCore, ACleanRelayPassesBothWaysAtOnceForEachClient) {
    RelayState state = makeState();
    const AdmissionResult alice = fromClient(state, Alice, 1, 10.0);
    const AdmissionResult bob = fromClient(state, Bob, 2, 10.0);
    ASSERT_EQ(alice.admission, Admission::Added);
    ASSERT_EQ(bob.admission, Admission::Added);
    std::vector<Sent> sent = sendDue(state, 10.0);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].direction, Direction::Up);
    EXPECT_EQ(sent[0].slot, alice.slot);
    EXPECT_EQ(sent[0].bytes, (std::vector<std::uint8_t>{1, 0x20, 0x30}));
    EXPECT_EQ(sent[1].slot, bob.slot);

    fromServer(state, bob.slot, 3, 10.1);
    sent = sendDue(state, 10.1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].direction, Direction::Down);
    EXPECT_EQ(sent[0].slot, bob.slot);
    EXPECT_EQ(sent[0].bytes, (std::vector<std::uint8_t>{3, 0x40}));
    EXPECT_EQ(state.counters.up.in, 2u);
    EXPECT_EQ(state.counters.up.out, 2u);
    EXPECT_EQ(state.counters.down.out, 1u);
    expectCountersAddUp(state);
}

TEST(RelayCore, DatagramsNotFromTheServerAreDroppedAndCounted) {
    RelayState state = makeState();
    const AdmissionResult alice = fromClient(state, Alice, 1, 0.0);
    fromServer(state, alice.slot, 2, 0.0, Ipv4Endpoint{0x7F000001, 40125});
    EXPECT_TRUE(sendDue(state, 0.0).size() == 1);
    EXPECT_EQ(state.counters.down.foreign, 1u);
    expectCountersAddUp(state);
}

TEST(RelayCore, ANewClientBeyondTheCapIsRefusedAndCounted) {
    RelayState state = makeState({}, {}, 1);
    fromClient(state, Alice, 1, 0.0);
    EXPECT_EQ(fromClient(state, Bob, 2, 0.0).admission, Admission::Full);
    EXPECT_EQ(marksOf(sendDue(state, 0.0)), (std::vector<std::uint8_t>{1}));
    EXPECT_EQ(state.counters.up.refused, 1u);
    expectCountersAddUp(state);
}

TEST(RelayCore, ADatagramTooLongToCarryIsDroppedAndCounted) {
    RelayState state = makeState();
    std::vector<std::uint8_t> tooLong(MaxRelayedDatagramSize + 1, 1);
    acceptFromClient(state, Alice, tooLong, 0.0);
    EXPECT_TRUE(sendDue(state, 1.0).empty());
    EXPECT_EQ(state.counters.up.tooLong, 1u);
    expectCountersAddUp(state);
}

TEST(RelayCore, LossOneDropsEverythingInItsDirectionOnly) {
    RelayState state = makeState(Impairment{1.0});
    const AdmissionResult alice = fromClient(state, Alice, 1, 0.0);
    fromClient(state, Alice, 2, 0.0);
    fromServer(state, alice.slot, 3, 0.0);
    EXPECT_EQ(marksOf(sendDue(state, 5.0)), (std::vector<std::uint8_t>{3}));
    EXPECT_EQ(state.counters.up.lost, 2u);
    EXPECT_EQ(state.counters.down.lost, 0u);
    expectCountersAddUp(state);
}

TEST(RelayCore, DuplicateOneSendsEveryDatagramTwice) {
    RelayState state = makeState(Impairment{0.0, 1.0}, Impairment{0.0, 1.0});
    const AdmissionResult alice = fromClient(state, Alice, 1, 0.0);
    fromServer(state, alice.slot, 2, 0.0);
    EXPECT_EQ(marksOf(sendDue(state, 0.0)), (std::vector<std::uint8_t>{1, 1, 2, 2}));
    EXPECT_EQ(state.counters.up.duplicated, 1u);
    EXPECT_EQ(state.counters.down.out, 2u);
    expectCountersAddUp(state);
}

TEST(RelayCore, DelayHoldsEachDatagramThatLong) {
    RelayState state = makeState(Impairment{0, 0, 0, 0, 0, 100.0}, Impairment{0, 0, 0, 0, 0, 250.0});
    const AdmissionResult alice = fromClient(state, Alice, 1, 1.0);
    fromServer(state, alice.slot, 2, 1.0);
    EXPECT_TRUE(sendDue(state, 1.0999).empty());
    EXPECT_EQ(marksOf(sendDue(state, 1.1)), (std::vector<std::uint8_t>{1}));
    EXPECT_TRUE(sendDue(state, 1.2499).empty());
    EXPECT_EQ(marksOf(sendDue(state, 1.25)), (std::vector<std::uint8_t>{2}));
}

TEST(RelayCore, AReorderedDatagramGoesRightAfterTheNextOneOfItsClientAndDirection) {
    RelayState state = makeState(Impairment{0, 0, 1.0});
    fromClient(state, Alice, 1, 0.0);
    state.up.reorder = 0.0;
    fromClient(state, Bob, 2, 0.01);    // another client: not the follower
    fromClient(state, Alice, 3, 0.02);  // the follower
    fromClient(state, Alice, 4, 0.03);
    EXPECT_EQ(marksOf(sendDue(state, 0.03)), (std::vector<std::uint8_t>{2, 3, 1, 4}));
    EXPECT_EQ(state.counters.up.reordered, 1u);
    expectCountersAddUp(state);
}

TEST(RelayCore, AReorderedDatagramWithNoFollowerGoesAfterTheWaitLimit) {
    RelayState state = makeState(Impairment{0, 0, 0, 0, 0, 50.0}, Impairment{0, 0, 1.0});
    const AdmissionResult alice = fromClient(state, Alice, 1, 0.0);
    fromServer(state, alice.slot, 2, 0.0);
    // The client's datagram is the follower of nothing: the server's waits on its own.
    EXPECT_EQ(marksOf(sendDue(state, 0.05)), (std::vector<std::uint8_t>{1}));
    EXPECT_TRUE(sendDue(state, ReorderWaitSeconds - 0.001).empty());
    EXPECT_EQ(marksOf(sendDue(state, ReorderWaitSeconds)), (std::vector<std::uint8_t>{2}));
}

TEST(RelayCore, TruncationAndCorruptionAreCountedAndSentAsDamaged) {
    RelayState state = makeState(Impairment{0, 0, 0, 1.0}, Impairment{0, 0, 0, 0, 1.0});
    const AdmissionResult alice = fromClient(state, Alice, 1, 0.0);
    fromServer(state, alice.slot, 2, 0.0);
    const std::vector<Sent> sent = sendDue(state, 0.0);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_LT(sent[0].bytes.size(), 3u);
    ASSERT_EQ(sent[1].bytes.size(), 2u);
    EXPECT_NE(sent[1].bytes, (std::vector<std::uint8_t>{2, 0x40}));
    EXPECT_EQ(state.counters.up.truncated, 1u);
    EXPECT_EQ(state.counters.down.corrupted, 1u);
}

TEST(RelayCore, AfterImpairingStopsDatagramsPassStraightThrough) {
    RelayState state = makeState(Impairment{1.0, 0, 0, 0, 0, 500.0}, Impairment{0, 1.0, 0, 0, 1.0, 500.0});
    const AdmissionResult alice = fromClient(state, Alice, 1, 0.0);
    fromServer(state, alice.slot, 2, 0.0);
    stopImpairing(state);
    fromClient(state, Alice, 3, 0.1);
    fromServer(state, alice.slot, 4, 0.1);
    const std::vector<Sent> now = sendDue(state, 0.1);
    ASSERT_EQ(now.size(), 2u);
    EXPECT_EQ(now[0].bytes, (std::vector<std::uint8_t>{3, 0x20, 0x30}));
    EXPECT_EQ(now[1].bytes, (std::vector<std::uint8_t>{4, 0x40}));
    // The two copies held before go at their times, damaged as they were.
    const std::vector<Sent> later = sendDue(state, 1.0);
    ASSERT_EQ(later.size(), 2u);
    EXPECT_NE(later[0].bytes, (std::vector<std::uint8_t>{2, 0x40}));
    EXPECT_EQ(later[0].bytes, later[1].bytes);
    expectCountersAddUp(state);
}

TEST(RelayCore, AFullScheduleDropsAndCounts) {
    RelayState state = makeState(Impairment{0, 0, 0, 0, 0, 100.0}, {}, 4, 2);
    for (std::uint8_t mark = 1; mark <= 5; ++mark)
        fromClient(state, Alice, mark, 0.0);
    EXPECT_EQ(state.counters.up.queueFull, 3u);
    expectCountersAddUp(state);
    EXPECT_EQ(marksOf(sendDue(state, 1.0)), (std::vector<std::uint8_t>{1, 2}));
}

TEST(RelayCore, DatagramsHeldForAForgottenClientAreCountedGone) {
    RelayState state = makeState(Impairment{0, 0, 0, 0, 0, 100.0}, Impairment{0, 0, 0, 0, 0, 100.0});
    const AdmissionResult alice = fromClient(state, Alice, 1, 0.0);
    fromServer(state, alice.slot, 2, 0.0);
    forgetClient(state.clients, alice.slot);
    fromClient(state, Bob, 3, 0.0);  // takes the same slot meanwhile
    EXPECT_EQ(marksOf(sendDue(state, 1.0)), (std::vector<std::uint8_t>{3}));
    EXPECT_EQ(state.counters.up.gone, 1u);
    EXPECT_EQ(state.counters.down.gone, 1u);
    expectCountersAddUp(state);
}

TEST(RelayCore, CountersAddUpAtEveryStepOfAnImpairedRun) {
    const Impairment rough{0.25, 0.25, 0.1, 0.02, 0.02, 100.0, 50.0};
    RelayState state = makeState(rough, rough, 2, 40);
    std::uint64_t sentUp = 0;
    for (int step = 0; step < 3000; ++step) {
        const double now = step * 0.01;
        const AdmissionResult a = fromClient(state, step % 3 == 0 ? Bob : Alice, 1, now);
        fromServer(state, a.slot, 2, now);
        if (step % 500 == 0) forgetClient(state.clients, 0);
        for (const Sent& s : sendDue(state, now))
            sentUp += s.direction == Direction::Up;
        expectCountersAddUp(state);
        if (HasFailure()) return;
    }
    EXPECT_EQ(sentUp, state.counters.up.out);
    EXPECT_GT(state.counters.up.lost, 0u);
    EXPECT_GT(state.counters.up.reordered, 0u);
    EXPECT_GT(state.counters.down.truncated, 0u);
    EXPECT_GT(state.counters.up.gone + state.counters.down.gone, 0u);
}

TEST(RelayCore, TheSameSeedRelaysTheSameWay) {
    const Impairment rough{0.25, 0.25, 0.1, 0.02, 0.02, 100.0, 50.0};
    RelayState a = makeState(rough, rough);
    RelayState b = makeState(rough, rough);
    std::vector<Sent> sentA, sentB;
    for (int step = 0; step < 500; ++step) {
        const double now = step * 0.01;
        fromClient(a, Alice, static_cast<std::uint8_t>(step), now);
        fromClient(b, Alice, static_cast<std::uint8_t>(step), now);
        for (Sent& s : sendDue(a, now))
            sentA.push_back(std::move(s));
        for (Sent& s : sendDue(b, now))
            sentB.push_back(std::move(s));
    }
    ASSERT_EQ(sentA.size(), sentB.size());
    for (std::size_t i = 0; i < sentA.size(); ++i)
        ASSERT_EQ(sentA[i].bytes, sentB[i].bytes) << i;
}

TEST(RelayCore, TheStatusLineShowsEveryCounterOfBothDirections) {
    RelayState state = makeState(Impairment{1.0}, {}, 1);
    const AdmissionResult alice = fromClient(state, Alice, 1, 0.0);
    fromClient(state, Bob, 2, 0.0);
    fromServer(state, alice.slot, 3, 0.0);
    fromServer(state, alice.slot, 4, 0.0, Bob);
    EXPECT_EQ(formatStatusLine(state),
              "status clients=1"
              " | up in=2 out=0 lost=1 duplicated=0 reordered=0 truncated=0 corrupted=0 held=0 full=0"
              " too-long=0 refused=1 gone=0 foreign=0 send-failed=0"
              " | down in=2 out=0 lost=0 duplicated=0 reordered=0 truncated=0 corrupted=0 held=1 full=0"
              " too-long=0 refused=0 gone=0 foreign=1 send-failed=0");
    EXPECT_EQ(formatImpairments(state),
              "up: loss=1 duplicate=0 reorder=0 truncate=0 corrupt=0 delay=0ms jitter=0ms"
              " | down: loss=0 duplicate=0 reorder=0 truncate=0 corrupt=0 delay=0ms jitter=0ms");
}

}  // namespace
}  // namespace brassmoor
