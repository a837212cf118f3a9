// What the launcher's window runs, without the window: the list and its search, name look-ups, the
// game it started, the game it hosts, remembered addresses, and the messages it shows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser_model.h"
#include "client_process.h"
#include "game_search.h"
#include "name_lookup.h"
#include "server_loop.h"
#include "user_folders.h"

namespace brassmoor {

struct BrowserMessage {
    std::string text;
    bool error = false;
};

struct BrowserSession {
    ClientProgram program;
    UserFolders folders;
    BrowserModel model;
    GameSearch search;
    std::vector<std::string> remembered;        // addresses typed before, most recent first
    std::vector<NameLookup> rememberedLookups;  // those still being looked up, to search them too
    std::optional<NameLookup> joining;          // the address typed now, being looked up
    ClientProcess client;
    bool gameRunning = false;
    std::unique_ptr<Server> hosted;  // a game served by this launcher
    bool hostedIsPractice = false;   // a practice game ends with its game; a LAN game stays hosted
    std::vector<BrowserMessage> messages;  // the latest last
    std::vector<std::uint32_t> announced;  // the servers whose "found" line was printed
};

// Opens the search and starts looking up the remembered addresses; what fails is reported.
void openBrowserSession(BrowserSession& session, const ClientProgram& program);
// Ends a game still running and the hosted game.
void closeBrowserSession(BrowserSession& session);

// Shown in the window, printed on standard error and appended to the log.
void reportProblem(BrowserSession& session, const std::string& line);
// Shown in the window and printed on standard output.
void reportNews(BrowserSession& session, const std::string& line);

// One step: the search, finished look-ups, the hosted game, and the game running (it waits up to
// `waitMilliseconds` for one of the last two). True when a game ended during this step.
bool stepBrowserSession(BrowserSession& session, double now, int waitMilliseconds);

// The player's actions; each one that starts a game sets gameRunning, each failure is reported.
void joinSelected(BrowserSession& session);
void joinTyped(BrowserSession& session, const std::string& typed);
void startPractice(BrowserSession& session);
void hostLanGame(BrowserSession& session, std::uint32_t bots);
void stopHosting(BrowserSession& session);

}  // namespace brassmoor
