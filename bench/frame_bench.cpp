// Cost of one client frame (events, drawing, title, swap) in a 1280x720 window, against a bare
// clear-and-swap loop in the same window and the same run, and against glretrace --benchmark
// replaying the real client's own GL calls for the same scene (traces made by
// bench/record_gl_traces.py, given with --replay-traces=DIR). Needs a display (a virtual X server).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <glad/gl.h>
#include <GLFW/glfw3.h>
#include <benchmark/benchmark.h>

#include "alloc_counter.h"
#include "app/look.h"
#include "bench_support.h"
#include "render/frame.h"
#include "render/mesh.h"
#include "render/shader.h"
#include "render/title.h"

namespace brassmoor {

namespace {

constexpr int WindowWidth = 1280;
constexpr int WindowHeight = 720;
constexpr const char* ServerAddressText = "127.0.0.1";
constexpr int OthersInView[] = {0, 16, 204};
// Many short repetitions, interleaved with --benchmark_enable_random_interleaving, so that a busy
// moment of the machine does not fall on one case only.
constexpr double FrameMinTime = 0.25;
constexpr int FrameRepetitions = 9;

// The window and scene objects, set up in the client's own order.
struct BenchScene {
    GLFWwindow* window = nullptr;
    LitColorProgram program;
    std::vector<float> boxVertices;
    std::vector<float> gridVertices;
    SceneMeshes meshes;
};

const char* openScene(BenchScene& scene) {
    if (!glfwInit()) {
        return "glfw init failed";
    }
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    scene.window = glfwCreateWindow(WindowWidth, WindowHeight, "Brassmoor", nullptr, nullptr);
    if (scene.window == nullptr) {
        glfwTerminate();
        return "window failed";
    }
    glfwMakeContextCurrent(scene.window);
    glfwSwapInterval(1);
    if (gladLoadGL(reinterpret_cast<GLADloadfunc>(glfwGetProcAddress)) == 0) {
        return "glad failed";
    }
    glEnable(GL_DEPTH_TEST);
    scene.program = createLitColorProgram();
    buildAvatarBox(scene.boxVertices);
    scene.meshes.avatarBox = uploadMesh(scene.boxVertices);
    buildGroundGrid(scene.gridVertices);
    scene.meshes.groundGrid = uploadMesh(scene.gridVertices);
    return nullptr;
}

// The baseline: what presenting an empty frame costs here, with nothing of the client's.
void bareClearAndSwap(benchmark::State& state, const BenchScene& scene) {
    const std::uint64_t allocationsBefore = allocationsOnThisThread();
    for (auto _ : state) {
        glClearColor(0.06f, 0.07f, 0.09f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glfwSwapBuffers(scene.window);
        // llvmpipe renders on worker threads; waiting here makes the frame's work count.
        glFinish();
    }
    state.counters["allocs/frame"] = perIteration(allocationsOnThisThread() - allocationsBefore);
}

// One pass of the client's frame as far as the window and the GL go: events, drawFrame,
// updateWindowTitle, swap.
void clientFrame(benchmark::State& state, const BenchScene& scene) {
    const PeerTable peers = peersInView(static_cast<int>(state.range(0)));
    const PlayerPosition position{};
    const Vec3 look = lookDirection(LookState{});
    std::uint64_t drawAllocations = 0;
    const std::uint64_t allocationsBefore = allocationsOnThisThread();
    for (auto _ : state) {
        glfwPollEvents();
        const std::uint64_t drawStart = allocationsOnThisThread();
        drawFrame(scene.window, position, look, peers, scene.program, scene.meshes);
        drawAllocations += allocationsOnThisThread() - drawStart;
        updateWindowTitle(scene.window, ServerAddressText, peers, position);
        glfwSwapBuffers(scene.window);
        glFinish();
    }
    state.counters["allocs/frame"] = perIteration(allocationsOnThisThread() - allocationsBefore);
    state.counters["drawFrame allocs/frame"] = perIteration(drawAllocations);
}

// The title on its own: formatting plus the X property change, no drawing.
void titleOnly(benchmark::State& state, const BenchScene& scene) {
    const PeerTable peers = peersInView(204);
    const PlayerPosition position{};
    for (auto _ : state) {
        updateWindowTitle(scene.window, ServerAddressText, peers, position);
    }
}

// What one glretrace --benchmark run reported.
struct ReplayRun {
    int frames = 0;
    double seconds = 0.0;
};

std::optional<ReplayRun> replayTrace(const std::string& trace) {
    const std::string command = "glretrace --benchmark '" + trace + "' 2>&1";
    FILE* output = ::popen(command.c_str(), "r");
    if (output == nullptr) {
        return std::nullopt;
    }
    std::optional<ReplayRun> run;
    char line[512];
    while (std::fgets(line, sizeof line, output) != nullptr) {
        ReplayRun parsed;
        if (std::sscanf(line, "Rendered %d frames in %lf secs", &parsed.frames, &parsed.seconds) == 2) {
            run = parsed;
        }
    }
    const int status = ::pclose(output);
    return status == 0 ? run : std::nullopt;
}

// The same GL calls without the client: its recorded frames replayed as fast as the driver allows.
// The start-up trace (window, shaders, uploads, the first frames) is replayed too and taken off,
// leaving the time of the steady frames alone, one frame per iteration.
void glReplay(benchmark::State& state, const std::string& traceFolder) {
    const std::string stem = traceFolder + "/client-" + std::to_string(state.range(0));
    for (auto _ : state) {
        const std::optional<ReplayRun> start = replayTrace(stem + "-start.trace");
        const std::optional<ReplayRun> whole = replayTrace(stem + ".trace");
        if (!start || !whole || whole->frames <= start->frames) {
            state.SkipWithError("glretrace could not replay the traces (run bench/record_gl_traces.py)");
            return;
        }
        state.SetIterationTime((whole->seconds - start->seconds) / (whole->frames - start->frames));
    }
}

// One summary line: the median and the fastest repetition, each also as a multiple of the bare
// loop's own median or fastest.
void printFrameLine(const char* label, const std::optional<Figure>& median,
                    const std::optional<Figure>& fastest, const Figure& bareMedian, const Figure& bareFastest,
                    const char* note) {
    if (!median || !fastest) {
        return;
    }
    std::printf("  %-22s %8.3f ms %6.2fx  %8.3f ms %6.2fx  %6.0f  %s\n", label, median->realNanoseconds / 1e6,
                median->realNanoseconds / bareMedian.realNanoseconds, fastest->realNanoseconds / 1e6,
                fastest->realNanoseconds / bareFastest.realNanoseconds, 1e9 / median->realNanoseconds, note);
}

void printSummary(const RecordingReporter& reporter, int framebufferWidth, int framebufferHeight) {
    const std::optional<Figure> bare = reporter.find("bare glClear+swap");
    const std::optional<Figure> bareFastest = reporter.findAggregate("bare glClear+swap", "min");
    if (!bare || !bareFastest) {
        return;
    }
    std::printf(
        "\nFrame cost, %dx%d framebuffer, Xvfb + llvmpipe, real time per frame over %d interleaved\n"
        "repetitions (median, and the fastest repetition, the one least disturbed by other work):\n",
        framebufferWidth, framebufferHeight, FrameRepetitions);
    std::printf("  %-22s %11s %7s  %11s %7s  %6s\n", "", "median", "x bare", "fastest", "x bare", "fps");
    printFrameLine("bare glClear + swap", bare, bareFastest, *bare, *bareFastest, "");
    for (const int others : OthersInView) {
        char name[64];
        std::snprintf(name, sizeof(name), "client frame/others:%d", others);
        char label[64];
        std::snprintf(label, sizeof(label), "frame, %d others", others);
        char note[96];
        std::snprintf(note, sizeof(note), "drawFrame heap allocations per frame: %g",
                      reporter.counter(name, "drawFrame allocs/frame").value_or(-1.0));
        const std::optional<Figure> fastest = reporter.findAggregate(name, "min");
        printFrameLine(label, reporter.find(name), fastest, *bare, *bareFastest, note);
    }
    bool anyReplay = false;
    for (const int others : OthersInView) {
        char clientName[64];
        std::snprintf(clientName, sizeof(clientName), "client frame/others:%d", others);
        char replayName[64];
        std::snprintf(replayName, sizeof(replayName), "glretrace replay/others:%d", others);
        const std::optional<Figure> client = reporter.find(clientName);
        const std::optional<Figure> replay = reporter.find(replayName);
        if (!client || !replay) {
            continue;
        }
        if (!anyReplay) {
            std::printf(
                "The client's frame against glretrace --benchmark replaying the real client's GL calls\n"
                "for the same scene (medians; 1.00 means the frame costs what its GL calls cost):\n");
            anyReplay = true;
        }
        std::printf("  %3d others: client frame %8.3f ms, replay %8.3f ms, replay ratio %.2f\n", others,
                    client->realNanoseconds / 1e6, replay->realNanoseconds / 1e6,
                    client->realNanoseconds / replay->realNanoseconds);
    }
    if (const std::optional<Figure> title = reporter.find("updateWindowTitle only")) {
        std::printf("  %-22s %8.3f ms  (one run, not repeated)\n", "updateWindowTitle alone",
                    title->realNanoseconds / 1e6);
    }
    // A display rate would hold the bare loop near 60 frames per second; far above it, nothing waits.
    const double bareRate = 1e9 / bare->realNanoseconds;
    if (bareRate > 75.0) {
        std::printf(
            "The swap interval is set to 1 as in the client, but Xvfb with llvmpipe does not honour\n"
            "it (the bare loop runs at %.0f frames/s): these times are the cost of the work,\n"
            "not a frame cap.\n",
            bareRate);
    } else {
        std::printf(
            "The bare loop runs at %.0f frames/s: the swap interval seems to be honoured here,\n"
            "so the frames above may include waiting for the display.\n",
            bareRate);
    }
}

// Takes --replay-traces=DIR out of the arguments, before the benchmark library sees them.
std::string takeReplayFolder(int& argc, char** argv) {
    constexpr std::string_view Option = "--replay-traces=";
    std::string folder;
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.substr(0, Option.size()) == Option) {
            folder = argument.substr(Option.size());
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return folder;
}

}  // namespace

}  // namespace brassmoor

int main(int argc, char** argv) {
    using namespace brassmoor;
    const std::string replayFolder = takeReplayFolder(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    BenchScene scene;
    if (const char* failure = openScene(scene)) {
        std::fprintf(stderr, "frame benchmark: %s (is there a display?)\n", failure);
        return 1;
    }
    int framebufferWidth = 0;
    int framebufferHeight = 0;
    glfwGetFramebufferSize(scene.window, &framebufferWidth, &framebufferHeight);

    // Real time: llvmpipe's rasteriser threads do much of the work, off the measured thread.
    const auto repeatedInRealTime = [](benchmark::internal::Benchmark* b) {
        b->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(FrameMinTime);
        b->Repetitions(FrameRepetitions)->ReportAggregatesOnly(true);
        b->ComputeStatistics("min", [](const std::vector<double>& values) {
            return *std::min_element(values.begin(), values.end());
        });
    };
    repeatedInRealTime(benchmark::RegisterBenchmark(
        "bare glClear+swap", [&scene](benchmark::State& state) { bareClearAndSwap(state, scene); }));
    auto* frames = benchmark::RegisterBenchmark(
        "client frame", [&scene](benchmark::State& state) { clientFrame(state, scene); });
    repeatedInRealTime(frames);
    frames->ArgName("others");
    for (const int others : OthersInView) {
        frames->Arg(others);
    }
    if (!replayFolder.empty()) {
        auto* replays = benchmark::RegisterBenchmark(
            "glretrace replay", [&replayFolder](benchmark::State& state) { glReplay(state, replayFolder); });
        // One replay pair per repetition, timed by glretrace's own clock.
        replays->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
        replays->Repetitions(FrameRepetitions)->ReportAggregatesOnly(true);
        replays->ArgName("others");
        for (const int others : OthersInView) {
            replays->Arg(others);
        }
    }
    benchmark::RegisterBenchmark("updateWindowTitle only",
                                 [&scene](benchmark::State& state) { titleOnly(state, scene); })
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond)
        ->MinTime(0.3);

    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    printSummary(reporter, framebufferWidth, framebufferHeight);

    glfwDestroyWindow(scene.window);
    glfwTerminate();
    return 0;
}
