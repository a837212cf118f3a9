// The launcher window's session: its parts stepped between frames, and the rule that one game (or
// one join being looked up) runs at a time.
#include "browser_session.h"

#include <algorithm>
#include <cstdio>

#include "ipv4_endpoint.h"
#include "list_announcement.h"
#include "played_game.h"
#include "remembered_addresses.h"
#include "server_name.h"

namespace brassmoor {

namespace {

bool busy(const BrowserSession& session) {
    return gameRunning(session.game) || session.joining.has_value();
}

// Tells what the Internet hosting thread said, and ends it once it has wound down.
void takeInternetNews(BrowserSession& session) {
    if (!session.internet) return;
    for (const InternetNews& news : takeInternetNews(*session.internet)) {
        if (news.trouble) {
            reportProblem(session.messages, news.line);
        } else {
            reportNews(session.messages, news.line);
        }
    }
    session.internetStanding = internetStanding(*session.internet);
    if (internetHostingFinished(*session.internet)) {
        stopInternetHosting(*session.internet);
        session.internet.reset();
        session.internetStanding.clear();
    }
}

void closeHosted(BrowserSession& session) {
    // The lists and the router are told on the hosting thread, while the window goes on.
    if (session.internet) askInternetHostingToStop(*session.internet);
    if (!session.hosted) return;
    stopHostedGame(*session.hosted);
    const std::uint32_t instance = session.hosted->server.instance;
    session.hosted.reset();
    std::erase_if(session.model.rows, [&](const BrowserRow& row) { return row.info.instance == instance; });
    if (session.model.selected == instance) session.model.selected.reset();
}

// Hosts `setup`'s game in place of one hosted before and puts it into the list, listed at
// `listServer` too when there is one; then starts the game against it. False (reported) when either
// cannot start; nothing is left hosted then.
bool hostAndJoin(BrowserSession& session, const HostedGameSetup& setup, const std::string& listServer = {}) {
    closeHosted(session);
    auto hosted = std::make_unique<HostedGame>();
    std::string error;
    if (!startHostedGame(setup, nullptr, *hosted, error)) {
        reportProblem(session.messages, error);
        return false;
    }
    session.hosted = std::move(hosted);
    addHostedGame(session.model, Ipv4Endpoint{Loopback, session.hosted->local.port},
                  hostedGameInfo(*session.hosted));
    reportNews(session.messages, hostedGameNews(setup));
    if (!listServer.empty()) {
        auto internet = std::make_unique<InternetHosting>();
        if (startInternetHosting({listServer}, session.hosted->local.port, *internet, error)) {
            session.internet = std::move(internet);
            reportNews(session.messages, internetHostingNews(session.hosted->local.port, {listServer}));
        } else {
            reportProblem(session.messages, "cannot list the game on the Internet: " + error);
        }
    }
    if (startGame(session.program, Loopback, session.game, session.messages)) return true;
    closeHosted(session);
    return false;
}

void remember(BrowserSession& session, const std::string& typed) {
    session.remembered = rememberAddress(session.remembered, typed);
    addSearchName(session.search, typed);
    std::string error;
    if (!saveRememberedAddresses(session.folders.config, session.remembered, error)) {
        reportProblem(session.messages, "cannot remember the address " + typed + ": " + error);
    }
}

void takeTypedLookup(BrowserSession& session) {
    NameLookupResult result;
    if (!session.joining || !takeNameLookup(*session.joining, result)) return;
    const std::string typed = session.joining->name;
    session.joining.reset();
    if (!result.ok) {
        reportProblem(session.messages, result.error);
        return;
    }
    remember(session, typed);
    addSearchAddress(session.search, result.address);
    // Nothing else starts while a name is looked up; should a game run all the same, it stays the only one.
    if (gameRunning(session.game)) {
        reportProblem(session.messages, "not joining " + typed + ": a game is already running");
        return;
    }
    reportNews(session.messages, "joining " + typed + " (" + formatIpv4Address(result.address) + ")");
    startGame(session.program, result.address, session.game, session.messages);
}

// A console, when there is one, hears of each game as it is first found.
void announceNewRows(BrowserSession& session) {
    for (const BrowserRow& row : session.model.rows) {
        if (std::find(session.announced.begin(), session.announced.end(), row.info.instance) !=
            session.announced.end()) {
            continue;
        }
        session.announced.push_back(row.info.instance);
        std::printf("found %s\n", describeRow(row).c_str());
    }
}

}  // namespace

BrowserView browserView(const BrowserSession& session) {
    const BrowserRow* chosen = selectedRow(session.model);
    BrowserView view{session.model, session.remembered, session.messages.shown, session.internetStanding};
    view.gameRunning = gameRunning(session.game);
    view.lookingUp = session.joining.has_value();
    view.busy = busy(session);
    view.hosting = session.hosted != nullptr || session.internet != nullptr;
    view.hostingLan = session.hosted != nullptr && session.hosted->kind == HostedKind::Lan;
    view.onInternet = session.hosted != nullptr && session.internet != nullptr;
    view.offeredListServer = session.listServers.empty() ? std::string{} : session.listServers.front();
    view.canJoinSelected = !view.busy && chosen != nullptr && isJoinable(session.model, *chosen);
    return view;
}

void openBrowserSession(BrowserSession& session, const ClientProgram& program,
                        const std::vector<std::string>& listServers) {
    session.program = program;
    session.listServers = listServers;
    session.folders = userFolders();
    session.messages.stateFolder = session.folders.state;
    session.model.own = projectVersion();
    std::string error;
    if (!openGameSearch(session.search, error)) {
        reportProblem(session.messages, error + "; games can still be joined by address");
    }
    if (program.path.empty()) {
        reportProblem(session.messages,
                      "cannot find the game program (brassmoor) beside this program or on PATH");
    }
    RememberedLoad loaded = loadRememberedAddresses(session.folders.config);
    if (!loaded.problem.empty()) reportProblem(session.messages, loaded.problem);
    session.remembered = std::move(loaded.addresses);
    for (const std::string& address : session.remembered)
        addSearchName(session.search, address);
}

void closeBrowserSession(BrowserSession& session) {
    endGame(session.game);
    closeHosted(session);
    if (session.internet) {
        stopInternetHosting(*session.internet);
        takeInternetNews(session);
    }
    closeGameSearch(session.search);
}

bool stepBrowserSession(BrowserSession& session, double now, int waitMilliseconds) {
    std::string error;
    if (!pollGameSearch(session.search, session.model, now, error)) {
        reportProblem(session.messages, error);
        refreshNow(session.search);
    }
    announceNewRows(session);
    takeTypedLookup(session);
    if (session.hosted && hostedGameFailed(*session.hosted)) {
        reportProblem(session.messages, "the game hosted here stopped: waiting for datagrams failed");
        closeHosted(session);
    }
    takeInternetNews(session);
    if (!watchGame(session.game, session.messages, waitMilliseconds)) return false;
    if (session.hosted && session.hosted->kind == HostedKind::Practice) closeHosted(session);
    refreshNow(session.search);
    return true;
}

void joinSelected(BrowserSession& session) {
    const BrowserRow* row = selectedRow(session.model);
    if (row == nullptr || busy(session)) return;
    if (!isJoinable(session.model, *row)) {
        reportProblem(session.messages, rowName(*row) + " runs version " + rowVersion(*row) +
                                            ", which this version cannot join");
        return;
    }
    reportNews(session.messages, "joining " + describeRow(*row));
    startGame(session.program, row->from.address, session.game, session.messages);
}

void joinTyped(BrowserSession& session, const std::string& typed) {
    if (busy(session)) return;
    const std::size_t first = typed.find_first_not_of(" \t");
    const std::size_t last = typed.find_last_not_of(" \t");
    if (first == std::string::npos) {
        reportProblem(session.messages, "type an address such as 192.168.1.20 or a computer's name first");
        return;
    }
    session.joining = startNameLookup(typed.substr(first, last - first + 1));
}

void startPractice(BrowserSession& session) {
    if (!busy(session)) hostAndJoin(session, practiceGame());
}

void hostGame(BrowserSession& session, const HostRequest& request) {
    if (busy(session) || session.internet) return;
    std::string listServer;
    if (request.internet) {
        const std::size_t first = request.listServer.find_first_not_of(" \t");
        const std::size_t last = request.listServer.find_last_not_of(" \t");
        if (first != std::string::npos) listServer = request.listServer.substr(first, last - first + 1);
        std::string why;
        if (!checkListServerUrl(listServer, why)) {
            reportProblem(session.messages, "to list the game on the Internet, the list server " + why);
            return;
        }
    }
    hostAndJoin(session, lanGame(request.bots, sanitiseServerName(request.name)), listServer);
}

void stopHosting(BrowserSession& session) {
    if (busy(session) || !session.hosted) return;
    closeHosted(session);
    reportNews(session.messages, "the game hosted here has stopped");
}

void selectGame(BrowserSession& session, std::uint32_t instance) {
    selectRow(session.model, instance);
}

void moveGameSelection(BrowserSession& session, int step) {
    moveSelection(session.model, step);
}

void sortGames(BrowserSession& session, BrowserColumn column, bool descending) {
    sortRows(session.model, column, descending);
}

}  // namespace brassmoor
