// The game program on POSIX systems: found through /proc/self/exe and PATH, run with posix_spawn.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>
#include <vector>

#include "client_process.h"

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

}  // namespace

std::optional<ClientProgram> findClientProgram() {
    if (const std::string folder = ownFolder(); !folder.empty()) {
        const std::string beside = folder + "/" + ClientName;
        if (isExecutableFile(beside)) return ClientProgram{beside};
    }
    const char* searchPath = std::getenv("PATH");
    std::string_view folders = searchPath != nullptr ? searchPath : "";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        // An empty entry means the current folder.
        const std::string candidate = (folder.empty() ? std::string(".") : std::string(folder)) + "/" + ClientName;
        if (isExecutableFile(candidate)) return ClientProgram{candidate};
    }
    return std::nullopt;
}

bool startClient(const ClientProgram& program, const std::string& address, ClientProcess& process,
                 std::string& error) {
    std::vector<char*> arguments{const_cast<char*>(program.path.c_str()), const_cast<char*>(address.c_str()),
                                 nullptr};
    pid_t id = 0;
    const int failed = ::posix_spawn(&id, program.path.c_str(), nullptr, nullptr, arguments.data(), environ);
    if (failed != 0) {
        error = "cannot start " + program.path + ": " + std::strerror(failed);
        return false;
    }
    process.id = id;
    return true;
}

std::optional<int> clientExitStatus(ClientProcess& process, int waitMilliseconds) {
    for (int waited = 0;; waited += PollMilliseconds) {
        int status = 0;
        const pid_t done = ::waitpid(static_cast<pid_t>(process.id), &status, WNOHANG);
        if (done == static_cast<pid_t>(process.id)) return statusOf(status);
        if (done < 0 && errno != EINTR) return 1;  // not our child any more: nothing left to wait for
        if (waited >= waitMilliseconds) return std::nullopt;
        sleepMilliseconds(PollMilliseconds);
    }
}

int stopClient(ClientProcess& process, int graceMilliseconds) {
    ::kill(static_cast<pid_t>(process.id), SIGTERM);
    if (const std::optional<int> status = clientExitStatus(process, graceMilliseconds)) return *status;
    ::kill(static_cast<pid_t>(process.id), SIGKILL);
    const std::optional<int> status = clientExitStatus(process, graceMilliseconds);
    return status ? *status : 128 + SIGKILL;
}

}  // namespace brassmoor
