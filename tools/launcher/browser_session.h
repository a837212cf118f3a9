// What the launcher's window runs, without the window: it ties together the search, the lists read
// from list servers, the look-up of a typed name, the game it started, the game it hosts, the
// remembered addresses, the window's settings and the messages, and keeps to one game (or one join
// being looked up) at a time.
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
#include "launcher_settings.h"
#include "list_fetcher.h"
#include "list_sources.h"
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
    SessionMessages messages;
    std::vector<std::uint64_t> announced;   // the rows whose "found" line was printed
    std::vector<ListSource> lists;          // the list servers read, and what each said
    ListFetcher fetcher;                    // reads them on its own thread
    LauncherSettings settings;              // as last saved
    std::vector<std::uint64_t> shownFirst;  // the rows on the screen: their listed games are asked first
};

// What the window shows of the session and which of its controls act now: it draws this alone.
struct BrowserView {
    const BrowserModel& list;
    const std::vector<std::string>& remembered;
    const std::vector<BrowserMessage>& messages;
    const std::vector<ListSource>& lists;
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

// Opens the search and has the remembered addresses asked too, and starts reading the list servers
// (`listServers` from the command line, then the user's and the computer's); what fails is reported.
// The first list server is offered for hosting on the Internet.
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
void selectGame(BrowserSession& session, std::uint64_t key);
void moveGameSelection(BrowserSession& session, int step);
void sortGames(BrowserSession& session, BrowserColumn column, bool descending);
// The filter above the list; its toggles are saved when they change.
void filterGames(BrowserSession& session, const BrowserFilter& filter);
// The rows the window shows now (their listed games are asked first).
void noteShownRows(BrowserSession& session, std::vector<std::uint64_t> keys);
// Refresh: the search's next round and every list at once, and each listed game asked again.
void refreshGames(BrowserSession& session);
// The user's list servers, saved whole before the lists read change; each failure is reported.
void addListServer(BrowserSession& session, const std::string& typed);
void removeListServer(BrowserSession& session, const std::string& url);

}  // namespace brassmoor
