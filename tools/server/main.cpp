// brassmoor-server: the server loop until a stop request (Ctrl-C or SIGTERM).
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "line_output.h"
#include "options.h"
#include "program_entry.h"
#include "server_loop.h"
#include "stop_request.h"

namespace brassmoor {
namespace {

int run(const ServerOptions& options) {
    if (!installStopHandlers()) {
        std::fprintf(stderr, "brassmoor-server: cannot install signal handlers: %s\n", stopHandlerError().c_str());
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
    while (stopRequest() == 0) {
        if (!serveOnce(server)) {
            // A failed wait would fail again at once: stop rather than spin.
            std::fprintf(stderr, "brassmoor-server: waiting for datagrams failed\n");
            closeServer(server);
            return 1;
        }
    }
    std::printf("stopping on signal %d\n", stopRequest());
    closeServer(server);
    stopCapture(capture);
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
    if (const std::optional<int> status = brassmoor::answerCommandLine("brassmoor-server", parsed.action, parsed.error,
                                                                       brassmoor::serverUsageText())) {
        return *status;
    }
    return brassmoor::run(parsed.options);
}
