// The game program the launcher starts and watches: found beside the launcher or on PATH.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brassmoor {

// Where the game program is, as UTF-8 text.
struct ClientProgram {
    std::string path;
};

// The game program (brassmoor, brassmoor.exe on Windows) in the launcher's own folder, else the first
// one on PATH; nothing when there is none.
std::optional<ClientProgram> findClientProgram();

struct ClientProcess {
    std::int64_t id = -1;       // the process id; -1 before a start and once its end is collected
    void* handle = nullptr;     // Windows: the process handle
    void* jobHandle = nullptr;  // Windows: the job that ends it should the launcher end first
    // The launcher's end of the pipe that carries the game's standard error: a descriptor on POSIX, a
    // HANDLE on Windows; -1 when there is none (before a start, or once it has been read to its end).
    std::intptr_t errorPipe = -1;
    std::string errorOutput;  // what the game wrote there and nobody has taken yet (its last part)
};

// How long the game is given to end when asked before it is ended for good.
inline constexpr int ClientGraceMilliseconds = 3000;

// What clientExitStatus and stopClient say of a record that holds no started game (never started,
// or already waited for): nothing is waited for and nothing is signalled.
inline constexpr int NoClientStatus = -1;

// At most this much of the game's standard error is kept for takeClientErrorOutput: its last lines
// are the ones that say why it failed.
constexpr std::size_t MaxKeptClientErrorBytes = 64 * 1024;

// Starts the game against `address`, its standard output going where the launcher's goes and its
// standard error through a pipe to the launcher, which passes it on to its own as it comes and keeps
// it (takeClientErrorOutput). False, with `error` set, when it could not be started.
bool startClient(const ClientProgram& program, const std::string& address, ClientProcess& process,
                 std::string& error);

// True from a successful startClient until the game's end has been collected.
bool clientStarted(const ClientProcess& process);

// Waits at most `waitMilliseconds` (0: only looks) for the game to end, passing on its standard error
// meanwhile: its exit status once it has (128 plus the signal's number when a signal ended it),
// nothing while it still runs; NoClientStatus for a record with no started game.
std::optional<int> clientExitStatus(ClientProcess& process, int waitMilliseconds);

// Asks the game to end (SIGTERM; on Windows it is ended), then waits up to `graceMilliseconds` before
// ending it for good. Returns its exit status; NoClientStatus for a record with no started game.
int stopClient(ClientProcess& process, int graceMilliseconds);

// What the game wrote on its standard error since the last call, without waiting; once the game has
// ended (clientExitStatus or stopClient said so), everything that remained.
std::string takeClientErrorOutput(ClientProcess& process);

// Adds what was read from the game's standard error to what is kept, dropping the oldest whole lines
// beyond MaxKeptClientErrorBytes. Shared by both systems' bodies.
void keepClientErrorOutput(ClientProcess& process, std::string_view text);

// Each system's own: reads whatever the game's standard error pipe holds now, without waiting,
// passing it on and keeping it; at the pipe's end the pipe is closed.
void readClientErrorPipe(ClientProcess& process);

}  // namespace brassmoor
