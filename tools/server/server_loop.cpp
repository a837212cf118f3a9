// The server's socket loop: reading poses and queries, ticking, sending snapshots, status lines.
#include "server_loop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <random>

#include "ipv4_endpoint.h"
#include "monotonic_clock.h"
#include "program_entry.h"
#include "snapshot_builder.h"
#include "socket_address.h"

namespace brassmoor {
namespace {

// At most this many datagrams are read per wake-up, so a flood cannot delay the snapshots.
constexpr int MaxDatagramsPerWake = 1000;
// The bots catch up at most this much time in one tick (the longest tick at the lowest rate), so a
// process that was stopped for a long while does not stall to replay it.
constexpr double MaxBotStep = 10.0;

#if defined(__GNUC__)
__attribute__((format(gnu_printf, 2, 3)))
#endif
void logLine(const Server& server, const char* format, ...) {
    if (server.log == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(server.log, format, arguments);
    va_end(arguments);
}

std::uint32_t drawInstance() {
    // random_device alone may be a fixed sequence on some platforms; the clock makes runs differ.
    std::random_device device;
    const auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return device() ^ static_cast<std::uint32_t>(ticks) ^ static_cast<std::uint32_t>(ticks >> 32);
}

std::uint16_t saturatedU16(std::size_t value) {
    return static_cast<std::uint16_t>(std::min<std::size_t>(value, UINT16_MAX));
}

void receiveWaiting(Server& server) {
    std::uint8_t buffer[ReceiveBufferSize];
    for (int i = 0; i < MaxDatagramsPerWake; ++i) {
        sockaddr_in from{};
        const int length = receiveDatagramFrom(server.socket, buffer, static_cast<int>(sizeof buffer), from);
        if (length < 0) return;  // nothing more queued, or an error that ends this wake-up's reading
        const std::span<const std::uint8_t> bytes(buffer, static_cast<std::size_t>(length));
        captureReceived(server.capture, server.local, toIpv4Endpoint(from), bytes);
        const double now = monotonicSeconds();

        std::array<std::uint8_t, InfoAnswerSize> answer{};
        const QueryOutcome query =
            takeInfoQuery(server.queryAllowance, server.counters, bytes, now, currentServerInfo(server), answer);
        if (query == QueryOutcome::Answered) {
            if (sendDatagram(server.socket, answer.data(), static_cast<int>(answer.size()), from) < 0) {
                ++server.counters.sendFailures;
            } else {
                captureSent(server.capture, server.local, toIpv4Endpoint(from), answer);
            }
        }
        if (query != QueryOutcome::NotAQuery) continue;

        const ClientAddress address = toIpv4Endpoint(from);
        const PoseResult result = acceptDatagram(server.registry, server.ids, server.counters, address, bytes, now);
        // Refusals are not logged one by one: a flood of them would flood the log. The status line
        // counts them.
        if (result.outcome == PoseOutcome::Joined) {
            logLine(server, "join id=%u from %s\n", result.clientId, formatIpv4Endpoint(address).c_str());
        }
    }
}

void tick(Server& server, double now) {
    stepBots(server.bots, std::min(now - server.lastBotStep, MaxBotStep));
    server.lastBotStep = now;

    for (const Client& gone : forgetSilentClients(server.registry, now, server.options.timeoutSeconds)) {
        logLine(server, "leave id=%u (silent)\n", gone.id);
    }

    gatherPlayers(server.registry, server.bots, server.players);
    std::uint8_t datagram[ReceiveBufferSize];
    for (Client& client : server.registry.clients) {
        // A client is sent only what its poses have earned, so forged poses cannot buy a stream.
        if (!spendSnapshotCredit(client, server.counters)) continue;
        const std::size_t size = buildSnapshotFor(server.players, client.id, server.scratch, datagram);
        if (size == 0) continue;
        if (sendDatagram(server.socket, datagram, static_cast<int>(size), toSocketAddress(client.address)) < 0) {
            ++server.counters.sendFailures;
        } else {
            ++server.counters.datagramsOut;
            captureSent(server.capture, server.local, client.address, std::span<const std::uint8_t>(datagram, size));
        }
    }
}

void logStatus(const Server& server) {
    const std::size_t clients = server.registry.clients.size();
    const std::size_t bots = server.bots.bots.size();
    const TrafficCounters& counters = server.counters;
    logLine(server,
            "status players=%zu clients=%zu bots=%zu in=%llu out=%llu dropped=%llu send-failures=%llu "
            "refused=%llu withheld=%llu queries=%llu queries-refused=%llu\n",
            clients + bots, clients, bots, static_cast<unsigned long long>(counters.datagramsIn),
            static_cast<unsigned long long>(counters.datagramsOut), static_cast<unsigned long long>(counters.dropped),
            static_cast<unsigned long long>(counters.sendFailures), static_cast<unsigned long long>(counters.refused),
            static_cast<unsigned long long>(counters.withheld),
            static_cast<unsigned long long>(counters.queriesAnswered),
            static_cast<unsigned long long>(counters.queriesRefused));
}

}  // namespace

ServerInfo currentServerInfo(const Server& server) {
    const ProjectVersion version = projectVersion();
    ServerInfo info;
    info.instance = server.instance;
    info.players = saturatedU16(server.registry.clients.size() + server.bots.bots.size());
    info.clients = saturatedU16(server.registry.clients.size());
    info.bots = saturatedU16(server.bots.bots.size());
    info.maxClients = saturatedU16(server.options.maxClients);
    info.versionMajor = version.major;
    info.versionMinor = version.minor;
    info.versionPatch = version.patch;
    return info;
}

bool openServer(const ServerOptions& options, std::FILE* log, Server& server, std::string& error) {
    sockaddr_in local{};
    if (!makeIpv4Endpoint(options.bindAddress.c_str(), options.port, local)) {
        error = "the address to listen on must be an IPv4 address, not '" + options.bindAddress + "'";
        return false;
    }
    if (!startSocketLibrary()) {
        error = "cannot start the sockets library";
        return false;
    }
    server.socket = openUdpSocket();
    if (server.socket == InvalidSocketHandle) {
        error = "cannot create a UDP socket: " + lastSocketError();
        stopSocketLibrary();
        return false;
    }
    makeNonBlocking(server.socket);
    if (!bindUdpSocket(server.socket, local)) {
        error = "cannot listen on " + options.bindAddress + ":" + std::to_string(options.port) + ": " +
                lastSocketError();
        closeSocket(server.socket);
        server.socket = InvalidSocketHandle;
        stopSocketLibrary();
        return false;
    }

    server.options = options;
    server.log = log;
    server.local = toIpv4Endpoint(local);
    server.registry.maxClients = options.maxClients;
    server.instance = drawInstance();
    server.bots = makeBots(options.bots, options.seed, server.ids, options.arena);
    logLine(server, "listening on %s:%u rate=%g bots=%u timeout=%g seed=%llu max-clients=%zu\n",
            options.bindAddress.c_str(), unsigned{options.port}, options.rate, options.bots, options.timeoutSeconds,
            static_cast<unsigned long long>(options.seed), options.maxClients);

    const double start = monotonicSeconds();
    server.lastBotStep = start;
    server.nextTick = start;
    server.nextStatus = start + options.statusSeconds;
    server.queryAllowance = makeQueryAllowance(start);
    return true;
}

bool serveOnce(Server& server, int maxWaitMilliseconds) {
    const double period = 1.0 / server.options.rate;
    const double statusInterval = server.options.statusSeconds;
    const double now = monotonicSeconds();
    if (now >= server.nextTick) {
        tick(server, now);
        server.nextTick += period;
        if (server.nextTick <= now) server.nextTick = now + period;  // fell behind: skip the missed ticks
    }
    if (now >= server.nextStatus) {
        logStatus(server);
        server.nextStatus += statusInterval;
        if (server.nextStatus <= now) server.nextStatus = now + statusInterval;
    }

    const double wait = std::min(server.nextTick, server.nextStatus) - monotonicSeconds();
    const int waitMilliseconds =
        wait <= 0.0 ? 0 : static_cast<int>(std::min(std::ceil(wait * 1000.0), static_cast<double>(maxWaitMilliseconds)));
    bool readable[1] = {false};
    const int ready = waitForDatagrams(std::span<const SocketHandle>(&server.socket, 1), waitMilliseconds, readable);
    if (ready > 0) receiveWaiting(server);
    return ready >= 0;
}

void closeServer(Server& server) {
    logStatus(server);
    closeSocket(server.socket);
    server.socket = InvalidSocketHandle;
    stopSocketLibrary();
}

}  // namespace brassmoor
