// The client's work per frame outside the GL: walking, the pose send, the snapshot drain, the
// matrices of 204 boxes and the title text; time and heap allocations per frame.
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include <benchmark/benchmark.h>

#include "alloc_counter.h"
#include "app/look.h"
#include "app/walk.h"
#include "bench_support.h"
#include "net/send_cadence.h"
#include "net/server_link.h"
#include "net/snapshot_drain.h"
#include "render/camera.h"
#include "render/title.h"

namespace brassmoor {

namespace {

constexpr float FrameTime = 1.0f / 60.0f;  // a pose goes out every second frame
constexpr int MostOthers = 204;
constexpr int FramebufferWidth = 1280;
constexpr int FramebufferHeight = 720;
constexpr int ReceiveQueueBytes = 4 << 20;

// Reports heap allocations per iteration from a count taken before the loop.
void reportAllocations(benchmark::State& state, std::uint64_t before) {
    state.counters["allocs/frame"] = perIteration(allocationsOnThisThread() - before);
}

// A link as ServerLink::open makes it (non-blocking UDP socket), without the connecting line, and
// aimed at the benchmark's own loopback receiver rather than the server port, so that no server
// or test running on this machine sees the poses.
std::optional<ServerLink> openLinkTo(const sockaddr_in& endpoint) {
    ServerLink link;
    link.socketHandle = openUdpSocket();
    if (link.socketHandle == InvalidSocketHandle) {
        return std::nullopt;
    }
    makeNonBlocking(link.socketHandle);
    link.serverEndpoint = endpoint;
    link.hasServerAddress = true;
    return link;
}

void walkStepBench(benchmark::State& state) {
    PlayerPosition position{};
    const Vec3 look = lookDirection(LookState{});
    const WalkKeys keys{true, false, true, false};  // forward and right at once
    const std::uint64_t before = allocationsOnThisThread();
    for (auto _ : state) {
        walkStep(position, look, FrameTime, keys);
        benchmark::DoNotOptimize(position);
    }
    reportAllocations(state, before);
}

void sendPoseIfDueBench(benchmark::State& state) {
    std::optional<LoopbackSocket> receiver = openLoopbackSocket();
    std::optional<ServerLink> link = receiver ? openLinkTo(receiver->address) : std::nullopt;
    if (!link) {
        state.SkipWithError("no loopback socket");
        return;
    }
    setReceiveBuffer(receiver->handle, ReceiveQueueBytes);
    const PoseDatagram pose{1.5f, -2.25f, EyeHeight, InitialYaw, 0.1f};
    std::int64_t frames = 0;
    std::uint64_t allocations = 0;
    for (auto _ : state) {
        const std::uint64_t before = allocationsOnThisThread();
        link->sendPoseIfDue(FrameTime, pose);
        allocations += allocationsOnThisThread() - before;
        // Keep the receiver's queue from filling, so every send is a delivered one.
        if (++frames % 1024 == 0) {
            state.PauseTiming();
            discardQueued(receiver->handle);
            state.ResumeTiming();
        }
    }
    state.counters["allocs/frame"] = perIteration(allocations);
    link->close();
    closeSocket(receiver->handle);
}

// The same decision and bytes without the socket: the send interval and the encoding alone.
void cadenceAndEncodeBench(benchmark::State& state) {
    double sendAccumulator = 0.0;
    const PoseDatagram pose{1.5f, -2.25f, EyeHeight, InitialYaw, 0.1f};
    const std::uint64_t before = allocationsOnThisThread();
    for (auto _ : state) {
        if (takePoseSendTurn(sendAccumulator, FrameTime)) {
            std::array<std::uint8_t, PoseDatagramSize> bytes = encodePoseDatagram(pose);
            benchmark::DoNotOptimize(bytes);
        }
    }
    reportAllocations(state, before);
}

// What one drain does with a full snapshot, without the socket: copy it into the receive buffer,
// test it, decode it into the peer table.
void applySnapshotBench(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = snapshotInView(MostOthers);
    PeerTable table;
    const std::uint64_t before = allocationsOnThisThread();
    for (auto _ : state) {
        SnapshotDrain drain;
        offerDatagram(drain, bytes);
        finishDrain(drain, table);
        benchmark::DoNotOptimize(table);
    }
    reportAllocations(state, before);
    if (table.size() != MostOthers) {
        state.SkipWithError("the table does not hold the snapshot's players");
    }
}

// The real drain over a loopback socket with `queued` snapshots of 204 players waiting (0: none,
// the usual frame between two snapshots). Queuing them is not timed.
void drainSnapshotsBench(benchmark::State& state, int queued) {
    std::optional<LoopbackSocket> sender = openLoopbackSocket();
    std::optional<ServerLink> link = sender ? openLinkTo(sender->address) : std::nullopt;
    const std::optional<sockaddr_in> linkAddress = link ? bindToLoopback(link->socketHandle) : std::nullopt;
    if (!linkAddress) {
        state.SkipWithError("no loopback socket");
        return;
    }
    setReceiveBuffer(link->socketHandle, ReceiveQueueBytes);
    const std::vector<std::uint8_t> bytes = snapshotInView(MostOthers);
    PeerTable table;
    std::uint64_t allocations = 0;
    for (auto _ : state) {
        if (queued > 0) {
            state.PauseTiming();
            for (int i = 0; i < queued; ++i) {
                sendDatagram(sender->handle, bytes.data(), static_cast<int>(bytes.size()), *linkAddress);
            }
            state.ResumeTiming();
        }
        const std::uint64_t before = allocationsOnThisThread();
        link->drainSnapshots(table);
        allocations += allocationsOnThisThread() - before;
    }
    state.counters["allocs/frame"] = perIteration(allocations);
    if (queued > 0 && table.size() != MostOthers) {
        state.SkipWithError("the drain did not apply the snapshot");
    }
    link->close();
    closeSocket(sender->handle);
}

void drainNothingQueuedBench(benchmark::State& state) {
    drainSnapshotsBench(state, 0);
}

void drainOneSnapshotBench(benchmark::State& state) {
    drainSnapshotsBench(state, 1);
}

// Every matrix of a frame with 204 boxes, as drawFrame computes them, without the GL calls.
void frameMatricesBench(benchmark::State& state) {
    const PeerTable peers = peersInView(MostOthers);
    const PlayerPosition position{};
    const Vec3 look = lookDirection(LookState{});
    const std::uint64_t before = allocationsOnThisThread();
    for (auto _ : state) {
        const Mat4 projection = projectionForFramebuffer(FramebufferWidth, FramebufferHeight);
        const Mat4 viewProjection = multiply(projection, viewFromEye(position, look));
        benchmark::DoNotOptimize(viewProjection);
        for (const auto& entry : peers) {
            const Mat4 model = avatarModelMatrix(entry.state);
            const Mat4 mvp = multiply(viewProjection, model);
            benchmark::DoNotOptimize(model);
            benchmark::DoNotOptimize(mvp);
        }
    }
    reportAllocations(state, before);
}

void formatWindowTitleBench(benchmark::State& state) {
    char title[WindowTitleCapacity];
    const PlayerPosition position{-1.26f, 7.06f};
    const std::uint64_t before = allocationsOnThisThread();
    for (auto _ : state) {
        formatWindowTitle(title, "127.0.0.1", MostOthers, position);
        benchmark::DoNotOptimize(title);
    }
    reportAllocations(state, before);
}

// All of the above in frame order, with a full snapshot waiting at every frame (the worst case:
// the server sends at about 30 per second, so at 60 frames per second every other frame has none).
void wholeFrameWorkBench(benchmark::State& state) {
    std::optional<LoopbackSocket> server = openLoopbackSocket();
    std::optional<ServerLink> link = server ? openLinkTo(server->address) : std::nullopt;
    const std::optional<sockaddr_in> linkAddress = link ? bindToLoopback(link->socketHandle) : std::nullopt;
    if (!linkAddress) {
        state.SkipWithError("no loopback socket");
        return;
    }
    setReceiveBuffer(link->socketHandle, ReceiveQueueBytes);
    setReceiveBuffer(server->handle, ReceiveQueueBytes);
    const std::vector<std::uint8_t> bytes = snapshotInView(MostOthers);
    const LookState lookAngles{};
    const WalkKeys keys{true, false, false, false};
    PlayerPosition position{};
    PeerTable peers;
    char title[WindowTitleCapacity];
    std::int64_t frames = 0;
    std::uint64_t allocations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sendDatagram(server->handle, bytes.data(), static_cast<int>(bytes.size()), *linkAddress);
        if (++frames % 1024 == 0) {
            discardQueued(server->handle);
        }
        state.ResumeTiming();

        const std::uint64_t before = allocationsOnThisThread();
        const Vec3 look = lookDirection(lookAngles);
        walkStep(position, look, FrameTime, keys);
        link->sendPoseIfDue(FrameTime, PoseDatagram{position.x, position.y, EyeHeight, lookAngles.yaw, 0.0f});
        link->drainSnapshots(peers);
        const Mat4 projection = projectionForFramebuffer(FramebufferWidth, FramebufferHeight);
        const Mat4 viewProjection = multiply(projection, viewFromEye(position, look));
        benchmark::DoNotOptimize(viewProjection);
        for (const auto& entry : peers) {
            const Mat4 mvp = multiply(viewProjection, avatarModelMatrix(entry.state));
            benchmark::DoNotOptimize(mvp);
        }
        formatWindowTitle(title, "127.0.0.1", static_cast<int>(peers.size()), position);
        benchmark::DoNotOptimize(title);
        allocations += allocationsOnThisThread() - before;
    }
    state.counters["allocs/frame"] = perIteration(allocations);
    link->close();
    closeSocket(server->handle);
}

struct BenchCase {
    const char* name;   // as the console shows it
    const char* label;  // in the summary
    void (*run)(benchmark::State&);
};

constexpr BenchCase BenchCases[] = {
    {"walkStep", "walkStep", walkStepBench},
    {"sendPoseIfDue (loopback, dt 1/60)", "sendPoseIfDue, real send every 2nd frame", sendPoseIfDueBench},
    {"takePoseSendTurn+encodePoseDatagram", "send cadence + encode only", cadenceAndEncodeBench},
    {"offerDatagram+finishDrain (204 others)", "apply a 204-entry snapshot", applySnapshotBench},
    {"drainSnapshots (loopback, none queued)", "drainSnapshots, nothing queued", drainNothingQueuedBench},
    {"drainSnapshots (loopback, 1 queued)", "drainSnapshots, one 204-entry snapshot", drainOneSnapshotBench},
    {"frame matrices (204 boxes)", "all matrices of 204 boxes", frameMatricesBench},
    {"formatWindowTitle", "formatWindowTitle", formatWindowTitleBench},
    {"whole frame work (204 others)", "all of it, a snapshot every frame", wholeFrameWorkBench},
};

void printSummary(const RecordingReporter& reporter) {
    std::printf("\nWork per frame outside the GL (time per frame, heap allocations per frame):\n");
    for (const BenchCase& row : BenchCases) {
        const std::optional<Figure> figure = reporter.find(row.name);
        if (!figure) {
            continue;
        }
        std::printf("  %-42s %10.3f us  %6.1f allocs\n", row.label, figure->realNanoseconds / 1e3,
                    reporter.counter(row.name, "allocs/frame").value_or(-1.0));
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
    for (const BenchCase& benchCase : BenchCases) {
        benchmark::RegisterBenchmark(benchCase.name, benchCase.run)->MinTime(0.3);
    }

    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    printSummary(reporter);
    return 0;
}
