// What the server's loop spends on each pose it takes, without sockets: heap allocations and CPU time
// per pose at 2000 clients, with a short server name and with one as long as a pod's host name (past
// the standard library's small-string buffer). Figures are printed, never asserted.
#include <algorithm>
#include <cstdio>
#include <string>
#include <time.h>
#include <vector>

#include "alloc_counter.h"
#include "net/datagram.h"
#include "server_loop.h"
#include "socket_address.h"

namespace brassmoor {
namespace {

constexpr std::size_t Clients = 2000;
constexpr int Rounds = 50;  // every client poses once a round

double threadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct PoseFigures {
    double allocationsPerPose = 0.0;
    double nanosecondsPerPose = 0.0;
};

// A server with no socket (a pose sends nothing), its clients joined by a first round of poses; then
// `Rounds` rounds of poses from the same clients, counted.
PoseFigures measurePoses(const std::string& name) {
    Server server;
    server.options.name = name;
    server.options.maxClients = Clients;
    server.registry.maxClients = Clients;
    const auto pose = encodePoseDatagram(PoseDatagram{1.0f, 2.0f, 1.7f, 0.0f, 0.0f});
    std::vector<sockaddr_in> senders;
    for (std::size_t i = 0; i < Clients; ++i) {
        senders.push_back(toSocketAddress(Ipv4Endpoint{0x0A000001u, static_cast<std::uint16_t>(10000 + i)}));
    }
    double now = 1.0;
    for (const sockaddr_in& from : senders)
        takeDatagram(server, pose, from, now);
    const std::uint64_t allocationsBefore = allocationsOnThisThread();
    const double start = threadCpuSeconds();
    for (int round = 0; round < Rounds; ++round) {
        now += 1.0 / 30.0;
        for (const sockaddr_in& from : senders)
            takeDatagram(server, pose, from, now);
    }
    const double seconds = threadCpuSeconds() - start;
    const double poses = static_cast<double>(Clients) * Rounds;
    if (server.registry.clients.size() != Clients || server.counters.poses != Clients * (Rounds + 1)) {
        std::printf("(the poses were not all taken: %zu clients, %llu poses)\n",
                    server.registry.clients.size(), static_cast<unsigned long long>(server.counters.poses));
    }
    return {static_cast<double>(allocationsOnThisThread() - allocationsBefore) / poses,
            seconds / poses * 1e9};
}

}  // namespace
}  // namespace brassmoor

int main() {
    using namespace brassmoor;
    std::printf("| clients | server name | heap allocations per pose | CPU per pose |\n");
    std::printf("|---------|-------------|---------------------------|--------------|\n");
    for (const std::size_t length : {8u, 40u}) {
        const std::string name(length, 'g');
        const PoseFigures figures = measurePoses(name);
        std::printf("| %zu | %zu bytes | %.2f | %.0f ns |\n", Clients, length, figures.allocationsPerPose,
                    figures.nanosecondsPerPose);
    }
    return 0;
}
