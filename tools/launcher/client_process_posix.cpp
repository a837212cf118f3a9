// The game program on POSIX systems: found beside the launcher (/proc/self/exe) or on PATH, run with posix_spawn, its
// standard error read through a non-blocking pipe.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>
#include <vector>

#include "client_process.h"
#include "program_on_path.h"

extern char** environ;

namespace brassmoor {

namespace {

constexpr const char* ClientName = "brassmoor";
constexpr int PollMilliseconds = 10;

bool isExecutableFile(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

std::string ownFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    const std::string path(buffer, static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return 1;
}

void sleepMilliseconds(int milliseconds) {
    timespec pause{0, static_cast<long>(milliseconds) * 1000000L};
    ::nanosleep(&pause, nullptr);  // a signal cuts it short, which only means looking sooner
}

// Passes on to the launcher's standard error what a write does not take at once; the launcher's own
// standard error may be gone (a closed terminal), which loses nothing that is kept.
void passOn(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

}  // namespace

// Reads whatever the game's standard error holds now, passing it on and keeping it; at the pipe's
// end (the game and anything it started have closed it) the pipe is closed.
void readClientErrorPipe(ClientProcess& process) {
    char buffer[4096];
    while (process.errorPipe >= 0) {
        const ssize_t got = ::read(static_cast<int>(process.errorPipe), buffer, sizeof buffer);
        if (got > 0) {
            passOn(buffer, static_cast<std::size_t>(got));
            keepClientErrorOutput(process, std::string_view(buffer, static_cast<std::size_t>(got)));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        ::close(static_cast<int>(process.errorPipe));
        process.errorPipe = -1;
    }
}

namespace {

// After the game has ended: what it left in the pipe. A process it started may still hold the pipe
// open, so this reads what is there and no longer waits for the end.
void finishErrorPipe(ClientProcess& process) {
    readClientErrorPipe(process);
    if (process.errorPipe >= 0) {
        ::close(static_cast<int>(process.errorPipe));
        process.errorPipe = -1;
    }
}

}  // namespace

std::optional<ClientProgram> findClientProgram() {
    if (const std::string folder = ownFolder(); !folder.empty()) {
        const std::string beside = folder + "/" + ClientName;
        if (isExecutableFile(beside)) return ClientProgram{beside};
    }
    if (std::string onPath = findProgramOnPath(ClientName); !onPath.empty()) return ClientProgram{std::move(onPath)};
    return std::nullopt;
}

bool startClient(const ClientProgram& program, const std::string& address, ClientProcess& process,
                 std::string& error) {
    std::vector<char*> arguments{const_cast<char*>(program.path.c_str()), const_cast<char*>(address.c_str()),
                                 nullptr};
    // Both ends close on exec; the game gets the write end as its descriptor 2, which dup2 leaves open.
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        error =
            std::string("cannot start the game: cannot make a pipe for its errors: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    int failed = ::posix_spawn_file_actions_init(&actions);
    if (failed == 0) failed = ::posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);
    pid_t id = 0;
    if (failed == 0)
        failed = ::posix_spawn(&id, program.path.c_str(), &actions, nullptr, arguments.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(errorPipe[1]);
    if (failed != 0) {
        ::close(errorPipe[0]);
        error = "cannot start " + program.path + ": " + std::strerror(failed);
        return false;
    }
    ::fcntl(errorPipe[0], F_SETFL, ::fcntl(errorPipe[0], F_GETFL) | O_NONBLOCK);
    process.id = id;
    process.errorPipe = errorPipe[0];
    process.errorOutput.clear();
    return true;
}

// A process id of 0 or -1 given to waitpid or kill means a whole group or every process the user
// owns: only a game this record started is ever waited for or signalled.
bool clientStarted(const ClientProcess& process) {
    return process.id > 0;
}

std::optional<int> clientExitStatus(ClientProcess& process, int waitMilliseconds) {
    if (!clientStarted(process)) return NoClientStatus;
    for (int waited = 0;; waited += PollMilliseconds) {
        int status = 0;
        readClientErrorPipe(process);
        const pid_t done = ::waitpid(static_cast<pid_t>(process.id), &status, WNOHANG);
        if (done == static_cast<pid_t>(process.id) || (done < 0 && errno != EINTR)) {
            // Collected, or not our child any more: nothing left to wait for. Its id may now be
            // another process's, so it is forgotten.
            finishErrorPipe(process);
            process.id = -1;
            return done < 0 ? 1 : statusOf(status);
        }
        if (waited >= waitMilliseconds) return std::nullopt;
        sleepMilliseconds(PollMilliseconds);
    }
}

int stopClient(ClientProcess& process, int graceMilliseconds) {
    if (!clientStarted(process)) return NoClientStatus;
    ::kill(static_cast<pid_t>(process.id), SIGTERM);
    if (const std::optional<int> status = clientExitStatus(process, graceMilliseconds)) return *status;
    ::kill(static_cast<pid_t>(process.id), SIGKILL);
    const std::optional<int> status = clientExitStatus(process, graceMilliseconds);
    return status ? *status : 128 + SIGKILL;
}

}  // namespace brassmoor
