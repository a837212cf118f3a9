// The launcher window's work between frames: looking for games, starting and watching them, hosting.
#include "browser_session.h"

#include <algorithm>
#include <cstdio>

#include "ipv4_endpoint.h"
#include "launcher_log.h"
#include "launcher_options.h"
#include "local_networks.h"
#include "monotonic_clock.h"
#include "remembered_addresses.h"

namespace brassmoor {

namespace {

constexpr std::uint32_t Loopback = 0x7F000001;
// The window keeps this many lines of messages.
constexpr std::size_t MessagesKept = 40;
// How long the game gets to end when the launcher closes before it is ended for good.
constexpr int ClientGraceMilliseconds = 3000;

void show(BrowserSession& session, const std::string& line, bool error) {
    session.messages.push_back(BrowserMessage{line, error});
    if (session.messages.size() > MessagesKept) session.messages.erase(session.messages.begin());
}

void closeHosted(BrowserSession& session) {
    if (!session.hosted) return;
    const std::uint32_t instance = session.hosted->instance;
    closeServer(*session.hosted);
    session.hosted.reset();
    std::erase_if(session.model.rows, [&](const BrowserRow& row) { return row.info.instance == instance; });
    if (session.model.selected == instance) session.model.selected.reset();
}

// Starts the game against `address`; false (reported) when it cannot start.
bool startGame(BrowserSession& session, std::uint32_t address) {
    if (session.program.path.empty()) {
        reportProblem(session, "cannot find the game program (brassmoor) beside this program or on PATH");
        return false;
    }
    std::string error;
    session.client = ClientProcess{};
    if (!startClient(session.program, formatIpv4Address(address), session.client, error)) {
        reportProblem(session, error);
        return false;
    }
    session.gameRunning = true;
    return true;
}

// Opens a server of this launcher's and puts it into the list; false (reported) when it cannot open.
bool openHosted(BrowserSession& session, const ServerOptions& options, bool practice, const std::string& cannot) {
    if (session.hosted) closeHosted(session);
    auto server = std::make_unique<Server>();
    std::string error;
    if (!openServer(options, nullptr, *server, error)) {
        reportProblem(session, cannot + " (" + error + ")");
        return false;
    }
    session.hosted = std::move(server);
    session.hostedIsPractice = practice;
    addHostedGame(session.model, Ipv4Endpoint{Loopback, GamePort}, currentServerInfo(*session.hosted));
    return true;
}

void remember(BrowserSession& session, const std::string& typed) {
    session.remembered = rememberAddress(session.remembered, typed);
    std::string error;
    if (!saveRememberedAddresses(session.folders.config, session.remembered, error)) {
        reportProblem(session, "cannot remember the address " + typed + ": " + error);
    }
}

void gameEnded(BrowserSession& session, int status) {
    session.gameRunning = false;
    const std::string output = takeClientErrorOutput(session.client);
    if (status != 0) {
        reportProblem(session, "the game ended with status " + std::to_string(status) +
                                   (output.empty() ? "" : "; what it said:"));
        std::size_t start = 0;
        while (start < output.size()) {
            const std::size_t end = std::min(output.find('\n', start), output.size());
            // Already passed on to standard error as it came: shown and logged here.
            if (end > start) {
                const std::string line = output.substr(start, end - start);
                show(session, line, true);
                std::string error;
                appendLauncherLog(session.folders.state, "the game: " + line, error);
            }
            start = end + 1;
        }
    }
    if (session.hostedIsPractice) closeHosted(session);
    refreshNow(session.search);
}

}  // namespace

void openBrowserSession(BrowserSession& session, const ClientProgram& program) {
    session.program = program;
    session.folders = userFolders();
    session.model.own = projectVersion();
    std::string error;
    if (!openGameSearch(session.search, error)) reportProblem(session, error + "; games can still be joined by address");
    if (program.path.empty()) {
        reportProblem(session, "cannot find the game program (brassmoor) beside this program or on PATH");
    }
    RememberedLoad loaded = loadRememberedAddresses(session.folders.config);
    if (!loaded.problem.empty()) reportProblem(session, loaded.problem);
    session.remembered = std::move(loaded.addresses);
    for (const std::string& address : session.remembered) session.rememberedLookups.push_back(startNameLookup(address));
}

void closeBrowserSession(BrowserSession& session) {
    if (session.gameRunning) {
        stopClient(session.client, ClientGraceMilliseconds);
        session.gameRunning = false;
    }
    closeHosted(session);
    closeGameSearch(session.search);
}

void reportProblem(BrowserSession& session, const std::string& line) {
    show(session, line, true);
    std::fprintf(stderr, "brassmoor-play: %s\n", line.c_str());
    std::string error;
    if (!appendLauncherLog(session.folders.state, line, error)) {
        std::fprintf(stderr, "brassmoor-play: cannot write the log: %s\n", error.c_str());
    }
}

void reportNews(BrowserSession& session, const std::string& line) {
    show(session, line, false);
    std::printf("%s\n", line.c_str());
}

bool stepBrowserSession(BrowserSession& session, double now, int waitMilliseconds) {
    std::string error;
    if (!pollGameSearch(session.search, session.model, now, error)) {
        reportProblem(session, error);
        refreshNow(session.search);
    }
    // A console, when there is one, hears of each game as it is first found.
    for (const BrowserRow& row : session.model.rows) {
        if (std::find(session.announced.begin(), session.announced.end(), row.info.instance) != session.announced.end()) {
            continue;
        }
        session.announced.push_back(row.info.instance);
        std::printf("found %s\n", describeRow(row).c_str());
    }
    std::erase_if(session.rememberedLookups, [&](const NameLookup& lookup) {
        NameLookupResult result;
        if (!takeNameLookup(lookup, result)) return false;
        if (result.ok) addSearchAddress(session.search, result.address);
        return true;
    });
    if (session.joining) {
        NameLookupResult result;
        if (takeNameLookup(*session.joining, result)) {
            const std::string typed = session.joining->name;
            session.joining.reset();
            if (!result.ok) {
                reportProblem(session, result.error);
            } else {
                remember(session, typed);
                addSearchAddress(session.search, result.address);
                reportNews(session, "joining " + typed + " (" + formatIpv4Address(result.address) + ")");
                startGame(session, result.address);
            }
        }
    }
    if (session.hosted && !serveOnce(*session.hosted, session.gameRunning ? waitMilliseconds : 0)) {
        reportProblem(session, "the game hosted here stopped: waiting for datagrams failed");
        closeHosted(session);
    }
    if (!session.gameRunning) return false;
    const std::optional<int> status = clientExitStatus(session.client, session.hosted ? 0 : waitMilliseconds);
    if (!status) return false;
    gameEnded(session, *status);
    return true;
}

void joinSelected(BrowserSession& session) {
    const BrowserRow* row = selectedRow(session.model);
    if (row == nullptr || session.gameRunning) return;
    if (!isJoinable(session.model, *row)) {
        reportProblem(session, rowName(*row) + " runs version " + rowVersion(*row) + ", which this version cannot join");
        return;
    }
    reportNews(session, "joining " + describeRow(*row));
    startGame(session, row->from.address);
}

void joinTyped(BrowserSession& session, const std::string& typed) {
    if (session.gameRunning || session.joining) return;
    const std::size_t first = typed.find_first_not_of(" \t");
    const std::size_t last = typed.find_last_not_of(" \t");
    if (first == std::string::npos) {
        reportProblem(session, "type an address such as 192.168.1.20 or a computer's name first");
        return;
    }
    session.joining = startNameLookup(typed.substr(first, last - first + 1));
}

void startPractice(BrowserSession& session) {
    if (session.gameRunning) return;
    ServerOptions practice;
    practice.bindAddress = "127.0.0.1";  // a practice game: nobody else can join it
    practice.port = GamePort;
    practice.bots = PracticeBots;
    if (!openHosted(session, practice, true,
                    "cannot start a practice game: UDP port 40123 on 127.0.0.1 is taken; a game may already "
                    "run on this computer")) {
        return;
    }
    reportNews(session, "starting a practice game against " + std::to_string(PracticeBots) +
                            " simulated players on this computer");
    if (!startGame(session, Loopback)) closeHosted(session);
}

void hostLanGame(BrowserSession& session, std::uint32_t bots) {
    if (session.gameRunning) return;
    ServerOptions hosted;
    hosted.bindAddress = "0.0.0.0";
    hosted.port = GamePort;
    hosted.bots = bots;
    if (!openHosted(session, hosted, false,
                    "cannot host a game on UDP port 40123; if a game already runs on this computer, join it")) {
        return;
    }
    std::string addresses;
    for (const LocalNetwork& network : localNetworks()) {
        addresses += (addresses.empty() ? "" : ", ") + formatIpv4Address(network.address);
    }
    reportNews(session, "hosting a LAN game with " + std::to_string(bots) + " simulated players" +
                            (addresses.empty() ? std::string("; this computer has no network address, so only it can join")
                                               : "; others join " + addresses));
    if (!startGame(session, Loopback)) closeHosted(session);
}

void stopHosting(BrowserSession& session) {
    if (session.gameRunning || !session.hosted) return;
    closeHosted(session);
    reportNews(session, "the game hosted here has stopped");
}

}  // namespace brassmoor
