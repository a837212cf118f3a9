// The desktop's message box on POSIX systems: zenity, else kdialog, whichever is on PATH.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "desktop_message.h"
#include "program_on_path.h"

extern char** environ;

namespace brassmoor {

namespace {

bool hasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Runs the message box and waits for it. It ends with 0 (OK) or 1 (closed another way) once shown;
// anything else (a signal, no such program) means the player did not see it. zenity also ends with 1
// when DISPLAY names a display it cannot open, which is why a missing display is looked at first.
bool runMessageBox(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // Its own complaints (GTK's and KDE's warnings) would only bury the launcher's one line.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t id = 0;
    const int failed = ::posix_spawn(&id, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return false;
    int status = 0;
    while (::waitpid(id, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1);
}

}  // namespace

bool showDesktopMessage(const std::string& title, const std::string& text) {
    if (!hasDisplay()) return false;
    if (const std::string zenity = findProgramOnPath("zenity"); !zenity.empty()) {
        // --no-markup: the text is shown as it is, whatever angle brackets an error message holds.
        return runMessageBox({zenity, "--error", "--no-markup", "--title=" + title, "--text=" + text});
    }
    if (const std::string kdialog = findProgramOnPath("kdialog"); !kdialog.empty()) {
        return runMessageBox({kdialog, "--title", title, "--error", text});
    }
    return false;
}

}  // namespace brassmoor
