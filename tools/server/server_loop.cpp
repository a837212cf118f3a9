// The server's socket loop: reading poses and queries, ticking, sending snapshots, status lines.
#include "server_loop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <random>

#include "host_name.h"
#include "ipv4_endpoint.h"
#include "monotonic_clock.h"
#include "program_entry.h"
#include "server_socket.h"
#include "snapshot_builder.h"
#include "socket_address.h"

namespace brassmoor {
namespace {

// At most this many datagrams are read per wake-up, so a flood cannot delay the snapshots.
constexpr std::size_t MaxDatagramsPerWake = 1024;
// After reading, the server pauses this long before it looks again (never past a tick), so that a
// wake-up takes a batch of poses rather than one: poses wait for the tick anyway.
constexpr double GatherSeconds = 0.001;
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
    const auto ticks =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return device() ^ static_cast<std::uint32_t>(ticks) ^ static_cast<std::uint32_t>(ticks >> 32);
}

std::uint16_t saturatedU16(std::size_t value) {
    return static_cast<std::uint16_t>(std::min<std::size_t>(value, UINT16_MAX));
}

void answerInfoQuery(Server& server, std::span<const std::uint8_t> bytes, const sockaddr_in& from,
                     double now) {
    InfoAnswerBytes answer;
    if (takeInfoQuery(server.queryAllowance, server.counters, bytes, now, currentServerInfo(server),
                      answer) != QueryOutcome::Answered) {
        return;
    }
    if (sendDatagram(server.socket, answer.bytes.data(), static_cast<int>(answer.size), from) < 0) {
        ++server.counters.sendFailures;
    } else {
        server.counters.bytesOut += answer.size;
        captureSent(server.capture, server.local, toIpv4Endpoint(from), answer.view());
    }
}

void receiveWaiting(Server& server) {
    DatagramBatch& batch = server.incoming;
    for (std::size_t taken = 0; taken < MaxDatagramsPerWake;) {
        // Zero: nothing more queued; negative: an error that ends this wake-up's reading.
        if (receiveBatch(server.socket, batch) <= 0) return;
        const double now = monotonicSeconds();
        for (std::size_t i = 0; i < batch.count; ++i) {
            takeDatagram(
                server,
                std::span<const std::uint8_t>(batch.slot(i), static_cast<std::size_t>(batch.lengths[i])),
                batch.addresses[i], now);
        }
        taken += batch.count;
        if (batch.count < DatagramBatchCapacity) return;  // the queue is empty: spare the call that says so
    }
}

void sendQueuedSnapshots(Server& server) {
    DatagramBatch& batch = server.outgoing;
    const std::size_t refused = sendBatch(server.socket, batch);
    server.counters.sendFailures += refused;
    server.counters.datagramsOut += batch.count - refused;
    for (std::size_t i = 0; i < batch.count; ++i) {
        if (!batch.refused[i]) server.counters.bytesOut += static_cast<std::uint64_t>(batch.lengths[i]);
    }
    if (server.capture != nullptr) {
        for (std::size_t i = 0; i < batch.count; ++i) {
            if (batch.refused[i]) continue;
            captureSent(
                server.capture, server.local, toIpv4Endpoint(batch.addresses[i]),
                std::span<const std::uint8_t>(batch.slot(i), static_cast<std::size_t>(batch.lengths[i])));
        }
    }
    batch.count = 0;
}

void readSystemDrops(Server& server) {
    const std::optional<std::uint32_t> reading = systemDropCount(server.socket);
    if (!reading) return;
    // Unsigned arithmetic carries the count across the system's wrap at 2^32.
    server.systemDrops =
        server.systemDrops.value_or(0) + static_cast<std::uint32_t>(*reading - server.lastDropReading);
    server.lastDropReading = *reading;
}

void tick(Server& server, double now) {
    stepBots(server.bots, std::min(now - server.lastBotStep, MaxBotStep));
    server.lastBotStep = now;

    for (const Client& gone : forgetSilentClients(server.registry, now, server.options.timeoutSeconds)) {
        logLine(server, "leave id=%u (silent)\n", gone.id);
    }

    prepareSnapshots(server.registry, server.bots, server.snapshots);
    DatagramBatch& batch = server.outgoing;
    batch.count = 0;
    for (Client& client : server.registry.clients) {
        // A client is sent only what its poses have earned, so forged poses cannot buy a stream.
        if (!spendSnapshotCredit(client, server.counters)) continue;
        const std::size_t size =
            writeSnapshotFor(server.snapshots, client.id, server.options.maxEntries,
                             std::span<std::uint8_t>(batch.slot(batch.count), ReceiveBufferSize));
        if (size == 0) continue;
        batch.lengths[batch.count] = static_cast<int>(size);
        batch.addresses[batch.count] = toSocketAddress(client.address);
        if (++batch.count == DatagramBatchCapacity) sendQueuedSnapshots(server);
    }
    sendQueuedSnapshots(server);
    readSystemDrops(server);
}

double milliseconds(double seconds) {
    return seconds * 1000.0;
}

void logStatus(Server& server) {
    readSystemDrops(server);
    const std::size_t clients = server.registry.clients.size();
    const std::size_t bots = server.bots.bots.size();
    const TrafficCounters& counters = server.counters;
    const std::string drops = server.systemDrops ? std::to_string(*server.systemDrops) : "unknown";
    logLine(server,
            "status players=%zu clients=%zu bots=%zu in=%llu out=%llu dropped=%llu send-failures=%llu "
            "refused=%llu withheld=%llu queries=%llu queries-refused=%llu tick-p50-ms=%.3f tick-p99-ms=%.3f "
            "tick-max-ms=%.3f kernel-drops=%s\n",
            clients + bots, clients, bots, static_cast<unsigned long long>(counters.datagramsIn),
            static_cast<unsigned long long>(counters.datagramsOut),
            static_cast<unsigned long long>(counters.dropped),
            static_cast<unsigned long long>(counters.sendFailures),
            static_cast<unsigned long long>(counters.refused),
            static_cast<unsigned long long>(counters.withheld),
            static_cast<unsigned long long>(counters.queriesAnswered),
            static_cast<unsigned long long>(counters.queriesRefused),
            milliseconds(durationPercentile(server.tickTimes, 0.5)),
            milliseconds(durationPercentile(server.tickTimes, 0.99)), milliseconds(server.tickTimes.longest),
            drops.c_str());
    clearDurations(server.tickTimes);
}

}  // namespace

void takeDatagram(Server& server, std::span<const std::uint8_t> bytes, const sockaddr_in& from, double now) {
    captureReceived(server.capture, server.local, toIpv4Endpoint(from), bytes);
    server.counters.bytesIn += bytes.size();
    // The info's name is a std::string that a pod's long host name makes allocate: it is built for
    // queries alone, so that a pose costs no allocation.
    if (isInfoQuery(bytes)) {
        answerInfoQuery(server, bytes, from, now);
        return;
    }

    const ClientAddress address = toIpv4Endpoint(from);
    const PoseResult result =
        acceptDatagram(server.registry, server.ids, server.counters, address, bytes, now);
    // Refusals are not logged one by one: a flood of them would flood the log. The status line
    // counts them.
    if (result.outcome == PoseOutcome::Joined || result.outcome == PoseOutcome::Updated)
        server.lastPose = now;
    if (result.outcome == PoseOutcome::Joined) {
        logLine(server, "join id=%u from %s\n", result.clientId, formatIpv4Endpoint(address).c_str());
    }
}

ServerFigures serverFigures(const Server& server) {
    ServerFigures figures;
    figures.counters = server.counters;
    figures.clients = server.registry.clients.size();
    figures.bots = server.bots.bots.size();
    figures.maxClients = server.options.maxClients;
    figures.ticks = server.ticks;
    figures.systemDrops = server.systemDrops;
    figures.tickDurations = server.tickDurations;
    figures.tickPeriod = 1.0 / server.options.rate;
    figures.lastTick = server.lastTick;
    figures.clientServed = server.lastPose.has_value();
    return figures;
}

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
    info.name = server.options.name;
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
    server.receiveBufferBytes = enlargeReceiveBuffer(server.socket, WantedReceiveBufferBytes);
    if (!bindUdpSocket(server.socket, local)) {
        error = "cannot listen on " + options.bindAddress + ":" + std::to_string(options.port) + ": " +
                lastSocketError();
        closeSocket(server.socket);
        server.socket = InvalidSocketHandle;
        stopSocketLibrary();
        return false;
    }

    server.options = options;
    // Sanitised here as well as where it was given: the launcher's hosted games set it directly.
    server.options.name = sanitiseServerName(options.name.empty() ? computerHostName() : options.name);
    server.log = log;
    server.local = toIpv4Endpoint(local);
    server.registry.maxClients = options.maxClients;
    server.instance = drawInstance();
    server.bots = makeBots(options.bots, options.seed, server.ids, options.arena);
    readSystemDrops(server);
    const std::string receiveBuffer =
        server.receiveBufferBytes ? std::to_string(*server.receiveBufferBytes) : "unknown";
    logLine(server,
            "listening on %s:%u rate=%g bots=%u timeout=%g seed=%llu max-clients=%zu max-entries=%zu "
            "receive-buffer=%s name=%s\n",
            options.bindAddress.c_str(), unsigned{options.port}, options.rate, options.bots,
            options.timeoutSeconds, static_cast<unsigned long long>(options.seed), options.maxClients,
            options.maxEntries, receiveBuffer.c_str(), server.options.name.c_str());

    const double start = monotonicSeconds();
    server.lastBotStep = start;
    server.nextTick = start;
    server.lastTick = start;  // the first tick is due now: until it runs, the loop is on time
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
        const double took = monotonicSeconds() - now;
        recordDuration(server.tickTimes, took);
        recordTick(server.tickDurations, took);
        ++server.ticks;
        server.lastTick = now;
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
        wait <= 0.0
            ? 0
            : static_cast<int>(std::min(std::ceil(wait * 1000.0), static_cast<double>(maxWaitMilliseconds)));
    bool readable[1] = {false};
    const int ready =
        waitForDatagrams(std::span<const SocketHandle>(&server.socket, 1), waitMilliseconds, readable);
    if (ready > 0) {
        receiveWaiting(server);
        const double untilDue = std::min(server.nextTick, server.nextStatus) - monotonicSeconds();
        pauseToGatherDatagrams(std::min({GatherSeconds, untilDue, maxWaitMilliseconds / 1000.0}));
    }
    return ready >= 0;
}

void closeServer(Server& server) {
    logStatus(server);
    closeSocket(server.socket);
    server.socket = InvalidSocketHandle;
    stopSocketLibrary();
}

}  // namespace brassmoor
