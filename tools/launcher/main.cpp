// brassmoor-play: opens the window that lists the games found, or from the command line joins, hosts
// or lists games, or joins the busiest one; a game hosted here is served in this process, on a thread
// of its own.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "browser_window.h"
#include "client_process.h"
#include "console_attach.h"
#include "desktop_message.h"
#include "game_search.h"
#include "hosted_game.h"
#include "internet_hosting.h"
#include "ipv4_endpoint.h"
#include "launcher_log.h"
#include "launcher_options.h"
#include "list_servers.h"
#include "program_entry.h"
#include "stop_request.h"
#include "user_folders.h"

namespace brassmoor {
namespace {

constexpr const char* Program = "brassmoor-play";
// How long each look at the game waits, so that a stop request or a failed hosted game is seen soon.
constexpr int WatchMilliseconds = 50;

// A problem that does not stop the program: standard error and the log.
void warn(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", Program, message.c_str());
    std::string logError;
    if (!appendLauncherLog(userFolders().state, message, logError)) {
        std::fprintf(stderr, "%s: cannot write the log: %s\n", Program, logError.c_str());
    }
}

// Every failure reaches the player: standard error, the log, and a message box when nobody watches
// standard error (a menu entry's Quick play or Host has no terminal).
int fail(const std::string& message, int status = 1, bool alwaysOnDesktop = false) {
    warn(message);
    if (alwaysOnDesktop || !errorsReachAConsole()) showDesktopMessage("Brassmoor", "Brassmoor: " + message);
    return status;
}

// What the Internet hosting thread told since last asked, printed as the window shows it: every line
// on standard output, and what did not work in the log too.
void printInternetNews(InternetHosting* internet) {
    if (internet == nullptr) return;
    for (const InternetNews& news : takeInternetNews(*internet)) {
        std::printf("%s\n", news.line.c_str());
        std::string logError;
        if (news.trouble && !appendLauncherLog(userFolders().state, news.line, logError)) {
            std::fprintf(stderr, "%s: cannot write the log: %s\n", Program, logError.c_str());
        }
    }
}

// A game hosted here is withdrawn from the lists and its port's mapping removed before it stops.
void stopHosting(HostedGame* hosted, InternetHosting* internet) {
    if (internet != nullptr) {
        stopInternetHosting(*internet);
        printInternetNews(internet);
    }
    if (hosted != nullptr) stopHostedGame(*hosted);
}

// Runs the game against `address` until it ends (its status) or this program is asked to stop (0,
// once the game has been ended); a game `hosted` here meanwhile, and its listing on the Internet, are
// stopped with it.
int playAgainst(const ClientProgram& program, const std::string& address, HostedGame* hosted,
                InternetHosting* internet = nullptr) {
    ClientProcess client;
    std::string error;
    if (!startClient(program, address, client, error)) {
        stopHosting(hosted, internet);
        return fail(error);
    }
    std::optional<int> status;
    while (!status) {
        if (stopRequest() != 0) {
            stopClient(client, ClientGraceMilliseconds);
            std::printf("stopping on signal %d\n", stopRequest());
            status = 0;
            break;
        }
        if (hosted != nullptr && hostedGameFailed(*hosted)) {
            // The game would go on against a server that no longer answers: say so and end both.
            stopClient(client, ClientGraceMilliseconds);
            stopHosting(hosted, internet);
            return fail("the game's server stopped: waiting for datagrams failed");
        }
        printInternetNews(internet);
        status = clientExitStatus(client, WatchMilliseconds);
    }
    stopHosting(hosted, internet);
    return *status;
}

// Hosts `setup`'s game, its server's lines going to `log` when not null, says so after `lead`, lists
// it on the Internet at `listServers` when there are any, and plays against it.
int hostAndPlay(const ClientProgram& program, const HostedGameSetup& setup, std::FILE* log,
                const char* lead = "", const std::vector<std::string>& listServers = {}) {
    HostedGame hosted;
    std::string error;
    if (!startHostedGame(setup, log, hosted, error)) return fail(error);
    std::printf("%s%s\n", lead, hostedGameNews(setup).c_str());
    if (listServers.empty()) return playAgainst(program, "127.0.0.1", &hosted);
    InternetHosting internet;
    if (!startInternetHosting(listServers, hosted.local.port, internet, error)) {
        stopHostedGame(hosted);
        return fail("cannot list the game on the Internet: " + error);
    }
    std::printf("%s\n", internetHostingNews(hosted.local.port, listServers).c_str());
    return playAgainst(program, "127.0.0.1", &hosted, &internet);
}

// The lists' games are asked too when `lists` names any; what goes wrong with one is said as it goes.
std::optional<BrowserModel> search(const std::vector<ListServer>& lists = {}) {
    std::string error;
    std::vector<std::string> problems;
    std::optional<BrowserModel> found = searchOnce(SearchSeconds, lists, problems, error);
    for (const std::string& problem : problems)
        warn(problem);
    if (!found) fail("cannot look for games: " + error);
    return found;
}

// The command line's list servers, then the user's and the computer's.
std::vector<ListServer> listServersFor(const LauncherOptions& options) {
    const ListServersLoad user = loadUserListServers(userFolders().config);
    const ListServersLoad system = loadSystemListServers(systemConfigFolder());
    for (const ListServersLoad* load : {&user, &system}) {
        for (const std::string& problem : load->problems)
            warn(problem);
    }
    return combineListServers(options.listServers, user.urls, system.urls);
}

int listGames(const LauncherOptions& options) {
    const std::vector<ListServer> lists = listServersFor(options);
    const std::optional<BrowserModel> found = search(lists);
    if (!found) return 1;
    if (found->rows.empty()) {
        std::printf(lists.empty()
                        ? "no Brassmoor game answered on this computer or the local networks\n"
                        : "no Brassmoor game answered on this computer or the local networks, and the "
                          "lists named none\n");
    }
    for (const BrowserRow& row : found->rows)
        std::printf("%s\n", describeRow(row).c_str());
    return 0;
}

int findOrPractice(const ClientProgram& program) {
    const std::optional<BrowserModel> found = search();
    if (!found) return 1;
    if (stopRequest() != 0) return 0;
    // The model chose the busiest game of this version.
    if (const BrowserRow* busiest = selectedRow(*found)) {
        std::printf("joining %s\n", describeRow(*busiest).c_str());
        for (const BrowserRow& other : found->rows) {
            if (&other != busiest) std::printf("also found %s\n", describeRow(other).c_str());
        }
        return playAgainst(program, formatIpv4Address(busiest->from.address), nullptr);
    }
    return hostAndPlay(program, practiceGame(), nullptr, "no game found: ");
}

// Hosts a LAN game and, with --internet, lists it on every list server the window would offer
// (the command line's, the user's, the computer's).
int hostLanGame(const ClientProgram& program, const LauncherOptions& options) {
    std::vector<std::string> urls;
    if (options.internet) {
        for (const ListServer& list : listServersFor(options)) urls.push_back(list.url);
        if (urls.empty()) {
            return fail("--internet needs a list server to announce the game to: add --list-server URL, or "
                        "name one in the window's Lists...");
        }
    }
    return hostAndPlay(program, lanGame(options.bots, options.name), stdout, "", urls);
}

// When no window can be opened there is maybe no terminal either: the desktop and the log hear it too.
int windowOrSayWhy(const std::optional<ClientProgram>& program, const std::vector<std::string>& listServers) {
    std::string error;
    if (const std::optional<int> status =
            runBrowserWindow(program.value_or(ClientProgram{}), listServers, error))
        return *status;
    return fail(error, 1, true);
}

int run(const LauncherOptions& options) {
    if (!installStopHandlers()) return fail("cannot install signal handlers: " + stopHandlerError());
    if (options.mode == LaunchMode::List) return listGames(options);

    // Looked for before anything starts, so that a missing game never leaves a server behind.
    const std::optional<ClientProgram> program = findClientProgram();
    // The window says so itself when the game is missing, and still lists the games.
    if (options.mode == LaunchMode::Window) return windowOrSayWhy(program, options.listServers);
    if (!program) return fail("cannot find the game program (brassmoor) beside this program or on PATH");

    switch (options.mode) {
        case LaunchMode::Join:
            return playAgainst(*program, options.address, nullptr);
        case LaunchMode::Host:
            return hostLanGame(*program, options);
        case LaunchMode::FindOrPractice:
        case LaunchMode::List:
        case LaunchMode::Window:
            break;
    }
    return findOrPractice(*program);
}

}  // namespace
}  // namespace brassmoor

int main(int argc, char** argv) {
    brassmoor::attachParentConsole();
    return brassmoor::runHelperProgram(argc, argv, brassmoor::Program, brassmoor::launcherUsageText(),
                                       brassmoor::parseLauncherOptions, brassmoor::run);
}
