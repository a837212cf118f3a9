// brassmoor-server: the socket loop around the server core, paced by the socket layer's wait and
// ended by a stop request (Ctrl-C or SIGTERM).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bots.h"
#include "line_output.h"
#include "monotonic_clock.h"
#include "net/datagram.h"
#include "net/socket_layer.h"
#include "options.h"
#include "registry.h"
#include "snapshot_builder.h"
#include "socket_address.h"
#include "stop_request.h"

namespace brassmoor {
namespace {

// The longest wait, so a stop request that lands just before it is seen soon even at low rates.
constexpr int MaxWaitMilliseconds = 200;
// At most this many datagrams are read per wake-up, so a flood cannot delay the snapshots.
constexpr int MaxDatagramsPerWake = 1000;
// The bots catch up at most this much time in one tick (the longest tick at the lowest rate), so a
// process that was stopped for a long while does not stall to replay it.
constexpr double MaxBotStep = 10.0;

struct Server {
    ServerOptions options;
    SocketHandle socket = InvalidSocketHandle;
    IdSource ids;
    BotWorld bots;
    ClientRegistry registry;
    TrafficCounters counters;
    std::vector<SnapshotEntry> players;
    std::vector<SnapshotEntry> scratch;
    double lastBotStep = 0.0;
};

void receiveWaiting(Server& server) {
    std::uint8_t buffer[ReceiveBufferSize];
    for (int i = 0; i < MaxDatagramsPerWake; ++i) {
        sockaddr_in from{};
        const int length = receiveDatagramFrom(server.socket, buffer, static_cast<int>(sizeof buffer), from);
        if (length < 0) return;  // nothing more queued, or an error that ends this wake-up's reading
        const ClientAddress address = toIpv4Endpoint(from);
        const PoseResult result = acceptDatagram(
            server.registry, server.ids, server.counters, address,
            std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(length)), monotonicSeconds());
        // Refusals are not logged one by one: a flood of them would flood the log. The status line
        // counts them.
        if (result.outcome == PoseOutcome::Joined) {
            std::printf("join id=%u from %s\n", result.clientId, formatIpv4Endpoint(address).c_str());
        }
    }
}

void tick(Server& server, double now) {
    stepBots(server.bots, std::min(now - server.lastBotStep, MaxBotStep));
    server.lastBotStep = now;

    for (const Client& gone : forgetSilentClients(server.registry, now, server.options.timeoutSeconds)) {
        std::printf("leave id=%u (silent)\n", gone.id);
    }

    gatherPlayers(server.registry, server.bots, server.players);
    std::uint8_t datagram[ReceiveBufferSize];
    for (Client& client : server.registry.clients) {
        // A client is sent only what its poses have earned, so forged poses cannot buy a stream.
        if (!spendSnapshotCredit(client, server.counters)) continue;
        const std::size_t size = buildSnapshotFor(server.players, client.id, server.scratch, datagram);
        if (size == 0) continue;
        if (sendDatagram(server.socket, datagram, static_cast<int>(size), toSocketAddress(client.address)) <
            0) {
            ++server.counters.sendFailures;
        } else {
            ++server.counters.datagramsOut;
        }
    }
}

void printStatus(const Server& server) {
    const std::size_t clients = server.registry.clients.size();
    const std::size_t bots = server.bots.bots.size();
    const TrafficCounters& counters = server.counters;
    std::printf(
        "status players=%zu clients=%zu bots=%zu in=%llu out=%llu dropped=%llu send-failures=%llu "
        "refused=%llu withheld=%llu\n",
        clients + bots, clients, bots, static_cast<unsigned long long>(counters.datagramsIn),
        static_cast<unsigned long long>(counters.datagramsOut),
        static_cast<unsigned long long>(counters.dropped),
        static_cast<unsigned long long>(counters.sendFailures),
        static_cast<unsigned long long>(counters.refused),
        static_cast<unsigned long long>(counters.withheld));
}

int run(const ServerOptions& options) {
    if (!installStopHandlers()) {
        std::fprintf(stderr, "brassmoor-server: cannot install signal handlers: %s\n",
                     stopHandlerError().c_str());
        return 1;
    }
    sockaddr_in local{};
    if (!makeIpv4Endpoint(options.bindAddress.c_str(), options.port, local)) {
        std::fprintf(stderr, "brassmoor-server: --bind needs an IPv4 address, not '%s'\n",
                     options.bindAddress.c_str());
        return 2;
    }
    if (!startSocketLibrary()) {
        std::fprintf(stderr, "brassmoor-server: cannot start the sockets library\n");
        return 1;
    }

    Server server;
    server.options = options;
    server.registry.maxClients = options.maxClients;
    server.socket = openUdpSocket();
    if (server.socket == InvalidSocketHandle) {
        std::fprintf(stderr, "brassmoor-server: cannot create a UDP socket: %s\n", lastSocketError().c_str());
        stopSocketLibrary();
        return 1;
    }
    makeNonBlocking(server.socket);
    if (!bindUdpSocket(server.socket, local)) {
        std::fprintf(stderr, "brassmoor-server: cannot listen on %s:%u: %s\n", options.bindAddress.c_str(),
                     unsigned{options.port}, lastSocketError().c_str());
        closeSocket(server.socket);
        stopSocketLibrary();
        return 1;
    }

    server.bots = makeBots(options.bots, options.seed, server.ids, options.arena);
    std::printf("listening on %s:%u rate=%g bots=%u timeout=%g seed=%llu max-clients=%zu\n",
                options.bindAddress.c_str(), unsigned{options.port}, options.rate, options.bots,
                options.timeoutSeconds, static_cast<unsigned long long>(options.seed), options.maxClients);

    const double period = 1.0 / options.rate;
    const double start = monotonicSeconds();
    server.lastBotStep = start;
    double nextTick = start;
    const double statusInterval = options.statusSeconds;
    double nextStatus = start + statusInterval;

    while (stopRequest() == 0) {
        const double now = monotonicSeconds();
        if (now >= nextTick) {
            tick(server, now);
            nextTick += period;
            if (nextTick <= now) nextTick = now + period;  // fell behind: skip the missed ticks
        }
        if (now >= nextStatus) {
            printStatus(server);
            nextStatus += statusInterval;
            if (nextStatus <= now) nextStatus = now + statusInterval;
        }

        const double wait = std::min(nextTick, nextStatus) - monotonicSeconds();
        const int waitMilliseconds =
            wait <= 0.0 ? 0
                        : static_cast<int>(std::min(std::ceil(wait * 1000.0), double{MaxWaitMilliseconds}));
        bool readable[1] = {false};
        const int ready =
            waitForDatagrams(std::span<const SocketHandle>(&server.socket, 1), waitMilliseconds, readable);
        if (ready > 0) {
            receiveWaiting(server);
        } else if (ready < 0) {
            // A failed wait would fail again at once: stop rather than spin.
            std::fprintf(stderr, "brassmoor-server: waiting for datagrams failed\n");
            closeSocket(server.socket);
            stopSocketLibrary();
            return 1;
        }
    }

    std::printf("stopping on signal %d\n", stopRequest());
    printStatus(server);
    closeSocket(server.socket);
    stopSocketLibrary();
    return 0;
}

}  // namespace
}  // namespace brassmoor

int main(int argc, char** argv) {
    // One line at a time, so that a log reader (or a test) sees each line as it happens.
    brassmoor::makeLineBuffered(stdout);
    const char* const* args = argv;
    const brassmoor::OptionsResult parsed =
        brassmoor::parseServerOptions(std::span<const char* const>(args, static_cast<std::size_t>(argc)));
    switch (parsed.status) {
        case brassmoor::OptionsStatus::Help:
            std::fputs(brassmoor::serverUsageText().c_str(), stdout);
            return 0;
        case brassmoor::OptionsStatus::Version:
            std::fputs(brassmoor::serverVersionText().c_str(), stdout);
            return 0;
        case brassmoor::OptionsStatus::Error:
            std::fprintf(stderr, "brassmoor-server: %s\nTry 'brassmoor-server --help'.\n",
                         parsed.error.c_str());
            return 2;
        case brassmoor::OptionsStatus::Run:
            break;
    }
    return brassmoor::run(parsed.options);
}
