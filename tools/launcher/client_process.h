// The game program the launcher starts and watches: found beside the launcher or on PATH.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brassmoor {

// Where the game program is, as UTF-8 text.
struct ClientProgram {
    std::string path;
};

// The game program (brassmoor, brassmoor.exe on Windows) in the launcher's own folder, else the first
// one on PATH; nothing when there is none.
std::optional<ClientProgram> findClientProgram();

struct ClientProcess {
    std::int64_t id = -1;        // the process id; -1 before a start
    void* handle = nullptr;      // Windows: the process handle
    void* jobHandle = nullptr;   // Windows: the job that ends it should the launcher end first
};

// Starts the game against `address`, its console output going where the launcher's goes. False, with
// `error` set, when it could not be started.
bool startClient(const ClientProgram& program, const std::string& address, ClientProcess& process,
                 std::string& error);

// Waits at most `waitMilliseconds` (0: only looks) for the game to end: its exit status once it has
// (128 plus the signal's number when a signal ended it), nothing while it still runs.
std::optional<int> clientExitStatus(ClientProcess& process, int waitMilliseconds);

// Asks the game to end (SIGTERM; on Windows it is ended), then waits up to `graceMilliseconds` before
// ending it for good. Returns its exit status.
int stopClient(ClientProcess& process, int graceMilliseconds);

}  // namespace brassmoor
