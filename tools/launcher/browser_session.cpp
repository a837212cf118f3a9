// The launcher window's session: its parts stepped between frames, and the rule that one game (or
// one join being looked up) runs at a time.
#include "browser_session.h"

#include <algorithm>
#include <cstdio>

#include "ipv4_endpoint.h"
#include "list_announcement.h"
#include "listed_games.h"
#include "option_values.h"
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

// A console, when there is one, hears of each game as it first answers.
void announceNewRows(BrowserSession& session) {
    for (const BrowserRow& row : session.model.rows) {
        if (!row.answered || std::find(session.announced.begin(), session.announced.end(), rowKey(row)) !=
                                 session.announced.end()) {
            continue;
        }
        session.announced.push_back(rowKey(row));
        std::printf("found %s\n", describeRow(row).c_str());
    }
}

// The lists read from now on: the fetcher reads them at once, and the games of lists gone go too.
void listsChanged(BrowserSession& session) {
    setFetchedLists(session.fetcher, listUrls(session.lists));
    showListedGames(session.model, allListedGames(session.lists));
}

std::vector<std::string> userListUrls(const BrowserSession& session) {
    std::vector<std::string> urls;
    for (const ListSource& source : session.lists) {
        if (source.server.origin == ListOrigin::User) urls.push_back(source.server.url);
    }
    return urls;
}

void openLists(BrowserSession& session, const std::vector<std::string>& listServers) {
    ListServersLoad user = loadUserListServers(session.folders.config);
    ListServersLoad system = loadSystemListServers(systemConfigFolder());
    for (const ListServersLoad* load : {&user, &system}) {
        for (const std::string& problem : load->problems)
            reportProblem(session.messages, problem);
    }
    session.lists = listSourcesFor(combineListServers(listServers, user.urls, system.urls));
    std::string error;
    if (!startListFetcher(session.fetcher, listUrls(session.lists), error)) {
        reportProblem(session.messages, "cannot read list servers: " + error);
    }
}

}  // namespace

BrowserView browserView(const BrowserSession& session) {
    const BrowserRow* chosen = selectedRow(session.model);
    BrowserView view{session.model, session.remembered, session.messages.shown, session.lists,
                     session.internetStanding};
    view.gameRunning = gameRunning(session.game);
    view.lookingUp = session.joining.has_value();
    view.busy = busy(session);
    view.hosting = session.hosted != nullptr || session.internet != nullptr;
    view.hostingLan = session.hosted != nullptr && session.hosted->kind == HostedKind::Lan;
    view.onInternet = session.hosted != nullptr && session.internet != nullptr;
    // The command line's first, else the user's or the computer's.
    view.offeredListServer = session.lists.empty() ? std::string{} : session.lists.front().server.url;
    view.canJoinSelected = !view.busy && chosen != nullptr && isJoinable(session.model, *chosen);
    return view;
}

void openBrowserSession(BrowserSession& session, const ClientProgram& program,
                        const std::vector<std::string>& listServers) {
    session.program = program;
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
    LauncherSettingsLoad settings = loadLauncherSettings(session.folders.config);
    if (!settings.problem.empty()) reportProblem(session.messages, settings.problem);
    session.settings = settings.settings;
    session.model.filter.hideEmpty = session.settings.hideEmpty;
    session.model.filter.hideFull = session.settings.hideFull;
    session.model.filter.hideOtherVersions = session.settings.hideOtherVersions;
    openLists(session, listServers);
}

void closeBrowserSession(BrowserSession& session) {
    endGame(session.game);
    closeHosted(session);
    if (session.internet) {
        stopInternetHosting(*session.internet);
        takeInternetNews(session);
    }
    stopListFetcher(session.fetcher);
    closeGameSearch(session.search);
}

bool stepBrowserSession(BrowserSession& session, double now, int waitMilliseconds) {
    for (const std::string& line :
         takeListReads(session.lists, takeFetchedLists(session.fetcher), session.model))
        reportProblem(session.messages, line);
    std::string error;
    if (!pollGameSearch(session.search, session.model, now, error, session.shownFirst)) {
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
    const std::string_view name = trimBlanks(typed);
    if (name.empty()) {
        reportProblem(session.messages, "type an address such as 192.168.1.20 or a computer's name first");
        return;
    }
    session.joining = startNameLookup(std::string(name));
}

void startPractice(BrowserSession& session) {
    if (!busy(session)) hostAndJoin(session, practiceGame());
}

void hostGame(BrowserSession& session, const HostRequest& request) {
    if (busy(session) || session.internet) return;
    std::string listServer;
    if (request.internet) {
        listServer = trimBlanks(request.listServer);
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

void selectGame(BrowserSession& session, std::uint64_t key) {
    selectRow(session.model, key);
}

void moveGameSelection(BrowserSession& session, int step) {
    moveSelection(session.model, step);
}

void sortGames(BrowserSession& session, BrowserColumn column, bool descending) {
    sortRows(session.model, column, descending);
}

void filterGames(BrowserSession& session, const BrowserFilter& filter) {
    setFilter(session.model, filter);
    const LauncherSettings wanted{filter.hideEmpty, filter.hideFull, filter.hideOtherVersions};
    if (wanted.hideEmpty == session.settings.hideEmpty && wanted.hideFull == session.settings.hideFull &&
        wanted.hideOtherVersions == session.settings.hideOtherVersions) {
        return;
    }
    session.settings = wanted;
    std::string error;
    if (!saveLauncherSettings(session.folders.config, wanted, error)) {
        reportProblem(session.messages, "cannot keep the window's settings: " + error);
    }
}

void noteShownRows(BrowserSession& session, std::vector<std::uint64_t> keys) {
    session.shownFirst = std::move(keys);
}

void refreshGames(BrowserSession& session) {
    refreshNow(session.search);
    fetchListsNow(session.fetcher);
    askListedAgain(session.model);
}

void addListServer(BrowserSession& session, const std::string& typed) {
    const std::string url(trimBlanks(typed));
    std::string reason;
    if (!checkListServerUrl(url, reason)) {
        reportProblem(session.messages, "a list server " + reason);
        return;
    }
    const bool known = std::any_of(session.lists.begin(), session.lists.end(),
                                   [&](const ListSource& source) { return source.server.url == url; });
    if (known) {
        reportNews(session.messages, "the list at " + url + " is read already");
        return;
    }
    if (session.lists.size() >= MaxListServersRead) {
        reportProblem(session.messages, "cannot add the list at " + url + ": " +
                                            std::to_string(MaxListServersRead) + " lists are read at most");
        return;
    }
    std::vector<std::string> urls = userListUrls(session);
    urls.push_back(url);
    std::string error;
    if (!saveUserListServers(session.folders.config, urls, error)) {
        reportProblem(session.messages, "cannot add the list at " + url + ": " + error);
        return;
    }
    session.lists.push_back(ListSource{ListServer{url, ListOrigin::User}, {}, false, {}});
    listsChanged(session);
    reportNews(session.messages, "reading the list at " + url);
}

void removeListServer(BrowserSession& session, const std::string& url) {
    const auto source =
        std::find_if(session.lists.begin(), session.lists.end(), [&](const ListSource& known) {
            return known.server.url == url && known.server.origin == ListOrigin::User;
        });
    if (source == session.lists.end()) return;
    std::vector<std::string> urls = userListUrls(session);
    std::erase(urls, url);
    std::string error;
    if (!saveUserListServers(session.folders.config, urls, error)) {
        reportProblem(session.messages, "cannot remove the list at " + url + ": " + error);
        return;
    }
    session.lists.erase(source);
    listsChanged(session);
    reportNews(session.messages, "no longer reading the list at " + url);
}

}  // namespace brassmoor
