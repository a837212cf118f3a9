// Datagram encoding and decoding, and how fast the client drains snapshots off a loopback
// socket compared with a bare recvfrom loop over the same queue.
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "net/server_link.h"

namespace brassmoor {

namespace {

constexpr int MostOthers = 204;
constexpr int ReceiveQueueBytes = 4 << 20;
// Datagrams queued before each timed drain: well inside the receive queue asked for above.
constexpr int QueuedDatagrams = 128;

void encodePoseBench(benchmark::State& state) {
    PoseDatagram pose{1.5f, -2.25f, 1.7f, 1.5708f, 0.1f};
    for (auto _ : state) {
        std::array<std::uint8_t, PoseDatagramSize> bytes = encodePoseDatagram(pose);
        benchmark::DoNotOptimize(bytes);
        pose.x += 0.25f;  // a new pose every time, as in the client
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(PoseDatagramSize));
}

// Acceptance test plus reading every entry, which is what a drain does with each snapshot.
void decodeSnapshotBench(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = snapshotInView(MostOthers);
    std::size_t entriesRead = 0;
    for (auto _ : state) {
        SnapshotDatagram snapshot{};
        if (!decodeSnapshotDatagram(bytes, snapshot)) {
            state.SkipWithError("the snapshot was rejected");
            return;
        }
        std::uint32_t ids = 0;
        float sum = 0.0f;
        for (std::size_t i = 0; i < snapshot.usableEntryCount; ++i) {
            const SnapshotEntry entry = snapshotEntryAt(snapshot, i);
            ids ^= entry.peerId;
            sum += entry.state.x + entry.state.y + entry.state.z + entry.state.yaw;
        }
        benchmark::DoNotOptimize(ids);
        benchmark::DoNotOptimize(sum);
        entriesRead += snapshot.usableEntryCount;
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
    state.counters["entries"] = perIteration(entriesRead);
}

// A receiving socket with a sender aimed at it, both on 127.0.0.1.
struct LoopbackPair {
    std::optional<LoopbackSocket> sender;
    SocketHandle receiver = InvalidSocketHandle;
    sockaddr_in receiverAddress{};
};

std::optional<LoopbackPair> openPair(SocketHandle receiver) {
    LoopbackPair pair;
    pair.sender = openLoopbackSocket();
    const std::optional<sockaddr_in> address = bindToLoopback(receiver);
    if (!pair.sender || !address) {
        return std::nullopt;
    }
    setReceiveBuffer(receiver, ReceiveQueueBytes);
    pair.receiver = receiver;
    pair.receiverAddress = *address;
    return pair;
}

void fillQueue(const LoopbackPair& pair, const std::vector<std::uint8_t>& bytes) {
    for (int i = 0; i < QueuedDatagrams; ++i) {
        sendDatagram(pair.sender->handle, bytes.data(), static_cast<int>(bytes.size()), pair.receiverAddress);
    }
}

// False when the queue cannot hold every datagram, which would make the count per drain wrong.
bool queueHoldsAll(const LoopbackPair& pair, const std::vector<std::uint8_t>& bytes) {
    fillQueue(pair, bytes);
    return discardQueued(pair.receiver) == QueuedDatagrams;
}

void reportThroughput(benchmark::State& state, std::size_t datagramSize) {
    state.SetItemsProcessed(state.iterations() * QueuedDatagrams);
    state.SetBytesProcessed(state.iterations() * QueuedDatagrams * static_cast<std::int64_t>(datagramSize));
    state.counters["datagrams/drain"] = QueuedDatagrams;
}

// The client's drain: ServerLink::drainSnapshots over a queue of snapshots of range(0) players.
void linkDrainBench(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = snapshotInView(static_cast<int>(state.range(0)));
    ServerLink link;
    link.socketHandle = openUdpSocket();
    makeNonBlocking(link.socketHandle);
    std::optional<LoopbackPair> pair = openPair(link.socketHandle);
    if (!pair || !queueHoldsAll(*pair, bytes)) {
        state.SkipWithError("no loopback socket, or its queue is too small");
        return;
    }
    PeerTable table;
    for (auto _ : state) {
        state.PauseTiming();
        fillQueue(*pair, bytes);
        state.ResumeTiming();
        link.drainSnapshots(table);
    }
    reportThroughput(state, bytes.size());
    if (table.size() != static_cast<std::size_t>(state.range(0))) {
        state.SkipWithError("the drain did not apply the snapshots");
    }
    link.close();
    closeSocket(pair->sender->handle);
}

// The floor: recvfrom until the queue is empty, looking at nothing.
void bareRecvfromBench(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = snapshotInView(static_cast<int>(state.range(0)));
    const SocketHandle receiver = openUdpSocket();
    makeNonBlocking(receiver);
    std::optional<LoopbackPair> pair = openPair(receiver);
    if (!pair || !queueHoldsAll(*pair, bytes)) {
        state.SkipWithError("no loopback socket, or its queue is too small");
        return;
    }
    std::array<std::uint8_t, ReceiveBufferSize> buffer;
    std::int64_t received = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fillQueue(*pair, bytes);
        state.ResumeTiming();
        while (::recvfrom(receiver, buffer.data(), buffer.size(), 0, nullptr, nullptr) > 0) {
            ++received;
        }
    }
    reportThroughput(state, bytes.size());
    if (received != state.iterations() * QueuedDatagrams) {
        state.SkipWithError("datagrams were lost on the way");
    }
    closeSocket(receiver);
    closeSocket(pair->sender->handle);
}

void printSummary(const RecordingReporter& reporter) {
    std::printf("\nDatagrams (real time per call; MB is 10^6 bytes):\n");
    if (const std::optional<Figure> encode = reporter.find("encodePoseDatagram")) {
        std::printf("  %-44s %9.1f ns  %8.1f MB/s\n", "encodePoseDatagram (25 bytes)",
                    encode->realNanoseconds, 25e3 / encode->realNanoseconds);
    }
    if (const std::optional<Figure> decode = reporter.find("decodeSnapshotDatagram+204 entries")) {
        std::printf("  %-44s %9.1f ns  %8.1f MB/s\n", "decodeSnapshotDatagram + 204 entries (4091 B)",
                    decode->realNanoseconds, 4091e3 / decode->realNanoseconds);
    }
    std::printf("Loopback drain, %d datagrams queued before each drain (datagrams per second,"
                " real time):\n",
                QueuedDatagrams);
    for (const int players : {16, MostOthers}) {
        char linkName[64];
        char bareName[64];
        std::snprintf(linkName, sizeof(linkName), "ServerLink::drainSnapshots/players:%d", players);
        std::snprintf(bareName, sizeof(bareName), "bare recvfrom loop/players:%d", players);
        const std::optional<Figure> link = reporter.find(linkName);
        const std::optional<Figure> bare = reporter.find(bareName);
        if (!link || !bare) {
            continue;
        }
        const double linkRate = QueuedDatagrams * 1e9 / link->realNanoseconds;
        const double bareRate = QueuedDatagrams * 1e9 / bare->realNanoseconds;
        std::printf("  snapshots of %3d players: drainSnapshots %10.0f /s, bare recvfrom %10.0f /s,"
                    " ratio %.2f\n",
                    players, linkRate, bareRate, linkRate / bareRate);
    }
}

}  // namespace

}  // namespace brassmoor

int main(int argc, char** argv) {
    using namespace brassmoor;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    constexpr double MinTime = 0.3;
    benchmark::RegisterBenchmark("encodePoseDatagram", encodePoseBench)->MinTime(MinTime);
    benchmark::RegisterBenchmark("decodeSnapshotDatagram+204 entries", decodeSnapshotBench)->MinTime(MinTime);
    // Interleaved by size, so that each pair is measured side by side.
    for (const int players : {16, MostOthers}) {
        benchmark::RegisterBenchmark("ServerLink::drainSnapshots", linkDrainBench)
            ->ArgName("players")->Arg(players)->Unit(benchmark::kMicrosecond)->MinTime(MinTime);
        benchmark::RegisterBenchmark("bare recvfrom loop", bareRecvfromBench)
            ->ArgName("players")->Arg(players)->Unit(benchmark::kMicrosecond)->MinTime(MinTime);
    }

    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    printSummary(reporter);
    return 0;
}
