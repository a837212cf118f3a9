// brassmoor-server: the server loop until a stop request (Ctrl-C or SIGTERM) or, with
// --end-when-empty, the session's end; with its watchers: the metrics endpoint, and the thread that
// talks to the orchestrator's sidecar and the list servers.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "figures_slot.h"
#include "metrics_endpoint.h"
#include "monotonic_clock.h"
#include "options.h"
#include "program_entry.h"
#include "server_loop.h"
#include "sidecar_link.h"
#include "stop_request.h"
#include "watchers_thread.h"

namespace brassmoor {
namespace {

// After the session's end the sidecar is given this long to take the shutdown (tried each second).
constexpr double ShutdownWaitSeconds = 5.0;

// What watches the loop from threads of its own; the loop only publishes into `slot`.
struct Watchers {
    FiguresSlot slot;
    MetricsEndpoint metrics;
    WatchersThread calls;
};

bool startWatchers(const ServerOptions& options, Watchers& watchers, std::string& error) {
    if (options.metrics) {
        if (!startMetricsEndpoint(*options.metrics, watchers.slot, watchers.metrics, error)) return false;
        std::printf("metrics on http://%s/metrics and /healthz\n",
                    formatIpv4Endpoint(*options.metrics).c_str());
    }
    const SidecarPortResult sidecar = sidecarPortFrom(std::getenv("AGONES_SDK_HTTP_PORT"));
    if (!sidecar.error.empty()) {
        error = sidecar.error;
        return false;
    }
    if (!startWatchersThread(sidecar.port, options.listServers, options.bindAddress, watchers.slot, stdout,
                             watchers.calls, error)) {
        return false;
    }
    if (sidecar.port)
        std::printf("agones: talking to the sidecar on 127.0.0.1:%u\n", unsigned{*sidecar.port});
    return true;
}

void stopWatchers(Watchers& watchers) {
    stopWatchersThread(watchers.calls);
    stopMetricsEndpoint(watchers.metrics);
}

// The session is over: the sidecar, when there is one, is told before the program ends (and the
// lists are withdrawn from as the watchers' thread stops).
void endSession(Watchers& watchers) {
    publishSessionOver(watchers.slot);
    endWatchedSession(watchers.calls);
    if (!watchers.calls.sidecarPort) return;
    const double deadline = monotonicSeconds() + ShutdownWaitSeconds;
    while (!watchers.calls.shutdownDone.load() && stopRequest() == 0 && monotonicSeconds() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!watchers.calls.shutdownDone.load()) std::printf("agones: the sidecar did not take the shutdown\n");
}

int run(const ServerOptions& options) {
    if (!installStopHandlers()) {
        std::fprintf(stderr, "brassmoor-server: cannot install signal handlers: %s\n",
                     stopHandlerError().c_str());
        return 1;
    }
    Server server;
    CaptureFile capture;
    if (!options.capturePath.empty() && startCapture("brassmoor-server", options.capturePath, capture)) {
        server.capture = &capture;
    }
    std::string error;
    if (!openServer(options, stdout, server, error)) {
        std::fprintf(stderr, "brassmoor-server: %s\n", error.c_str());
        return 1;
    }
    Watchers watchers;
    publishFigures(watchers.slot, serverFigures(server));
    if (!startWatchers(options, watchers, error)) {
        std::fprintf(stderr, "brassmoor-server: %s\n", error.c_str());
        stopWatchers(watchers);
        closeServer(server);
        return 1;
    }
    std::uint64_t publishedTicks = 0;
    bool sessionOver = false;
    while (stopRequest() == 0 && !sessionOver) {
        if (!serveOnce(server)) {
            // A failed wait would fail again at once: stop rather than spin.
            std::fprintf(stderr, "brassmoor-server: waiting for datagrams failed\n");
            stopWatchers(watchers);
            closeServer(server);
            return 1;
        }
        if (server.ticks != publishedTicks) {
            publishFigures(watchers.slot, serverFigures(server));
            publishedTicks = server.ticks;
        }
        sessionOver = sessionIsOver(options.endWhenEmptySeconds, server.lastPose, monotonicSeconds());
    }
    if (sessionOver) {
        std::printf("session over: no client heard for %g s\n", options.endWhenEmptySeconds);
        endSession(watchers);
    } else {
        std::printf("stopping on signal %d\n", stopRequest());
    }
    stopWatchers(watchers);
    closeServer(server);
    stopCapture(capture);
    return 0;
}

}  // namespace
}  // namespace brassmoor

int main(int argc, char** argv) {
    return brassmoor::runHelperProgram(argc, argv, "brassmoor-server", brassmoor::serverUsageText(),
                                       brassmoor::parseServerOptions, brassmoor::run);
}
