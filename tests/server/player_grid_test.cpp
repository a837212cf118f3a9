// Tests of the grid's choice of each receiver's nearest players against selectSnapshotEntries, which
// looks at every player: the same entries in the same order on random and adversarial worlds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bots.h"
#include "player_grid.h"
#include "registry.h"
#include "snapshot_builder.h"

namespace brassmoor {
namespace {

constexpr float Infinity = std::numeric_limits<float>::infinity();
constexpr float NotANumber = std::numeric_limits<float>::quiet_NaN();

std::vector<SnapshotEntry> playersAt(const std::vector<std::pair<float, float>>& positions) {
    std::vector<SnapshotEntry> players;
    std::uint32_t id = 3;  // ids with gaps, as bots and departed clients leave them
    for (const auto& [x, y] : positions) {
        players.push_back(SnapshotEntry{id, PeerState{x, y, 1.7f, static_cast<float>(id) * 0.01f}});
        id += 1 + id % 3;
    }
    return players;
}

std::string describe(const std::vector<SnapshotEntry>& entries) {
    std::string text;
    for (const SnapshotEntry& e : entries)
        text += std::to_string(e.peerId) + " ";
    return text;
}

bool sameBits(const SnapshotEntry& a, const SnapshotEntry& b) {
    return a.peerId == b.peerId && std::memcmp(&a.state, &b.state, sizeof a.state) == 0;
}

// Every receiver (and one id nobody has) gets from the grid what the plain selection gives it.
void expectSameChoice(const std::vector<SnapshotEntry>& players, std::size_t maxEntries, double playersPerCell,
                      std::size_t receiverStride = 1) {
    PlayerGrid grid;
    buildPlayerGrid(players, grid, playersPerCell);
    NearestScratch scratch;
    std::vector<SnapshotEntry> expected;
    std::vector<SnapshotEntry> actual;
    std::vector<std::uint32_t> receivers{1};  // below every id: not a player, so measured from the origin
    for (std::size_t i = 0; i < players.size(); i += receiverStride)
        receivers.push_back(players[i].peerId);
    for (const std::uint32_t receiver : receivers) {
        selectSnapshotEntries(players, receiver, expected, maxEntries);
        selectNearestEntries(grid, players, receiver, maxEntries, scratch, actual);
        ASSERT_EQ(actual.size(), expected.size()) << "receiver " << receiver;
        for (std::size_t k = 0; k < expected.size(); ++k) {
            ASSERT_TRUE(sameBits(actual[k], expected[k]))
                << "receiver " << receiver << ", entry " << k << "\nexpected " << describe(expected)
                << "\nactual   " << describe(actual);
        }
    }
}

std::vector<std::pair<float, float>> uniformPositions(std::mt19937& random, std::size_t count, float half) {
    std::uniform_real_distribution<float> along(-half, half);
    std::vector<std::pair<float, float>> positions;
    for (std::size_t i = 0; i < count; ++i)
        positions.emplace_back(along(random), along(random));
    return positions;
}

TEST(GridSelection, MatchesThePlainSelectionOnRandomWorlds) {
    std::mt19937 random(17);
    for (const std::size_t count : {0u, 1u, 2u, 30u, 205u, 206u, 600u, 2500u}) {
        for (const float half : {0.5f, 60.0f, 5000.0f}) {
            const auto players = playersAt(uniformPositions(random, count, half));
            for (const std::size_t maxEntries : {std::size_t{0}, std::size_t{1}, std::size_t{13}, MaxSnapshotEntries}) {
                SCOPED_TRACE(testing::Message() << count << " players within " << half << ", " << maxEntries);
                expectSameChoice(players, maxEntries, DefaultPlayersPerCell, count > 600 ? 7 : 1);
                expectSameChoice(players, maxEntries, 0.7, count > 600 ? 13 : 1);
            }
        }
    }
}

TEST(GridSelection, MatchesWhereCrowdsAndEmptyGroundMeet) {
    std::mt19937 random(5);
    std::normal_distribution<float> crowd(0.0f, 1.5f);
    std::vector<std::pair<float, float>> positions = uniformPositions(random, 400, 200.0f);
    for (int i = 0; i < 700; ++i)
        positions.emplace_back(40.0f + crowd(random), -25.0f + crowd(random));
    expectSameChoice(playersAt(positions), MaxSnapshotEntries, DefaultPlayersPerCell, 3);
    expectSameChoice(playersAt(positions), 50, 2.0, 3);
}

TEST(GridSelection, TiesAtEqualDistanceGoToTheLowerIds) {
    // A square lattice: every receiver has many others at exactly the same distances.
    std::vector<std::pair<float, float>> positions;
    for (int x = -20; x <= 20; ++x) {
        for (int y = -20; y <= 20; ++y)
            positions.emplace_back(static_cast<float>(x), static_cast<float>(y));
    }
    for (const std::size_t maxEntries : {std::size_t{1}, std::size_t{4}, std::size_t{8}, std::size_t{12},
                                         std::size_t{20}, MaxSnapshotEntries}) {
        expectSameChoice(playersAt(positions), maxEntries, DefaultPlayersPerCell, 5);
        expectSameChoice(playersAt(positions), maxEntries, 1.0, 5);
    }
    // Two rings of equal distance from the centre, ids in shuffled order around them.
    std::vector<std::pair<float, float>> rings{{0.0f, 0.0f}};
    for (int i = 0; i < 300; ++i) {
        const int k = (i * 37) % 300;
        const float radius = k % 2 == 0 ? 10.0f : 20.0f;
        rings.emplace_back(radius * (k % 4 < 2 ? 1.0f : -1.0f), 0.0f);
        rings.emplace_back(0.0f, radius * (k % 3 == 0 ? 1.0f : -1.0f));
    }
    expectSameChoice(playersAt(rings), 100, 1.0);
}

TEST(GridSelection, EveryoneOnOneSpotGetsTheLowestIds) {
    const std::vector<std::pair<float, float>> positions(700, {12.5f, -3.0f});
    expectSameChoice(playersAt(positions), MaxSnapshotEntries, DefaultPlayersPerCell, 9);
    expectSameChoice(playersAt(positions), 3, 1.0, 9);
    const std::vector<std::pair<float, float>> farAway(300, {3e37f, -3e37f});
    expectSameChoice(playersAt(farAway), 20, 1.0, 7);
}

TEST(GridSelection, PositionsThatAreNotFiniteAreTheFarthest) {
    std::mt19937 random(9);
    std::vector<std::pair<float, float>> positions = uniformPositions(random, 300, 30.0f);
    const float odd[] = {NotANumber, Infinity, -Infinity};
    for (std::size_t i = 0; i < positions.size(); i += 4) {
        if (i % 8 == 0) {
            positions[i].first = odd[i % 3];
        } else {
            positions[i].second = odd[(i / 4) % 3];
        }
    }
    // Fewer finite players than the cap: the list is filled up from those without a position.
    for (const std::size_t maxEntries : {std::size_t{5}, std::size_t{200}, std::size_t{230}, std::size_t{250}}) {
        expectSameChoice(playersAt(positions), maxEntries, DefaultPlayersPerCell);
        expectSameChoice(playersAt(positions), maxEntries, 1.0, 3);
    }
    // Nobody has a finite position.
    std::vector<std::pair<float, float>> none(260, {NotANumber, 0.0f});
    none[10] = {Infinity, -Infinity};
    none[200] = {-Infinity, Infinity};
    expectSameChoice(playersAt(none), MaxSnapshotEntries, DefaultPlayersPerCell, 11);
}

TEST(GridSelection, PlayersFarOutsideTheGridAreStillFound) {
    std::mt19937 random(23);
    std::vector<std::pair<float, float>> positions = uniformPositions(random, 500, 50.0f);
    // A few far out, beyond the ground the cells cover, some so far that the squared distance
    // overflows to infinity and ties fall to the ids.
    const std::pair<float, float> far[] = {{1e6f, 0.0f},    {-1e6f, 3.0f},         {0.0f, 2e19f},
                                           {0.0f, -2e19f},   {3e38f, 3e38f},        {-3.4e38f, 3.4e38f},
                                           {3.4e38f, -1.0f}, {-1e30f, -1e30f},      {200.0f, 200.0f},
                                           {-75.0f, 60.0f},  {1e-40f, -1e-40f},     {1e20f, 1e20f}};
    for (std::size_t i = 0; i < std::size(far); ++i)
        positions[i * 37] = far[i];
    for (const std::size_t maxEntries : {std::size_t{1}, std::size_t{40}, MaxSnapshotEntries, std::size_t{495}}) {
        expectSameChoice(playersAt(positions), maxEntries, DefaultPlayersPerCell);
        expectSameChoice(playersAt(positions), maxEntries, 1.0, 2);
    }
}

TEST(GridSelection, ALineAndATinySpreadAreHandledLikeAnyGround) {
    std::mt19937 random(31);
    std::uniform_real_distribution<float> along(-100.0f, 100.0f);
    std::vector<std::pair<float, float>> line;
    for (int i = 0; i < 600; ++i)
        line.emplace_back(along(random), 7.0f);
    expectSameChoice(playersAt(line), MaxSnapshotEntries, DefaultPlayersPerCell, 3);
    std::uniform_real_distribution<float> tiny(-1e-38f, 1e-38f);
    std::vector<std::pair<float, float>> speck;
    for (int i = 0; i < 400; ++i)
        speck.emplace_back(tiny(random), tiny(random));
    expectSameChoice(playersAt(speck), 100, 1.0, 3);
    // Huge coordinates close together: the cells are far coarser than the players' spacing.
    std::vector<std::pair<float, float>> huge;
    for (int i = 0; i < 400; ++i)
        huge.emplace_back(1e30f + static_cast<float>(i % 20) * 1e24f, -1e30f + static_cast<float>(i / 20) * 1e24f);
    expectSameChoice(playersAt(huge), 60, 1.0, 3);
}

TEST(GridSelection, ListsInAscendingIdOrderWithoutTheReceiver) {
    std::mt19937 random(2);
    const auto players = playersAt(uniformPositions(random, 1000, 40.0f));
    PlayerGrid grid;
    buildPlayerGrid(players, grid);
    NearestScratch scratch;
    std::vector<SnapshotEntry> chosen;
    selectNearestEntries(grid, players, players[500].peerId, MaxSnapshotEntries, scratch, chosen);
    ASSERT_EQ(chosen.size(), MaxSnapshotEntries);
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        EXPECT_NE(chosen[k].peerId, players[500].peerId);
        if (k > 0) {
            EXPECT_LT(chosen[k - 1].peerId, chosen[k].peerId);
        }
    }
}

// The bytes a tick sends each client: the plain selection's snapshot, byte for byte, whether the
// entries are copied from the table of every entry or (past 65 535 players) written one by one.
void expectTickSnapshotsAreThePlainOnes(std::uint32_t botCount, std::size_t clientCount, std::size_t maxEntries) {
    IdSource ids;
    BotWorld bots = makeBots(botCount, 3, ids);
    ClientRegistry registry;
    registry.maxClients = clientCount;
    TrafficCounters counters;
    std::mt19937 random(static_cast<unsigned>(botCount + clientCount));
    std::uniform_real_distribution<float> along(-60.0f, 60.0f);
    for (std::size_t i = 0; i < clientCount; ++i) {
        const auto pose = encodePoseDatagram(PoseDatagram{along(random), along(random), 1.7f, 0.25f, 0.0f});
        acceptDatagram(registry, ids, counters, ClientAddress{0x7F000001, static_cast<std::uint16_t>(2000 + i)}, pose,
                       0.0);
    }
    SnapshotWork work;
    prepareSnapshots(registry, bots, work);
    std::vector<SnapshotEntry> scratch;
    std::vector<std::uint8_t> expected(ReceiveBufferSize);
    std::vector<std::uint8_t> actual(ReceiveBufferSize);
    for (const Client& client : registry.clients) {
        std::vector<SnapshotEntry> chosen;
        selectSnapshotEntries(work.players, client.id, chosen, maxEntries);
        expected.resize(ReceiveBufferSize);
        expected.resize(encodeSnapshotDatagram(client.id, chosen, expected));
        actual.resize(ReceiveBufferSize);
        actual.resize(writeSnapshotFor(work, client.id, maxEntries, actual));
        ASSERT_EQ(actual, expected) << "client " << client.id;
    }
}

TEST(TickSnapshots, AreByteForByteThePlainSelectionsSnapshots) {
    expectTickSnapshotsAreThePlainOnes(0, 1, MaxSnapshotEntries);
    expectTickSnapshotsAreThePlainOnes(30, 40, MaxSnapshotEntries);
    expectTickSnapshotsAreThePlainOnes(500, 60, MaxSnapshotEntries);
    expectTickSnapshotsAreThePlainOnes(500, 60, 73);
    expectTickSnapshotsAreThePlainOnes(70000, 3, MaxSnapshotEntries);
}

TEST(GridBuilding, CellsHoldAboutTheWantedNumberOfPlayers) {
    std::mt19937 random(4);
    const auto players = playersAt(uniformPositions(random, 4000, 100.0f));
    PlayerGrid grid;
    buildPlayerGrid(players, grid, 8.0);
    const double cells = static_cast<double>(grid.columns) * grid.rows;
    EXPECT_GT(cells, 4000 / 8.0 * 0.7);
    EXPECT_LT(cells, 4000 / 8.0 * 1.5);
    EXPECT_EQ(grid.members.size(), 4000u);
    EXPECT_TRUE(grid.unplaced.empty());
    // One player very far away does not stretch the cells.
    auto stretched = players;
    stretched[0].state.x = 1e30f;
    buildPlayerGrid(stretched, grid, 8.0);
    EXPECT_GT(static_cast<double>(grid.columns) * grid.rows, 4000 / 8.0 * 0.7);
}

}  // namespace
}  // namespace brassmoor
