// Looking for games over UDP: rounds of queries out, answers in, without ever blocking the caller.
#include "game_search.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <span>

#include "list_fetcher.h"
#include "listed_games.h"
#include "local_networks.h"
#include "monotonic_clock.h"
#include "server_info.h"
#include "socket_address.h"

namespace brassmoor {

namespace {

// Right after a round the search waits this long for the first answers, which are then timed to the
// millisecond (this computer's and a LAN's come that soon); later ones are read with the next poll.
constexpr int QuickAnswerMilliseconds = 3;
// In a one-off search a lost query or answer is asked again once, this far in.
constexpr double RepeatAfterFraction = 0.4;
// A poll reads at most this many datagrams, so a flood of answers costs the window a bounded slice of
// each frame; what it leaves waits in the socket's buffer, or is dropped by the system when that is
// full. Polled every 4 ms, this keeps up with 16 000 answers a second.
constexpr int DatagramsPerPoll = 64;
// The listed games' queries leave at PingsPerSecond, never more than this many at once.
constexpr double MostQueriesAtOnce = 4.0;
// While --list still asks listed games, it looks this often whether more queries may leave.
constexpr int ListedQueryStepMilliseconds = 5;

std::uint32_t drawNonce() {
    std::random_device device;
    const auto ticks =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return device() ^ static_cast<std::uint32_t>(ticks) ^ static_cast<std::uint32_t>(ticks >> 32);
}

void sendRound(GameSearch& search, BrowserModel& model, double now) {
    const std::uint32_t nonce = drawNonce();
    startRound(model, nonce, now);
    // The longer query: a server of this version answers with its name, an older one without.
    const auto query = encodeNamedInfoQuery(nonce);
    // The networks as they are now: one that came up since the last round is asked too.
    search.networks = localNetworks();
    for (const std::uint32_t target : roundTargets(search.targets, search.networks)) {
        // A network without a route (255.255.255.255 where there is no default route) refuses at
        // once: nothing to do but ask the others.
        sendDatagram(search.socket, query.data(), static_cast<int>(query.size()),
                     toSocketAddress(Ipv4Endpoint{target, GamePort}));
    }
}

// Takes at most `budget` of the datagrams waiting; says how many it read.
int takeWaitingAnswers(const GameSearch& search, BrowserModel& model, double now, int budget) {
    std::uint8_t buffer[1500];
    int read = 0;
    for (; read < budget; ++read) {
        sockaddr_in from{};
        const int length = receiveDatagramFrom(search.socket, buffer, static_cast<int>(sizeof buffer), from);
        // Nothing more, or a refusal from a port where nothing listens, which was all it had to say.
        if (length < 0) break;
        const Ipv4Endpoint sender = toIpv4Endpoint(from);
        takeAnswer(model, sender, std::span<const std::uint8_t>(buffer, std::size_t(length)), now,
                   answerFoundOn(search.targets, search.networks, sender.address));
    }
    return read;
}

// Sends the listed games' queries that are due and that the rate allows.
void sendListedQueries(GameSearch& search, BrowserModel& model, double now,
                       std::span<const std::uint64_t> shownFirst) {
    search.queryCredit =
        std::min(MostQueriesAtOnce, search.queryCredit + (now - search.creditAt) * PingsPerSecond);
    search.creditAt = now;
    std::vector<std::uint32_t> nonces(static_cast<std::size_t>(search.queryCredit));
    for (std::uint32_t& nonce : nonces)
        nonce = drawNonce();
    for (const ListedQuery& query : startListedQueries(model, now, nonces, shownFirst)) {
        const auto bytes = encodeNamedInfoQuery(query.nonce);
        sendDatagram(search.socket, bytes.data(), static_cast<int>(bytes.size()),
                     toSocketAddress(Ipv4Endpoint{query.address, GamePort}));
        search.queryCredit -= 1.0;
    }
}

}  // namespace

bool openGameSearch(GameSearch& search, std::string& error) {
    if (!startSocketLibrary()) {
        error = "cannot start the sockets library";
        return false;
    }
    search.socket = openUdpSocket();
    if (search.socket == InvalidSocketHandle) {
        error = "cannot create a UDP socket to look for games: " + lastSocketError();
        stopSocketLibrary();
        return false;
    }
    makeNonBlocking(search.socket);
    const sockaddr_in anyPort = toSocketAddress(Ipv4Endpoint{0, 0});
    if (!enableBroadcast(search.socket) || !bindUdpSocket(search.socket, anyPort)) {
        error = "cannot prepare a UDP socket to look for games: " + lastSocketError();
        closeGameSearch(search);
        return false;
    }
    search.nextRound = 0.0;
    return true;
}

void closeGameSearch(GameSearch& search) {
    if (search.socket == InvalidSocketHandle) return;
    closeSocket(search.socket);
    search.socket = InvalidSocketHandle;
    stopSocketLibrary();
}

void addSearchAddress(GameSearch& search, std::uint32_t address) {
    addTargetAddress(search.targets, address);
    refreshNow(search);
}

void addSearchName(GameSearch& search, const std::string& name) {
    addTargetName(search.targets, name);
}

void refreshNow(GameSearch& search) {
    search.nextRound = 0.0;
}

bool pollGameSearch(GameSearch& search, BrowserModel& model, double now, std::string& error,
                    std::span<const std::uint64_t> shownFirst) {
    if (search.socket == InvalidSocketHandle) return true;  // no search could be opened: said so then
    if (takeTargetLookups(search.targets)) refreshNow(search);
    if (now >= search.nextRound) {
        sendRound(search, model, now);
        // Looked up again for the next round, so that a name's new address is asked then.
        lookUpTargetNames(search.targets);
        search.lastRound = now;
        search.nextRound = now + RefreshSeconds;
    }
    sendListedQueries(search, model, now, shownFirst);
    // Right after a round: wait a little for answers and time each as it comes.
    const double quickUntil = now == search.lastRound ? now + QuickAnswerMilliseconds / 1000.0 : now;
    int budget = DatagramsPerPoll;
    for (double at = now;; at = monotonicSeconds()) {
        const int wait = static_cast<int>(std::ceil(std::max(0.0, quickUntil - at) * 1000.0));
        bool readable[1] = {false};
        if (waitForDatagrams(std::span<const SocketHandle>(&search.socket, 1), wait, readable) < 0) {
            error = "looking for games failed: " + lastSocketError();
            return false;
        }
        if (readable[0]) {
            budget -= takeWaitingAnswers(search, model, wait > 0 ? monotonicSeconds() : at, budget);
        }
        if (wait == 0 || budget == 0) return true;
    }
}

std::optional<BrowserModel> searchOnce(double seconds, const std::vector<ListServer>& lists,
                                       std::vector<std::string>& problems, std::string& error) {
    GameSearch search;
    if (!openGameSearch(search, error)) return std::nullopt;
    BrowserModel model;
    model.own = projectVersion();
    std::vector<ListSource> sources = listSourcesFor(lists);
    ListFetcher fetcher;
    if (!sources.empty() && !startListFetcher(fetcher, listUrls(sources), error)) {
        closeGameSearch(search);
        return std::nullopt;
    }
    const double start = monotonicSeconds();
    const double repeatAt = start + seconds * RepeatAfterFraction;
    const double end = start + seconds;
    sendRound(search, model, start);
    search.creditAt = start;
    bool repeated = false;
    // The LAN for `seconds`; the lists until each answered (or ListsWaitSeconds); the games they
    // name until each answered or was given up.
    const auto listening = [&](double now) {
        if (now < end) return true;
        if (now >= start + ListingWaitSeconds) return false;
        if (!allListsHeard(sources)) return now < start + ListsWaitSeconds;
        return listedStillAsked(model);
    };
    for (double now = start; listening(now); now = monotonicSeconds()) {
        if (!repeated && now >= repeatAt) {
            sendRound(search, model, now);
            repeated = true;
        }
        for (std::string& line : takeListReads(sources, takeFetchedLists(fetcher), model))
            problems.push_back(std::move(line));
        sendListedQueries(search, model, now, {});
        double until = repeated ? end : repeatAt;
        if (now >= end || listedStillAsked(model)) until = now + ListedQueryStepMilliseconds / 1000.0;
        const int waitMilliseconds = static_cast<int>(std::ceil(std::max(0.0, until - now) * 1000.0));
        bool readable[1] = {false};
        const int ready =
            waitForDatagrams(std::span<const SocketHandle>(&search.socket, 1), waitMilliseconds, readable);
        if (ready < 0) {
            error = "waiting for answers failed: " + lastSocketError();
            stopListFetcher(fetcher);
            closeGameSearch(search);
            return std::nullopt;
        }
        // A batch at a time, the clock read between them: it ends on time however much arrives.
        if (ready > 0) takeWaitingAnswers(search, model, monotonicSeconds(), DatagramsPerPoll);
    }
    for (const ListSource& source : sources) {
        if (!source.heard)
            problems.push_back("the list at " + source.server.url + " could not be read: no answer within " +
                               std::to_string(static_cast<int>(ListsWaitSeconds)) + " s");
    }
    stopListFetcher(fetcher);
    closeGameSearch(search);
    return model;
}

}  // namespace brassmoor
