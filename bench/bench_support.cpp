// Shared pieces of the benchmarks: players in view, loopback sockets, the recording reporter.
#include "bench_support.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace brassmoor {

namespace {

constexpr int PlayersPerRow = 17;

}  // namespace

std::vector<SnapshotEntry> entriesInView(int count) {
    std::vector<SnapshotEntry> entries;
    for (int i = 0; i < count; ++i) {
        const int row = i / PlayersPerRow;
        const int column = i % PlayersPerRow;
        const PeerState state{static_cast<float>(column - PlayersPerRow / 2) * 0.9f,
                              6.0f + 2.0f * static_cast<float>(row), EyeHeight, 0.3f * static_cast<float>(i)};
        entries.push_back(SnapshotEntry{static_cast<std::uint32_t>(1000 + i), state});
    }
    return entries;
}

PeerTable peersInView(int count) {
    PeerTable table;
    for (const SnapshotEntry& entry : entriesInView(count)) {
        table.insert_or_assign(entry.peerId, entry.state);
    }
    return table;
}

std::vector<std::uint8_t> snapshotInView(int count) {
    const std::vector<SnapshotEntry> entries = entriesInView(count);
    std::vector<std::uint8_t> bytes(ReceiveBufferSize);
    const std::size_t size = encodeSnapshotDatagram(7, entries, bytes);
    bytes.resize(size);
    return bytes;
}

std::optional<sockaddr_in> bindToLoopback(SocketHandle handle) {
    sockaddr_in local{};
    if (!makeIpv4Endpoint("127.0.0.1", 0, local) || !bindUdpSocket(handle, local)) {
        return std::nullopt;
    }
    socklen_t length = sizeof(local);
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return std::nullopt;
    }
    return local;
}

std::optional<LoopbackSocket> openLoopbackSocket() {
    LoopbackSocket socket;
    socket.handle = openUdpSocket();
    if (socket.handle == InvalidSocketHandle) {
        return std::nullopt;
    }
    makeNonBlocking(socket.handle);
    const std::optional<sockaddr_in> address = bindToLoopback(socket.handle);
    if (!address) {
        closeSocket(socket.handle);
        return std::nullopt;
    }
    socket.address = *address;
    return socket;
}

void setReceiveBuffer(SocketHandle handle, int bytes) {
    ::setsockopt(handle, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
}

int discardQueued(SocketHandle handle) {
    std::uint8_t buffer[ReceiveBufferSize];
    int count = 0;
    while (receiveDatagram(handle, buffer, static_cast<int>(sizeof(buffer))) >= 0) {
        ++count;
    }
    return count;
}

benchmark::Counter perIteration(std::uint64_t count) {
    return benchmark::Counter(static_cast<double>(count), benchmark::Counter::kAvgIterations);
}

RecordingReporter::RecordingReporter()
    : ConsoleReporter(::isatty(::fileno(stdout)) ? OO_ColorTabular : OO_Tabular)
{}

void RecordingReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.error_occurred) {
            continue;
        }
        Figure figure;
        // Without the min_time, repeats and real_time parts that the console shows.
        figure.name = run.run_name.function_name;
        if (!run.run_name.args.empty()) {
            figure.name += "/" + run.run_name.args;
        }
        const double unitsPerSecond = benchmark::GetTimeUnitMultiplier(run.time_unit);
        figure.realNanoseconds = run.GetAdjustedRealTime() * 1e9 / unitsPerSecond;
        figure.counters = run.counters;
        if (run.run_type == Run::RT_Aggregate) {
            figure.aggregate = run.aggregate_name;
        }
        figures.push_back(figure);
    }
}

std::optional<Figure> RecordingReporter::find(std::string_view name) const {
    if (std::optional<Figure> median = findAggregate(name, "median")) {
        return median;
    }
    return findAggregate(name, "");
}

std::optional<Figure> RecordingReporter::findAggregate(std::string_view name,
                                                      std::string_view aggregate) const
{
    for (const Figure& figure : figures) {
        if (figure.name == name && figure.aggregate == aggregate) {
            return figure;
        }
    }
    return std::nullopt;
}

std::optional<double> RecordingReporter::counter(std::string_view name, const std::string& counterName) const
{
    const std::optional<Figure> figure = find(name);
    if (!figure) {
        return std::nullopt;
    }
    const auto it = figure->counters.find(counterName);
    if (it == figure->counters.end()) {
        return std::nullopt;
    }
    return it->second.value;
}

}  // namespace brassmoor
