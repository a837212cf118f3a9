// The client from start-up to shutdown.
#pragma once

namespace brassmoor {

inline constexpr const char* DefaultServerAddress = "127.0.0.1";

// Runs the client; the result is the process exit status (0, or 1 when start-up fails).
int runClient(int argc, char** argv);

}  // namespace brassmoor
