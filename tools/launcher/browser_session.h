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
#include "internet_hosting.h"
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
    // The hosted game's listing on the Internet: while it is hosted, and after, until the lists
    // have been withdrawn from and the router's mapping removed (nothing is hosted meanwhile).
    std::unique_ptr<InternetHosting> internet;
    std::vector<InternetNews> internetStanding;  // as of the last step
    std::vector<std::string> listServers;        // given on the command line: the window offers the first
    SessionMessages messages;
    std::vector<std::uint32_t> announced;  // the servers whose "found" line was printed
};

// What the window shows of the session and which of its controls act now: it draws this alone.
struct BrowserView {
    const BrowserModel& list;
    const std::vector<std::string>& remembered;
    const std::vector<BrowserMessage>& messages;
    const std::vector<InternetNews>& internetStanding;  // the router's word and each list's
    bool gameRunning = false;                           // the window is hidden meanwhile
    bool lookingUp = false;                             // a typed name is being looked up to join
    bool busy = false;                                  // either of the two: nothing else can start
    bool hosting = false;             // a game is hosted here (or its listing winds down): no other starts
    bool hostingLan = false;          // that game is for others, and goes on after the game ends
    bool onInternet = false;          // it is being listed on the Internet
    std::string offeredListServer{};  // what the window's list server field starts with
    bool canJoinSelected = false;     // a game of this version is selected and nothing is busy
};
BrowserView browserView(const BrowserSession& session);

// Opens the search and has the remembered addresses asked too; what fails is reported. The list
// servers are offered for hosting on the Internet.
void openBrowserSession(BrowserSession& session, const ClientProgram& program,
                        const std::vector<std::string>& listServers);
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
// A game for others: with `internet`, listed at the list server `listServer` too.
struct HostRequest {
    std::uint32_t bots = 0;
    std::string name;  // as typed; empty: the computer's host name
    bool internet = false;
    std::string listServer;  // as typed
};
void hostGame(BrowserSession& session, const HostRequest& request);
void stopHosting(BrowserSession& session);
// The list's own: a row picked, the selection moved by `step` rows, a header clicked.
void selectGame(BrowserSession& session, std::uint32_t instance);
void moveGameSelection(BrowserSession& session, int step);
void sortGames(BrowserSession& session, BrowserColumn column, bool descending);

}  // namespace brassmoor
