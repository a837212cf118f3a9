// Stop requests on POSIX systems: SIGINT and SIGTERM set a flag that the main loop reads.
#include <cerrno>
#include <csignal>
#include <cstring>

#include "stop_request.h"

namespace brassmoor {
namespace {

// Written only by the signal handler.
volatile std::sig_atomic_t requestedBy = 0;

extern "C" void onStopSignal(int signal) {
    requestedBy = signal;
}

}  // namespace

bool installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a wait returns at once, and the loop sees the flag
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

std::string stopHandlerError() {
    return std::strerror(errno);
}

int stopRequest() {
    return requestedBy;
}

}  // namespace brassmoor
