// brassmoor-load: many simulated clients against a server (or the bare reflector), each with a
// socket of its own, posing on a fixed schedule and timing the snapshots that come back.
//
// Pose s of the whole run (client s mod N) is due at start + s / (N * rate), whatever the server
// does; a generator that falls behind sends the late poses at once and reports how late it was, so
// a report shows which side was the limit. Measurement starts after the warm-up: from then on each
// client's snapshots are counted and the gaps between them timed (from the start of the window to
// the first, and from the last to its end, included).
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "duration_histogram.h"
#include "load_options.h"
#include "monotonic_clock.h"
#include "net/datagram.h"
#include "net/socket_layer.h"
#include "proc_readings.h"
#include "socket_address.h"
#include "stop_request.h"

namespace brassmoor {
namespace {

constexpr std::size_t ReadBufferSize = 65536;  // anything longer than a snapshot shows as malformed

struct SimulatedClient {
    int socket = -1;
    Ipv4Endpoint local;
    float homeX = 0.0f;
    float homeY = 0.0f;
    std::uint32_t selfId = 0;     // from the first snapshot
    std::uint64_t snapshots = 0;  // in the window
    double lastArrival = 0.0;
};

struct Counts {
    std::uint64_t posesSent = 0;
    std::uint64_t snapshots = 0;
    std::uint64_t malformed = 0;      // not a snapshot, or its length disagrees with its count
    std::uint64_t selfListed = 0;     // listing the receiver itself
    std::uint64_t selfIdChanged = 0;  // a selfId other than the client's first
    std::size_t entriesMin = SIZE_MAX;
    std::size_t entriesMax = 0;
    // The floods (which start with the measured window) are counted to the end of the run, so
    // that every snapshot to a forged port is set against every forged pose that could have earned it.
    std::uint64_t garbageSent = 0;
    std::uint64_t forgedSent = 0;
    std::uint64_t forgedAnswered = 0;  // snapshots that reached a forged pose's port
    std::uint64_t sendFailures = 0;
};

struct Run {
    LoadOptions options;
    std::vector<SimulatedClient> clients;
    std::vector<int> forgedSockets;
    int garbageSocket = -1;
    int epoll = -1;
    sockaddr_in server{};
    double start = 0.0;
    double windowStart = 0.0;
    double windowEnd = 0.0;
    bool measuring = false;
    Counts counts;
    DurationHistogram gaps;
    DurationHistogram lateness;  // how late each pose left, over the window
    std::mt19937 random{12345};
    std::vector<std::uint8_t> readBuffer = std::vector<std::uint8_t>(ReadBufferSize);
};

void raiseFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// A non-blocking UDP socket bound to `address` on a port the system picks; -1 with a message.
int openBoundSocket(std::uint32_t address, Ipv4Endpoint& local, std::string& error) {
    const SocketHandle handle = openUdpSocket();
    if (handle == InvalidSocketHandle) {
        error = "cannot create a socket: " + lastSocketError();
        return -1;
    }
    makeNonBlocking(handle);
    sockaddr_in bound{};
    if (!bindUdpSocket(handle, toSocketAddress(Ipv4Endpoint{address, 0})) || !localEndpoint(handle, bound)) {
        error = "cannot bind a socket to " + formatIpv4Endpoint(Ipv4Endpoint{address, 0}) + ": " +
                lastSocketError();
        closeSocket(handle);
        return -1;
    }
    local = toIpv4Endpoint(bound);
    return handle;
}

bool watch(Run& run, int socket, std::uint32_t tag, std::string& error) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = tag;
    if (::epoll_ctl(run.epoll, EPOLL_CTL_ADD, socket, &event) != 0) {
        error = std::string("cannot watch a socket: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool openSockets(Run& run, std::string& error) {
    const LoadOptions& options = run.options;
    run.epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (run.epoll < 0) {
        error = std::string("cannot create an epoll instance: ") + std::strerror(errno);
        return false;
    }
    // The clients stand on a square, `spacing` apart, centred on the origin.
    const auto side = static_cast<std::uint32_t>(std::ceil(std::sqrt(static_cast<double>(options.clients))));
    const float offset = static_cast<float>(side - 1) * options.spacing * 0.5f;
    run.clients.resize(options.clients);
    for (std::uint32_t i = 0; i < options.clients; ++i) {
        SimulatedClient& client = run.clients[i];
        client.socket =
            openBoundSocket(options.firstAddress + i / options.clientsPerAddress, client.local, error);
        if (client.socket < 0 || !watch(run, client.socket, i, error)) return false;
        client.homeX = static_cast<float>(i % side) * options.spacing - offset;
        client.homeY = static_cast<float>(i / side) * options.spacing - offset;
    }
    // Floods come from addresses after the clients'.
    const std::uint32_t floodAddress = options.firstAddress + options.clients / options.clientsPerAddress + 1;
    if (options.forgedRate > 0.0) {
        for (std::uint32_t j = 0; j < options.forgedPorts; ++j) {
            Ipv4Endpoint local;
            const int socket = openBoundSocket(floodAddress + j / options.clientsPerAddress, local, error);
            if (socket < 0) return false;
            run.forgedSockets.push_back(socket);
            if (!watch(run, socket, options.clients + j, error)) return false;
        }
    }
    if (options.garbageRate > 0.0) {
        Ipv4Endpoint local;
        run.garbageSocket = openBoundSocket(floodAddress, local, error);
        if (run.garbageSocket < 0) return false;
    }
    run.server = toSocketAddress(options.server);
    return true;
}

void closeSockets(Run& run) {
    for (const SimulatedClient& client : run.clients) {
        if (client.socket >= 0) closeSocket(client.socket);
    }
    for (const int socket : run.forgedSockets)
        closeSocket(socket);
    if (run.garbageSocket >= 0) closeSocket(run.garbageSocket);
    if (run.epoll >= 0) ::close(run.epoll);
}

void send(Run& run, int socket, std::span<const std::uint8_t> bytes) {
    if (::sendto(socket, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&run.server),
                 sizeof run.server) < 0) {
        ++run.counts.sendFailures;
    }
}

// Each client walks a small circle about its place on the square, so that poses change.
PoseDatagram poseOf(const SimulatedClient& client, std::uint32_t index, double t) {
    const double angle = t + index * 0.7;
    return PoseDatagram{client.homeX + 0.5f * static_cast<float>(std::cos(angle)),
                        client.homeY + 0.5f * static_cast<float>(std::sin(angle)), 1.7f,
                        static_cast<float>(std::fmod(angle, 6.283185307179586)), 0.0f};
}

void sendPose(Run& run, std::uint32_t index, double now, double due) {
    const auto bytes = encodePoseDatagram(poseOf(run.clients[index], index, now - run.start));
    send(run, run.clients[index].socket, bytes);
    if (run.measuring) {
        ++run.counts.posesSent;
        recordDuration(run.lateness, now - due);
    }
}

void sendGarbage(Run& run) {
    // Random lengths and bytes, half of them starting with our magic: never a well-formed pose nor
    // a query long enough to be answered, so that the server drops every one.
    std::array<std::uint8_t, 64> bytes{};
    const std::size_t length = run.random() % bytes.size();
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(run.random());
    if (length >= 5 && run.random() % 2 == 0) {
        std::memcpy(bytes.data(), "KV01", 4);
        const bool wellFormed =
            (bytes[4] == 1 && length == PoseDatagramSize) || (bytes[4] == 3 && length >= 24);
        if (wellFormed) bytes[4] = 9;
    }
    send(run, run.garbageSocket, std::span<const std::uint8_t>(bytes.data(), length));
    ++run.counts.garbageSent;
}

void sendForged(Run& run, std::uint64_t sequence) {
    const std::size_t port = sequence % run.forgedSockets.size();
    std::uniform_real_distribution<float> along(-100.0f, 100.0f);
    const auto bytes =
        encodePoseDatagram(PoseDatagram{along(run.random), along(run.random), 1.7f, 0.0f, 0.0f});
    send(run, run.forgedSockets[port], bytes);
    ++run.counts.forgedSent;
}

void takeSnapshot(Run& run, SimulatedClient& client, std::span<const std::uint8_t> bytes, double now) {
    SnapshotDatagram snapshot{};
    if (!decodeSnapshotDatagram(bytes, snapshot) ||
        bytes.size() != SnapshotHeaderSize + SnapshotEntrySize * snapshot.peerCount) {
        ++run.counts.malformed;
        return;
    }
    if (client.selfId == 0) client.selfId = snapshot.selfId;
    if (snapshot.selfId != client.selfId) ++run.counts.selfIdChanged;
    for (std::size_t i = 0; i < snapshot.usableEntryCount; ++i) {
        if (snapshotEntryAt(snapshot, i).peerId == snapshot.selfId) {
            ++run.counts.selfListed;
            break;
        }
    }
    if (!run.measuring) return;
    ++client.snapshots;
    ++run.counts.snapshots;
    run.counts.entriesMin = std::min(run.counts.entriesMin, snapshot.usableEntryCount);
    run.counts.entriesMax = std::max(run.counts.entriesMax, snapshot.usableEntryCount);
    recordDuration(run.gaps, now - client.lastArrival);
    client.lastArrival = now;
}

// One datagram per readiness: epoll is level-triggered, so a socket with more queued is reported
// again, and the call that would find nothing is spared.
void readSocket(Run& run, std::uint32_t tag, double now) {
    std::vector<std::uint8_t>& buffer = run.readBuffer;
    const bool forged = tag >= run.clients.size();
    const int socket = forged ? run.forgedSockets[tag - run.clients.size()] : run.clients[tag].socket;
    const ssize_t length = ::recv(socket, buffer.data(), buffer.size(), 0);
    if (length < 0) return;
    if (forged) {
        ++run.counts.forgedAnswered;
        return;
    }
    takeSnapshot(run, run.clients[tag],
                 std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(length)), now);
}

struct Readings {
    double ownCpu = 0.0;
    std::optional<double> watchedCpu;
    std::uint64_t serverDrops = 0;
    std::uint64_t clientDrops = 0;
};

Readings takeReadings(const Run& run) {
    Readings readings;
    readings.ownCpu = ownCpuSeconds();
    if (run.options.watchPid != 0) readings.watchedCpu = processCpuSeconds(run.options.watchPid);
    std::set<std::pair<std::uint32_t, std::uint16_t>> ours;
    for (const SimulatedClient& client : run.clients)
        ours.emplace(client.local.address, client.local.port);
    for (const UdpSocketDrops& socket : readUdpDrops()) {
        const bool server = socket.local.port == run.options.server.port &&
                            (socket.local.address == run.options.server.address || socket.local.address == 0);
        if (server) readings.serverDrops += socket.drops;
        if (ours.contains({socket.local.address, socket.local.port})) readings.clientDrops += socket.drops;
    }
    return readings;
}

void startWindow(Run& run, double now) {
    run.measuring = true;
    run.windowStart = now;
    for (SimulatedClient& client : run.clients) {
        client.snapshots = 0;
        client.lastArrival = now;
    }
}

// Datagrams due at a steady rate from `start`: the n-th at start + n * interval.
struct Cadence {
    double start;
    double interval;  // 0: never
    std::uint64_t sent = 0;

    double nextDue() const {
        return interval > 0.0 ? start + static_cast<double>(sent) * interval
                              : std::numeric_limits<double>::infinity();
    }
};

// Runs the schedule until the window ends or a stop is asked for; false when waiting failed.
bool runSchedule(Run& run, Readings& before, Readings& after) {
    const LoadOptions& options = run.options;
    run.start = monotonicSeconds();
    Cadence poses{run.start, 1.0 / (options.rate * options.clients)};
    const double windowStart = run.start + options.warmUpSeconds;
    // The floods start with the measured window, once the clients have joined: the question is
    // whether clients keep being served, not whether forged poses can take their seats first.
    Cadence garbage{windowStart, options.garbageRate > 0.0 ? 1.0 / options.garbageRate : 0.0};
    Cadence forged{windowStart, options.forgedRate > 0.0 ? 1.0 / options.forgedRate : 0.0};
    const double windowEnd = windowStart + options.seconds;
    std::array<epoll_event, 256> events{};

    while (stopRequest() == 0) {
        double now = monotonicSeconds();
        if (!run.measuring && now >= windowStart) {
            before = takeReadings(run);
            startWindow(run, now);
        }
        if (now >= windowEnd) break;
        for (; poses.nextDue() <= now; ++poses.sent)
            sendPose(run, static_cast<std::uint32_t>(poses.sent % options.clients), now, poses.nextDue());
        for (; garbage.nextDue() <= now; ++garbage.sent)
            sendGarbage(run);
        for (; forged.nextDue() <= now; ++forged.sent)
            sendForged(run, forged.sent);
        double nextDue = std::min({windowEnd, poses.nextDue(), garbage.nextDue(), forged.nextDue()});
        if (!run.measuring) nextDue = std::min(nextDue, windowStart);

        now = monotonicSeconds();
        const double wait = std::max(0.0, nextDue - now);
        const timespec timeout{static_cast<time_t>(wait), static_cast<long>((wait - std::floor(wait)) * 1e9)};
        const int ready =
            ::epoll_pwait2(run.epoll, events.data(), static_cast<int>(events.size()), &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        now = monotonicSeconds();
        for (int i = 0; i < ready; ++i)
            readSocket(run, events[static_cast<std::size_t>(i)].data.u32, now);
    }
    const double end = monotonicSeconds();
    if (!run.measuring) {
        before = takeReadings(run);
        startWindow(run, end);
    }
    run.windowEnd = end;
    after = takeReadings(run);
    // The stretch from each client's last snapshot to the end of the window is a gap too.
    for (const SimulatedClient& client : run.clients)
        recordDuration(run.gaps, end - client.lastArrival);
    return true;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

void report(const Run& run, const Readings& before, const Readings& after) {
    const double window = std::max(1e-9, run.windowEnd - run.windowStart);
    std::vector<double> rates;
    for (const SimulatedClient& client : run.clients)
        rates.push_back(static_cast<double>(client.snapshots) / window);
    const double lowest = *std::min_element(rates.begin(), rates.end());
    const double middle = median(rates);
    const Counts& c = run.counts;
    const std::uint64_t unanswered = c.posesSent > c.snapshots ? c.posesSent - c.snapshots : 0;
    const double unansweredPercent =
        c.posesSent > 0 ? 100.0 * static_cast<double>(unanswered) / static_cast<double>(c.posesSent) : 0.0;
    const double ownCpu = (after.ownCpu - before.ownCpu) / window;
    std::string watched = "-";
    if (before.watchedCpu && after.watchedCpu) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", (*after.watchedCpu - *before.watchedCpu) / window);
        watched = text;
    }
    const std::size_t entriesMin = c.entriesMin == SIZE_MAX ? 0 : c.entriesMin;
    const double gapP99 = durationPercentile(run.gaps, 0.99) * 1e3;
    const double gapMax = run.gaps.longest * 1e3;
    const double lateP99 = durationPercentile(run.lateness, 0.99) * 1e3;
    const double lateMax = run.lateness.longest * 1e3;
    const auto serverDrops = static_cast<unsigned long long>(after.serverDrops - before.serverDrops);
    const auto clientDrops = static_cast<unsigned long long>(after.clientDrops - before.clientDrops);

    std::printf("%u clients for %.1f s at %g poses/s each, against %s\n", run.options.clients, window,
                run.options.rate, formatIpv4Endpoint(run.options.server).c_str());
    std::printf("  snapshots a second per client: min %.2f, median %.2f\n", lowest, middle);
    std::printf("  gaps between a client's snapshots: p99 %.1f ms, max %.1f ms\n", gapP99, gapMax);
    std::printf("  poses sent %llu, snapshots received %llu, unanswered %llu (%.2f%%)\n",
                static_cast<unsigned long long>(c.posesSent), static_cast<unsigned long long>(c.snapshots),
                static_cast<unsigned long long>(unanswered), unansweredPercent);
    std::printf("  poses late by p99 %.2f ms, max %.2f ms\n", lateP99, lateMax);
    std::printf("  cpu: generator %.3f, watched process %s (cores)\n", ownCpu, watched.c_str());
    std::printf("  system drops: server socket %llu, client sockets %llu\n", serverDrops, clientDrops);
    if (run.options.garbageRate > 0.0 || run.options.forgedRate > 0.0) {
        std::printf(
            "  flood over the whole run: garbage %llu, forged poses %llu, snapshots to forged ports %llu\n",
            static_cast<unsigned long long>(c.garbageSent), static_cast<unsigned long long>(c.forgedSent),
            static_cast<unsigned long long>(c.forgedAnswered));
    }
    std::printf(
        "result clients=%u seconds=%.2f snapshots-min=%.2f snapshots-median=%.2f gap-p99-ms=%.1f "
        "gap-max-ms=%.1f poses=%llu snapshots=%llu unanswered=%llu unanswered-percent=%.2f "
        "late-p99-ms=%.2f late-max-ms=%.2f generator-cpu=%.3f watched-cpu=%s server-drops=%llu "
        "client-drops=%llu entries-min=%zu entries-max=%zu malformed=%llu self-listed=%llu "
        "self-id-changed=%llu send-failures=%llu garbage=%llu forged=%llu forged-answered=%llu\n",
        run.options.clients, window, lowest, middle, gapP99, gapMax,
        static_cast<unsigned long long>(c.posesSent), static_cast<unsigned long long>(c.snapshots),
        static_cast<unsigned long long>(unanswered), unansweredPercent, lateP99, lateMax, ownCpu,
        watched.c_str(), serverDrops, clientDrops, entriesMin, c.entriesMax,
        static_cast<unsigned long long>(c.malformed), static_cast<unsigned long long>(c.selfListed),
        static_cast<unsigned long long>(c.selfIdChanged), static_cast<unsigned long long>(c.sendFailures),
        static_cast<unsigned long long>(c.garbageSent), static_cast<unsigned long long>(c.forgedSent),
        static_cast<unsigned long long>(c.forgedAnswered));
}

int run(const LoadOptions& options) {
    if (!installStopHandlers()) {
        std::fprintf(stderr, "brassmoor-load: cannot install signal handlers: %s\n",
                     stopHandlerError().c_str());
        return 1;
    }
    raiseFileLimit();
    Run state;
    state.options = options;
    std::string error;
    if (!openSockets(state, error)) {
        const auto opened = std::count_if(state.clients.begin(), state.clients.end(),
                                          [](const SimulatedClient& c) { return c.socket >= 0; });
        std::fprintf(stderr, "brassmoor-load: %s (sockets open by then: %zu; see ulimit -n)\n", error.c_str(),
                     static_cast<std::size_t>(opened) + state.forgedSockets.size());
        closeSockets(state);
        return 1;
    }
    Readings before;
    Readings after;
    const bool ran = runSchedule(state, before, after);
    closeSockets(state);
    if (!ran) {
        std::fprintf(stderr, "brassmoor-load: waiting for snapshots failed: %s\n", std::strerror(errno));
        return 1;
    }
    report(state, before, after);
    return 0;
}

}  // namespace
}  // namespace brassmoor

int main(int argc, char** argv) {
    return brassmoor::runHelperProgram(argc, argv, "brassmoor-load", brassmoor::loadUsageText(),
                                       brassmoor::parseLoadOptions, brassmoor::run);
}
