// brassmoor-play: opens the window that lists the games found, or from the command line joins, hosts
// or lists games, or joins the busiest one; a game hosted here is served in this process.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "browser_window.h"
#include "client_process.h"
#include "console_attach.h"
#include "desktop_message.h"
#include "game_search.h"
#include "ipv4_endpoint.h"
#include "launcher_log.h"
#include "launcher_options.h"
#include "local_networks.h"
#include "program_entry.h"
#include "server_loop.h"
#include "stop_request.h"
#include "user_folders.h"

namespace brassmoor {
namespace {

constexpr const char* Program = "brassmoor-play";
// How long each look at the game waits while no server runs here.
constexpr int WatchMilliseconds = 50;
// How long a server step may wait, so that the game's end is noticed soon.
constexpr int ServerStepMilliseconds = 20;
// How long the game gets to end when asked before it is ended for good.
constexpr int ClientGraceMilliseconds = 3000;

// Every failure reaches the player: standard error, the log, and a message box when nobody watches
// standard error (a menu entry's Quick play or Host has no terminal).
int fail(const std::string& message, int status = 1, bool alwaysOnDesktop = false) {
    std::fprintf(stderr, "%s: %s\n", Program, message.c_str());
    std::string logError;
    if (!appendLauncherLog(userFolders().state, message, logError)) {
        std::fprintf(stderr, "%s: cannot write the log: %s\n", Program, logError.c_str());
    }
    if (alwaysOnDesktop || !errorsReachAConsole()) showDesktopMessage("Brassmoor", "Brassmoor: " + message);
    return status;
}

// Runs the game against `address`, serving `server` meanwhile when there is one, until the game ends
// (its status) or this program is asked to stop (0, once the game has been ended).
int playAgainst(const ClientProgram& program, const std::string& address, Server* server) {
    ClientProcess client;
    std::string error;
    if (!startClient(program, address, client, error)) {
        if (server != nullptr) closeServer(*server);
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
        if (server != nullptr) {
            if (!serveOnce(*server, ServerStepMilliseconds)) {
                // The game would go on against a server that no longer answers: say so and end both.
                stopClient(client, ClientGraceMilliseconds);
                closeServer(*server);
                return fail("the game's server stopped: waiting for datagrams failed");
            }
            status = clientExitStatus(client, 0);
        } else {
            status = clientExitStatus(client, WatchMilliseconds);
        }
    }
    if (server != nullptr) closeServer(*server);
    return *status;
}

int hostAndPlay(const ClientProgram& program, const ServerOptions& options, std::FILE* log,
                const std::string& cannotStart) {
    Server server;
    std::string error;
    if (!openServer(options, log, server, error)) return fail(cannotStart + " (" + error + ")");
    return playAgainst(program, "127.0.0.1", &server);
}

std::optional<BrowserModel> search() {
    std::string error;
    std::optional<BrowserModel> found = searchOnce(SearchSeconds, error);
    if (!found) fail("cannot look for games: " + error);
    return found;
}

int listGames() {
    const std::optional<BrowserModel> found = search();
    if (!found) return 1;
    if (found->rows.empty()) {
        std::printf("no Brassmoor game answered on this computer or the local networks\n");
    }
    for (const BrowserRow& row : found->rows) std::printf("%s\n", describeRow(row).c_str());
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
    std::printf("no game found: starting a practice game against %u simulated players on this computer\n",
                PracticeBots);
    ServerOptions practice;
    practice.bindAddress = "127.0.0.1";  // a practice game: nobody else can join it
    practice.port = GamePort;
    practice.bots = PracticeBots;
    return hostAndPlay(program, practice, nullptr,
                       "cannot start a practice game: UDP port 40123 on 127.0.0.1 is taken by a program "
                       "that does not answer as a Brassmoor server");
}

// When no window can be opened there is maybe no terminal either: the desktop and the log hear it too.
int windowOrSayWhy(const std::optional<ClientProgram>& program) {
    std::string error;
    if (const std::optional<int> status = runBrowserWindow(program.value_or(ClientProgram{}), error)) return *status;
    return fail(error, 1, true);
}

int hostLanGame(const ClientProgram& program, std::uint32_t bots, const std::string& name) {
    ServerOptions hosted;
    hosted.bindAddress = "0.0.0.0";
    hosted.port = GamePort;
    hosted.bots = bots;
    hosted.name = name;
    std::string addresses;
    for (const LocalNetwork& network : localNetworks()) {
        addresses += (addresses.empty() ? "" : ", ") + formatIpv4Address(network.address);
    }
    Server server;
    std::string error;
    if (!openServer(hosted, stdout, server, error)) {
        return fail("cannot host a game on UDP port 40123 (" + error +
                    "); if a game already runs on this computer, join it with 'brassmoor-play'");
    }
    if (addresses.empty()) {
        std::printf("hosting a game with %u simulated players; this computer has no network address, so "
                    "only it can join\n",
                    bots);
    } else {
        std::printf("hosting a LAN game with %u simulated players: other players run 'brassmoor-play' (it "
                    "finds this game) or join one of these addresses: %s\n",
                    bots, addresses.c_str());
    }
    return playAgainst(program, "127.0.0.1", &server);
}

int run(const LauncherOptions& options) {
    if (!installStopHandlers()) return fail("cannot install signal handlers: " + stopHandlerError());
    if (options.mode == LaunchMode::List) return listGames();

    // Looked for before anything starts, so that a missing game never leaves a server behind.
    const std::optional<ClientProgram> program = findClientProgram();
    // The window says so itself when the game is missing, and still lists the games.
    if (options.mode == LaunchMode::Window) return windowOrSayWhy(program);
    if (!program) return fail("cannot find the game program (brassmoor) beside this program or on PATH");

    switch (options.mode) {
        case LaunchMode::Join:
            return playAgainst(*program, options.address, nullptr);
        case LaunchMode::Host:
            return hostLanGame(*program, options.bots, options.name);
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
