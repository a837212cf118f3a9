// Tests of the server's client registry: ids per address and port, forgetting, pose acceptance, the cap
// on clients and the snapshot credit each pose earns.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "registry.h"

namespace brassmoor {
namespace {

// x = 1.0, y = 2.0, z = 1.7, yaw = -0.5, pitch = 0.25
constexpr std::array<std::uint8_t, 25> WellFormedPose = {
    'K',  'V',  '0',  '1',  0x01, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40,
    0x9A, 0x99, 0xD9, 0x3F, 0x00, 0x00, 0x00, 0xBF, 0x00, 0x00, 0x80, 0x3E,
};

constexpr ClientAddress Alice{0x7F000001, 50001};       // 127.0.0.1:50001
constexpr ClientAddress AliceAgain{0x7F000001, 50002};  // same host, another port
constexpr ClientAddress Bob{0x0A000002, 50001};         // 10.0.0.2:50001
constexpr ClientAddress Carol{0x0A000003, 50001};       // 10.0.0.3:50001

struct RegistryFixture : ::testing::Test {
    ClientRegistry registry;
    IdSource ids;
    TrafficCounters counters;

    PoseResult send(const ClientAddress& from, std::span<const std::uint8_t> bytes, double now) {
        return acceptDatagram(registry, ids, counters, from, bytes, now);
    }
    PoseResult sendPose(const ClientAddress& from, double now) {
        return send(from, WellFormedPose, now);
    }
    Client& clientAt(const ClientAddress& address) {
        for (Client& c : registry.clients) {
            if (c.address == address) return c;
        }
        ADD_FAILURE() << formatIpv4Endpoint(address) << " is not a client";
        return notAClient;
    }
    Client notAClient{};
    // Spends credit for this client as many times as ticks; returns how many snapshots it was sent.
    int snapshotsOver(const ClientAddress& address, int ticks) {
        int sent = 0;
        for (int i = 0; i < ticks; ++i)
            sent += spendSnapshotCredit(clientAt(address), counters) ? 1 : 0;
        return sent;
    }
};

using ClientIds = RegistryFixture;

TEST_F(ClientIds, FirstPoseJoinsWithIdOne) {
    const PoseResult result = sendPose(Alice, 0.0);
    EXPECT_EQ(result.outcome, PoseOutcome::Joined);
    EXPECT_EQ(result.clientId, 1u);
    ASSERT_EQ(registry.clients.size(), 1u);
    EXPECT_TRUE(registry.clients[0].address == Alice);
}

TEST_F(ClientIds, LaterPosesFromTheSameAddressKeepTheId) {
    sendPose(Alice, 0.0);
    const PoseResult second = sendPose(Alice, 0.1);
    const PoseResult third = sendPose(Alice, 0.2);
    EXPECT_EQ(second.outcome, PoseOutcome::Updated);
    EXPECT_EQ(second.clientId, 1u);
    EXPECT_EQ(third.clientId, 1u);
    EXPECT_EQ(registry.clients.size(), 1u);
}

TEST_F(ClientIds, DistinctPortsOnOneHostAreDistinctClients) {
    EXPECT_EQ(sendPose(Alice, 0.0).clientId, 1u);
    EXPECT_EQ(sendPose(AliceAgain, 0.0).clientId, 2u);
    EXPECT_EQ(sendPose(Bob, 0.0).clientId, 3u);
    EXPECT_EQ(sendPose(AliceAgain, 0.1).clientId, 2u);
    EXPECT_EQ(registry.clients.size(), 3u);
}

TEST_F(ClientIds, IdsAreSharedWithWhateverTookIdsBefore) {
    // The bots take their ids from the same source first.
    EXPECT_EQ(takeId(ids), 1u);
    EXPECT_EQ(takeId(ids), 2u);
    EXPECT_EQ(sendPose(Alice, 0.0).clientId, 3u);
}

TEST_F(ClientIds, AClientThatComesBackAfterBeingForgottenGetsANewId) {
    sendPose(Alice, 0.0);
    ASSERT_EQ(forgetSilentClients(registry, 10.0, 5.0).size(), 1u);
    const PoseResult back = sendPose(Alice, 10.5);
    EXPECT_EQ(back.outcome, PoseOutcome::Joined);
    EXPECT_EQ(back.clientId, 2u);
}

TEST_F(ClientIds, FindClientByIdKnowsOnlyThePresentOnes) {
    sendPose(Alice, 0.0);
    sendPose(Bob, 0.0);
    ASSERT_NE(findClient(registry, 2), nullptr);
    EXPECT_TRUE(findClient(registry, 2)->address == Bob);
    EXPECT_EQ(findClient(registry, 3), nullptr);
    EXPECT_EQ(findClient(registry, 0), nullptr);
}

TEST(ClientAddressText, IsDottedDecimalWithPort) {
    EXPECT_EQ(formatIpv4Endpoint(ClientAddress{0x7F000001, 5555}), "127.0.0.1:5555");
    EXPECT_EQ(formatIpv4Endpoint(ClientAddress{0xC0A8FF0A, 65535}), "192.168.255.10:65535");
    EXPECT_EQ(formatIpv4Endpoint(ClientAddress{0, 0}), "0.0.0.0:0");
}

using PoseAcceptance = RegistryFixture;

TEST_F(PoseAcceptance, RecordsThePoseAsReceived) {
    sendPose(Alice, 3.5);
    ASSERT_EQ(registry.clients.size(), 1u);
    const Client& client = registry.clients[0];
    EXPECT_EQ(client.state.x, 1.0f);
    EXPECT_EQ(client.state.y, 2.0f);
    EXPECT_EQ(client.state.z, 1.7f);
    EXPECT_EQ(client.state.yaw, -0.5f);
    EXPECT_EQ(client.lastHeard, 3.5);
}

TEST_F(PoseAcceptance, ANewPoseReplacesTheOldOne) {
    sendPose(Alice, 0.0);
    // x = 3.0, y = -4.0, z = 0.0 (relayed, not corrected), yaw = 2.0, pitch = 0
    const std::array<std::uint8_t, 25> moved = {
        'K',  'V',  '0',  '1',  0x01, 0x00, 0x00, 0x40, 0x40, 0x00, 0x00, 0x80, 0xC0,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00,
    };
    EXPECT_EQ(send(Alice, moved, 1.0).outcome, PoseOutcome::Updated);
    const Client& client = registry.clients[0];
    EXPECT_EQ(client.state.x, 3.0f);
    EXPECT_EQ(client.state.y, -4.0f);
    EXPECT_EQ(client.state.z, 0.0f);
    EXPECT_EQ(client.state.yaw, 2.0f);
    EXPECT_EQ(client.lastHeard, 1.0);
}

TEST_F(PoseAcceptance, MalformedDatagramsAreDroppedAndCounted) {
    std::vector<std::vector<std::uint8_t>> malformed;
    malformed.emplace_back(WellFormedPose.begin(), WellFormedPose.end() - 1);  // 24 bytes
    malformed.emplace_back(WellFormedPose.begin(), WellFormedPose.end());
    malformed.back().push_back(0x00);  // 26 bytes
    malformed.emplace_back(WellFormedPose.begin(), WellFormedPose.end());
    malformed.back()[3] = '2';  // "KV02"
    malformed.emplace_back(WellFormedPose.begin(), WellFormedPose.end());
    malformed.back()[0] = 'k';  // "kV01"
    malformed.emplace_back(WellFormedPose.begin(), WellFormedPose.end());
    malformed.back()[4] = 0x02;  // a snapshot's type
    malformed.emplace_back();    // empty

    for (const auto& bytes : malformed) {
        const PoseResult result = send(Alice, bytes, 0.0);
        EXPECT_EQ(result.outcome, PoseOutcome::Dropped) << bytes.size() << " bytes";
        EXPECT_EQ(result.clientId, 0u);
    }
    EXPECT_TRUE(registry.clients.empty());
    EXPECT_EQ(counters.datagramsIn, 6u);
    EXPECT_EQ(counters.dropped, 6u);

    sendPose(Alice, 0.0);
    EXPECT_EQ(counters.datagramsIn, 7u);
    EXPECT_EQ(counters.dropped, 6u);
    EXPECT_EQ(registry.clients.size(), 1u);
}

TEST_F(PoseAcceptance, AMalformedDatagramLeavesAKnownClientsPoseAlone) {
    sendPose(Alice, 1.0);
    const std::array<std::uint8_t, 24> shortPose = {'K', 'V', '0', '1', 0x01};
    send(Alice, shortPose, 2.0);
    const Client& client = registry.clients[0];
    EXPECT_EQ(client.state.x, 1.0f);
    EXPECT_EQ(client.lastHeard, 1.0);
}

using SilentClients = RegistryFixture;

TEST_F(SilentClients, AreKeptUpToTheTimeout) {
    sendPose(Alice, 10.0);
    EXPECT_TRUE(forgetSilentClients(registry, 12.0, 5.0).empty());
    EXPECT_TRUE(forgetSilentClients(registry, 15.0, 5.0).empty());
    EXPECT_EQ(registry.clients.size(), 1u);
}

TEST_F(SilentClients, AreForgottenJustAfterTheTimeout) {
    sendPose(Alice, 10.0);
    const std::vector<Client> gone = forgetSilentClients(registry, 15.01, 5.0);
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].id, 1u);
    EXPECT_TRUE(gone[0].address == Alice);
    EXPECT_TRUE(registry.clients.empty());
    EXPECT_TRUE(registry.idByAddress.empty());
}

TEST_F(SilentClients, AFreshPoseStartsTheTimeoutAgain) {
    sendPose(Alice, 10.0);
    sendPose(Alice, 14.0);
    EXPECT_TRUE(forgetSilentClients(registry, 18.0, 5.0).empty());
    EXPECT_EQ(forgetSilentClients(registry, 19.5, 5.0).size(), 1u);
}

TEST_F(SilentClients, OnlyTheSilentOnesGoAndTheRestKeepTheirOrder) {
    sendPose(Alice, 0.0);       // id 1, silent
    sendPose(AliceAgain, 0.0);  // id 2, keeps talking
    sendPose(Bob, 0.0);         // id 3, silent
    sendPose(AliceAgain, 4.0);
    const std::vector<Client> gone = forgetSilentClients(registry, 6.0, 5.0);
    ASSERT_EQ(gone.size(), 2u);
    EXPECT_EQ(gone[0].id, 1u);
    EXPECT_EQ(gone[1].id, 3u);
    ASSERT_EQ(registry.clients.size(), 1u);
    EXPECT_EQ(registry.clients[0].id, 2u);
    // The remaining client is still found by its address.
    EXPECT_EQ(sendPose(AliceAgain, 6.5).outcome, PoseOutcome::Updated);
    EXPECT_EQ(sendPose(Bob, 6.5).clientId, 4u);
}

using ClientCap = RegistryFixture;

TEST_F(ClientCap, NewAddressesBeyondTheCapAreRefusedAndCounted) {
    registry.maxClients = 2;
    EXPECT_EQ(sendPose(Alice, 0.0).outcome, PoseOutcome::Joined);
    EXPECT_EQ(sendPose(Bob, 0.0).outcome, PoseOutcome::Joined);
    const PoseResult refused = sendPose(Carol, 0.0);
    EXPECT_EQ(refused.outcome, PoseOutcome::Refused);
    EXPECT_EQ(refused.clientId, 0u);
    EXPECT_EQ(sendPose(Carol, 0.1).outcome, PoseOutcome::Refused);
    EXPECT_EQ(registry.clients.size(), 2u);
    EXPECT_EQ(registry.idByAddress.size(), 2u);
    EXPECT_EQ(counters.refused, 2u);
    EXPECT_EQ(counters.dropped, 0u);
    EXPECT_EQ(counters.datagramsIn, 4u);
}

TEST_F(ClientCap, KnownClientsAreStillServedWhileTheTableIsFull) {
    registry.maxClients = 2;
    sendPose(Alice, 0.0);
    sendPose(Bob, 0.0);
    for (int i = 0; i < 50; ++i)
        sendPose(ClientAddress{0xC0000200u + static_cast<std::uint32_t>(i), 9}, 0.5);
    const PoseResult alice = sendPose(Alice, 1.0);
    EXPECT_EQ(alice.outcome, PoseOutcome::Updated);
    EXPECT_EQ(alice.clientId, 1u);
    EXPECT_EQ(clientAt(Alice).lastHeard, 1.0);
    EXPECT_EQ(counters.refused, 50u);
}

TEST_F(ClientCap, AMalformedDatagramFromANewAddressIsDroppedNotRefused) {
    registry.maxClients = 1;
    sendPose(Alice, 0.0);
    const std::array<std::uint8_t, 5> junk = {'K', 'V', '0', '1', 0x01};
    EXPECT_EQ(send(Bob, junk, 0.0).outcome, PoseOutcome::Dropped);
    EXPECT_EQ(counters.dropped, 1u);
    EXPECT_EQ(counters.refused, 0u);
}

TEST_F(ClientCap, ASeatFreedByForgettingGoesToTheNextNewcomerWithAFreshId) {
    registry.maxClients = 2;
    sendPose(Alice, 0.0);  // id 1, falls silent
    sendPose(Bob, 4.0);    // id 2
    EXPECT_EQ(sendPose(Carol, 4.0).outcome, PoseOutcome::Refused);
    ASSERT_EQ(forgetSilentClients(registry, 6.0, 5.0).size(), 1u);
    // Refusals took no id, so the next one handed out is 3.
    const PoseResult carol = sendPose(Carol, 6.0);
    EXPECT_EQ(carol.outcome, PoseOutcome::Joined);
    EXPECT_EQ(carol.clientId, 3u);
    EXPECT_EQ(sendPose(Alice, 6.0).outcome, PoseOutcome::Refused);
}

TEST_F(ClientCap, CountersAddUpOverAMixOfDatagrams) {
    registry.maxClients = 2;
    const std::array<std::uint8_t, 3> junk = {1, 2, 3};
    int joined = 0;
    int updated = 0;
    for (int round = 0; round < 4; ++round) {
        for (const ClientAddress& from : {Alice, Bob, Carol}) {
            const PoseOutcome outcome = sendPose(from, round).outcome;
            joined += outcome == PoseOutcome::Joined ? 1 : 0;
            updated += outcome == PoseOutcome::Updated ? 1 : 0;
            send(from, junk, round);
        }
    }
    EXPECT_EQ(joined, 2);
    EXPECT_EQ(updated, 6);
    EXPECT_EQ(counters.refused, 4u);
    EXPECT_EQ(counters.dropped, 12u);
    EXPECT_EQ(counters.datagramsIn, joined + updated + counters.refused + counters.dropped);
}

using SnapshotCredit = RegistryFixture;

TEST_F(SnapshotCredit, ANewClientStartsWithTheCreditOfItsFirstPoseOnly) {
    sendPose(Alice, 0.0);
    EXPECT_EQ(clientAt(Alice).snapshotCredit, 1u);
    EXPECT_EQ(snapshotsOver(Alice, 10), 1);
    EXPECT_EQ(counters.withheld, 9u);
}

TEST_F(SnapshotCredit, EachPoseEarnsOneAndEachSnapshotSpendsOne) {
    sendPose(Alice, 0.0);
    sendPose(Alice, 0.01);
    EXPECT_EQ(clientAt(Alice).snapshotCredit, 2u);
    EXPECT_TRUE(spendSnapshotCredit(clientAt(Alice), counters));
    EXPECT_EQ(clientAt(Alice).snapshotCredit, 1u);
    EXPECT_TRUE(spendSnapshotCredit(clientAt(Alice), counters));
    EXPECT_EQ(clientAt(Alice).snapshotCredit, 0u);
    EXPECT_FALSE(spendSnapshotCredit(clientAt(Alice), counters));
    EXPECT_EQ(clientAt(Alice).snapshotCredit, 0u);
    EXPECT_EQ(counters.withheld, 1u);
}

TEST_F(SnapshotCredit, NeverBanksMoreThanTheAllowance) {
    for (int i = 0; i < 20; ++i)
        sendPose(Alice, 0.001 * i);
    EXPECT_EQ(clientAt(Alice).snapshotCredit, SnapshotCreditAllowance);
    EXPECT_EQ(snapshotsOver(Alice, 20), 3);
}

TEST_F(SnapshotCredit, ADuplicatePoseEarnsLikeAnyOther) {
    sendPose(Alice, 1.0);
    sendPose(Alice, 1.0);  // the same bytes at the same moment
    EXPECT_EQ(clientAt(Alice).snapshotCredit, 2u);
}

TEST_F(SnapshotCredit, DroppedAndRefusedDatagramsEarnNothing) {
    registry.maxClients = 1;
    sendPose(Alice, 0.0);
    ASSERT_TRUE(spendSnapshotCredit(clientAt(Alice), counters));
    const std::array<std::uint8_t, 24> shortPose = {'K', 'V', '0', '1', 0x01};
    send(Alice, shortPose, 0.1);
    sendPose(Bob, 0.1);
    EXPECT_EQ(clientAt(Alice).snapshotCredit, 0u);
    EXPECT_EQ(registry.clients.size(), 1u);
}

TEST_F(SnapshotCredit, AClientThatComesBackAfterBeingForgottenStartsAfresh) {
    for (int i = 0; i < 3; ++i)
        sendPose(Alice, 0.0);
    forgetSilentClients(registry, 10.0, 5.0);
    sendPose(Alice, 10.0);
    EXPECT_EQ(clientAt(Alice).snapshotCredit, 1u);
}

TEST_F(SnapshotCredit, APoseThatMissesItsTickIsAnsweredLaterNotLost) {
    sendPose(Alice, 0.0);
    int sent = snapshotsOver(Alice, 1);
    int poses = 1;
    // One pose per tick, but every seventh arrives just after its tick instead of before it.
    for (int tick = 1; tick <= 300; ++tick) {
        const double now = tick / 30.0;
        const bool late = tick % 7 == 0;
        if (!late) sendPose(Alice, now);
        sent += snapshotsOver(Alice, 1);
        if (late) sendPose(Alice, now + 0.001);
        ++poses;
    }
    // Only the first late pose costs a tick its snapshot; it stays banked and covers the later ones.
    EXPECT_EQ(counters.withheld, 1u);
    EXPECT_EQ(sent + static_cast<int>(clientAt(Alice).snapshotCredit), poses);
}

TEST_F(SnapshotCredit, SnapshotsNeverOutnumberPosesWhateverTheirTiming) {
    // One pose every third tick: a third of the tick rate comes back, not the full rate.
    int poses = 0;
    int sent = 0;
    for (int tick = 0; tick < 300; ++tick) {
        if (tick % 3 == 0) {
            sendPose(Alice, tick / 30.0);
            ++poses;
        }
        sent += spendSnapshotCredit(clientAt(Alice), counters) ? 1 : 0;
    }
    EXPECT_EQ(poses, 100);
    EXPECT_EQ(sent, 100);
    EXPECT_EQ(counters.withheld, 200u);
}

}  // namespace
}  // namespace brassmoor
