// The cost of a server tick without sockets: every player is a client with a snapshot to be sent,
// chosen through the grid (what the server does) and, beside it, by looking at every player (the
// plain selection the grid replaced). Prints a table of CPU time per tick; speeds are measured,
// never asserted.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>
#include <time.h>

#include "bots.h"
#include "net/datagram.h"
#include "registry.h"
#include "snapshot_builder.h"

namespace brassmoor {
namespace {

struct World {
    std::string layout;
    ClientRegistry registry;
    BotWorld noBots;
    IdSource ids;
    TrafficCounters counters;
};

// Every player a client, posed at the given places.
World makeWorld(std::string layout, const std::vector<std::pair<float, float>>& places) {
    World world;
    world.layout = std::move(layout);
    world.registry.maxClients = places.size();
    for (std::size_t i = 0; i < places.size(); ++i) {
        const auto pose = encodePoseDatagram(PoseDatagram{places[i].first, places[i].second, 1.7f, 0.0f, 0.0f});
        const ClientAddress from{0x0A000000u + static_cast<std::uint32_t>(i / 50000),
                                 static_cast<std::uint16_t>(10000 + i % 50000)};
        acceptDatagram(world.registry, world.ids, world.counters, from, pose, 0.0);
    }
    return world;
}

// Evenly spread: random places on a square whose side grows with the players, so that the density
// stays at one player per four square units.
std::vector<std::pair<float, float>> spread(std::size_t count, std::mt19937& random) {
    const float half = std::sqrt(static_cast<float>(count));
    std::uniform_real_distribution<float> along(-half, half);
    std::vector<std::pair<float, float>> places;
    for (std::size_t i = 0; i < count; ++i)
        places.emplace_back(along(random), along(random));
    return places;
}

// Half the players spread as above, the other half packed into a 4 by 4 square at the centre: the
// cells are sized for the whole ground, so the crowd falls into a few of them.
std::vector<std::pair<float, float>> crowd(std::size_t count, std::mt19937& random) {
    std::vector<std::pair<float, float>> places = spread(count / 2, random);
    std::uniform_real_distribution<float> near(-2.0f, 2.0f);
    while (places.size() < count)
        places.emplace_back(near(random), near(random));
    std::shuffle(places.begin(), places.end(), random);
    return places;
}

using SnapshotMaker = std::function<std::size_t(World&, SnapshotWork&, std::uint32_t, std::span<std::uint8_t>)>;

// CPU seconds this thread has used: on a shared machine, time spent waiting for a core is not
// counted against the code measured.
double threadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU seconds for one tick: the players gathered, then a snapshot written for each client.
double timeTick(World& world, SnapshotWork& work, const SnapshotMaker& make, std::uint64_t& bytes) {
    std::array<std::uint8_t, ReceiveBufferSize> out{};
    const double start = threadCpuSeconds();
    prepareSnapshots(world.registry, world.noBots, work);
    for (const Client& client : world.registry.clients)
        bytes += make(world, work, client.id, out);
    return threadCpuSeconds() - start;
}

// The median of repeated ticks, at least `minimumRuns` of them and as many as fit in about a second.
double medianTick(World& world, const SnapshotMaker& make, int minimumRuns) {
    SnapshotWork work;
    std::uint64_t bytes = 0;
    timeTick(world, work, make, bytes);  // warms the scratch space up
    std::vector<double> times;
    double total = 0.0;
    while (static_cast<int>(times.size()) < minimumRuns || (total < 1.0 && times.size() < 200)) {
        times.push_back(timeTick(world, work, make, bytes));
        total += times.back();
    }
    std::sort(times.begin(), times.end());
    if (bytes == 0) std::printf("(no snapshot was written)\n");
    return times[times.size() / 2];
}

}  // namespace
}  // namespace brassmoor

int main() {
    using namespace brassmoor;
    const SnapshotMaker throughGrid = [](World&, SnapshotWork& work, std::uint32_t id, std::span<std::uint8_t> out) {
        return writeSnapshotFor(work, id, MaxSnapshotEntries, out);
    };
    const SnapshotMaker lookingAtEveryone = [](World&, SnapshotWork& work, std::uint32_t id,
                                               std::span<std::uint8_t> out) {
        return buildSnapshotFor(work.players, id, work.chosen, out);
    };

    std::mt19937 random(2024);
    std::printf("| players | layout | grid: tick | per player | every player looked at: tick | per player |\n");
    std::printf("|---------|--------|------------|------------|------------------------------|------------|\n");
    double firstPerPlayer = 0.0;
    double lastPerPlayer = 0.0;
    for (const std::size_t count : {1000u, 4000u, 16000u}) {
        for (const bool crowded : {false, true}) {
            World world = makeWorld(crowded ? "crowd" : "spread",
                                    crowded ? crowd(count, random) : spread(count, random));
            const double grid = medianTick(world, throughGrid, 5);
            // Looking at everyone costs seconds a tick at 16 000; once is enough there.
            const double plain = medianTick(world, lookingAtEveryone, count > 4000 ? 1 : 3);
            const double players = static_cast<double>(count);
            std::printf("| %zu | %s | %.2f ms | %.2f µs | %.1f ms | %.2f µs |\n", count, world.layout.c_str(),
                        grid * 1e3, grid / players * 1e6, plain * 1e3, plain / players * 1e6);
            if (!crowded && count == 1000) firstPerPlayer = grid / players;
            if (!crowded && count == 16000) lastPerPlayer = grid / players;
        }
    }
    std::printf("\nSpread evenly, a player's share of a tick at 16 000 players is %.2f times that at 1 000.\n",
                lastPerPlayer / firstPerPlayer);
    return 0;
}
