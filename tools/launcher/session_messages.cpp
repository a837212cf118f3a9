// The launcher's messages: a bounded list for the window, the console, and the log.
#include "session_messages.h"

#include <algorithm>
#include <cstdio>

#include "launcher_log.h"

namespace brassmoor {

namespace {

// The window keeps this many lines of messages.
constexpr std::size_t MessagesKept = 40;

void show(SessionMessages& messages, const std::string& line, bool error) {
    messages.shown.push_back(BrowserMessage{line, error});
    if (messages.shown.size() > MessagesKept) messages.shown.erase(messages.shown.begin());
}

}  // namespace

void reportProblem(SessionMessages& messages, const std::string& line) {
    show(messages, line, true);
    std::fprintf(stderr, "brassmoor-play: %s\n", line.c_str());
    std::string error;
    if (!appendLauncherLog(messages.stateFolder, line, error)) {
        std::fprintf(stderr, "brassmoor-play: cannot write the log: %s\n", error.c_str());
    }
}

void reportNews(SessionMessages& messages, const std::string& line) {
    show(messages, line, false);
    std::printf("%s\n", line.c_str());
}

void reportGameOutput(SessionMessages& messages, const std::string& output) {
    std::size_t start = 0;
    while (start < output.size()) {
        const std::size_t end = std::min(output.find('\n', start), output.size());
        // Already on standard error: shown and logged here.
        if (end > start) {
            const std::string line = output.substr(start, end - start);
            show(messages, line, true);
            std::string error;
            appendLauncherLog(messages.stateFolder, "the game: " + line, error);
        }
        start = end + 1;
    }
}

}  // namespace brassmoor
