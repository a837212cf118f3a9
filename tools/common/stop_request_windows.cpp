// Stop requests on Windows: a console control handler, which runs on a thread of its own.
#include <windows.h>

#include <atomic>
#include <csignal>

#include "stop_request.h"

namespace brassmoor {
namespace {

std::atomic<int> requestedBy{0};

BOOL WINAPI onConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            requestedBy.store(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            requestedBy.store(SIGTERM);
            // Windows ends the process once this returns; the main loop notices the request within
            // one wait and needs a moment to say goodbye.
            Sleep(1000);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool installStopHandlers() {
    return SetConsoleCtrlHandler(onConsoleControl, TRUE) != 0;
}

std::string stopHandlerError() {
    return "Windows error " + std::to_string(GetLastError());
}

int stopRequest() {
    return requestedBy.load();
}

}  // namespace brassmoor
