// What the launcher tells the player: the latest lines, shown in the window, each also printed (a
// problem on standard error and in the log, news on standard output).
#pragma once

#include <string>
#include <vector>

namespace brassmoor {

struct BrowserMessage {
    std::string text;
    bool error = false;
};

struct SessionMessages {
    std::string stateFolder;            // where the log is written; empty: the system did not say
    std::vector<BrowserMessage> shown;  // the latest last
};

// Shown, printed on standard error and appended to the log.
void reportProblem(SessionMessages& messages, const std::string& line);
// Shown and printed on standard output.
void reportNews(SessionMessages& messages, const std::string& line);
// What a failed game wrote on its standard error (passed on to the launcher's as it came): each line
// shown and logged.
void reportGameOutput(SessionMessages& messages, const std::string& output);

}  // namespace brassmoor
