// brassmoor-server: the server loop until a stop request (Ctrl-C or SIGTERM).
#include <cstdio>
#include <string>

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
    return brassmoor::runHelperProgram(argc, argv, "brassmoor-server", brassmoor::serverUsageText(),
                                       brassmoor::parseServerOptions, brassmoor::run);
}
