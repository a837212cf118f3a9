// How a helper program learns that it was asked to stop: Ctrl-C, and SIGTERM where there is one.
#pragma once

#include <string>

namespace brassmoor {

// Installs the handlers; false when that fails.
bool installStopHandlers();
// Why installStopHandlers failed, as text for a message; read it right after the failure.
std::string stopHandlerError();

// 0 until a stop is asked for; then the signal number that asked for it. On Windows, Ctrl-C and
// Ctrl-Break count as SIGINT and closing the console or ending the session as SIGTERM, so the
// programs print the same lines on every platform.
int stopRequest();

}  // namespace brassmoor
