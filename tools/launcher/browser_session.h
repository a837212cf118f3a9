// What the launcher's window runs, without the window: it ties together the search, the look-up of
// a typed name, the game it started, the game it hosts, the remembered addresses and the messages,
// and keeps to one game (or one join being looked up) at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser_model.h"
#include "client_process.h"
#include "game_search.h"
#include "hosted_game.h"
#include "name_lookup.h"
#include "session_messages.h"
#include "user_folders.h"

namespace brassmoor {

struct BrowserSession {
    ClientProgram program;
    UserFolders folders;
    BrowserModel model;
    GameSearch search;
    std::vector<std::string> remembered;  // addresses typed before, most recent first
    std::optional<NameLookup> joining;    // the address typed now, being looked up to join
    ClientProcess game;                   // the game started from here, while it runs
    std::unique_ptr<HostedGame> hosted;   // a game served by this launcher
    SessionMessages messages;
    std::vector<std::uint32_t> announced;  // the servers whose "found" line was printed
};

// What the window shows of the session and which of its controls act now: it draws this alone.
struct BrowserView {
    const BrowserModel& list;
    const std::vector<std::string>& remembered;
    const std::vector<BrowserMessage>& messages;
    bool gameRunning = false;      // the window is hidden meanwhile
    bool lookingUp = false;        // a typed name is being looked up to join
    bool busy = false;             // either of the two: nothing else can start
    bool hosting = false;          // a game is hosted here: another is not started beside it
    bool hostingLan = false;       // that game is a LAN game, which goes on after the game ends
    bool canJoinSelected = false;  // a game of this version is selected and nothing is busy
};
BrowserView browserView(const BrowserSession& session);

// Opens the search and has the remembered addresses asked too; what fails is reported.
void openBrowserSession(BrowserSession& session, const ClientProgram& program);
// Ends a game still running and the hosted game.
void closeBrowserSession(BrowserSession& session);

// One step: the search, the typed name's look-up, the hosted game, and the game running (waited on
// up to `waitMilliseconds`). True when a game ended during this step.
bool stepBrowserSession(BrowserSession& session, double now, int waitMilliseconds);

// The player's actions. Those that start something do nothing while a game runs or a typed name is
// being looked up; each failure is reported.
void joinSelected(BrowserSession& session);
void joinTyped(BrowserSession& session, const std::string& typed);
void startPractice(BrowserSession& session);
void hostLanGame(BrowserSession& session, std::uint32_t bots);
void stopHosting(BrowserSession& session);
// The list's own: a row picked, the selection moved by `step` rows, a header clicked.
void selectGame(BrowserSession& session, std::uint32_t instance);
void moveGameSelection(BrowserSession& session, int step);
void sortGames(BrowserSession& session, BrowserColumn column, bool descending);

}  // namespace brassmoor
