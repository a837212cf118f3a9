// The list's work between HTTP and the store: each announcement checked over UDP before it is stored,
// rechecks claimed and sent on a steady beat, and the store read back each second.
#include "list_service.h"

#include <chrono>
#include <limits>

#include "announcement.h"
#include "ipv4_endpoint.h"
#include "monotonic_clock.h"
#include "recheck_schedule.h"

namespace brassmoor {
namespace {

constexpr double ReadEverySeconds = 1.0;
// Listings here make the store be read again sooner, but never more often than this.
constexpr double ReadAtMostEverySeconds = 0.25;
// The checker looks for rechecks that fell due this often, and waits for answers in between.
constexpr double ScheduleEverySeconds = 0.1;
constexpr int AnswerWaitMilliseconds = 50;
constexpr int RateLimitedRetrySeconds = 10;
constexpr int BusyRetrySeconds = 2;
constexpr int StoreDownRetrySeconds = 5;

double wallSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

ListReply refuse(ListService& service, AnnounceOutcome outcome, int status, std::string_view reason,
                 int retryAfter = 0) {
    service.outcomes[static_cast<std::size_t>(outcome)].fetch_add(1);
    return ListReply{status, notListedReply(reason), retryAfter};
}

// The game a request names and whether it may make one more request now; a reply when not.
bool admit(ListService& service, std::uint32_t peer, std::span<const std::string_view> forwardedFor,
           std::uint32_t& address, ListReply& reply) {
    std::string reason;
    if (!announcedAddress(peer, forwardedFor, service.options.trustedProxies, address, reason)) {
        // Only a trusted proxy's header or a peer that cannot be a game gets here: never a flood.
        std::fprintf(service.log, "refused a request from %s: %s\n", formatIpv4Address(peer).c_str(),
                     reason.c_str());
        reply = refuse(service, AnnounceOutcome::BadRequest, 400, reason);
        return false;
    }
    bool allowed = false;
    {
        std::lock_guard<std::mutex> held(service.limiterLock);
        allowed = allowRequest(service.limiter, address, monotonicSeconds());
    }
    if (!allowed) {
        reply =
            refuse(service, AnnounceOutcome::RateLimited, 429,
                   "too many requests from " + formatIpv4Address(address) + "; a server announces every 30 s",
                   RateLimitedRetrySeconds);
        return false;
    }
    return true;
}

void readSoon(ListService& service) {
    {
        std::lock_guard<std::mutex> held(service.keeperLock);
        service.readSoon = true;
    }
    service.keeperWake.notify_one();
}

// Reads the store into the list shown. False when the read must be made again soon (a removal here
// overtook it).
bool readStore(ListService& service, std::size_t& unreadableBefore) {
    std::string error;
    if (!service.health.up.load() && !service.store->connect(error)) {
        noteStoreResult(service.health, false, error);
        return true;
    }
    const std::uint64_t changes = localChangeCount(service.view);
    std::vector<GameEntry> games;
    std::size_t unreadable = 0;
    const bool read = service.store->readGames(games, unreadable, error);
    noteStoreResult(service.health, read, error);
    if (!read) return true;
    if (unreadable != unreadableBefore) {
        std::fprintf(service.log, "store: %zu entries cannot be read and are left out\n", unreadable);
        unreadableBefore = unreadable;
    }
    std::vector<GameEntry> gone;
    if (!showGames(service.view, std::move(games), changes, gone)) return false;
    for (const GameEntry& game : gone) {
        std::fprintf(service.log, "gone %s \"%s\": it stopped answering, or left\n",
                     formatIpv4Address(game.address).c_str(), game.name.c_str());
    }
    return true;
}

void keepList(ListService& service) {
    std::size_t unreadable = 0;
    double lastRead = -std::numeric_limits<double>::infinity();
    std::unique_lock<std::mutex> held(service.keeperLock);
    while (!service.stopping) {
        const double due = service.readSoon ? lastRead + ReadAtMostEverySeconds : lastRead + ReadEverySeconds;
        if (monotonicSeconds() < due) {
            const auto wait = std::chrono::duration<double>(due - monotonicSeconds());
            service.keeperWake.wait_for(held, wait);
            continue;  // woken early, or due: look again
        }
        service.readSoon = false;
        held.unlock();
        lastRead = monotonicSeconds();
        const bool shown = readStore(service, unreadable);
        held.lock();
        if (!shown) service.readSoon = true;
    }
}

void storeRecheckAnswers(ListService& service, const std::vector<CheckOutcome>& answers) {
    if (answers.empty()) return;
    std::vector<GameEntry> games;
    games.reserve(answers.size());
    for (const CheckOutcome& answer : answers)
        games.push_back(gameFromAnswer(answer.address, answer.info));
    std::string error;
    noteStoreResult(service.health, service.store->putGames(games, service.options.ttlSeconds, true, error),
                    error);
}

void sendDueRechecks(ListService& service, double previous, double now) {
    std::vector<std::uint32_t> due;
    dueRechecks(*shownAddresses(service.view), service.options.recheckSeconds, previous, now, due);
    if (due.empty() || !service.health.up.load()) return;
    std::vector<bool> won;
    std::string error;
    const bool claimed = service.store->claimRechecks(
        due, recheckClaimMilliseconds(service.options.recheckSeconds), won, error);
    noteStoreResult(service.health, claimed, error);
    if (!claimed) return;
    std::vector<std::uint32_t> ours;
    for (std::size_t i = 0; i < due.size(); ++i) {
        if (won[i]) ours.push_back(due[i]);
    }
    sendRechecks(service.checker, ours);
}

void runChecks(ListService& service) {
    double previousWall = wallSeconds();
    double nextSchedule = monotonicSeconds() + ScheduleEverySeconds;
    bool waitFailed = false;
    std::vector<CheckOutcome> answers;
    while (true) {
        {
            std::lock_guard<std::mutex> held(service.keeperLock);
            if (service.stopping) return;
        }
        answers.clear();
        if (!serveChecks(service.checker, AnswerWaitMilliseconds, answers)) {
            if (!waitFailed)
                std::fprintf(service.log, "checks: waiting for answers failed: %s\n",
                             lastSocketError().c_str());
            waitFailed = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(AnswerWaitMilliseconds));
        }
        storeRecheckAnswers(service, answers);
        if (monotonicSeconds() >= nextSchedule) {
            const double now = wallSeconds();
            sendDueRechecks(service, previousWall, now);
            previousWall = now;
            nextSchedule = monotonicSeconds() + ScheduleEverySeconds;
        }
    }
}

std::string noAnswerReason(std::uint32_t address) {
    return "no answer on UDP 40123 at " + formatIpv4Address(address) +
           " within 2 s: forward UDP port 40123 to this server, and let it through any firewall";
}

}  // namespace

bool startListService(ListService& service, std::string& error) {
    // Queries leave from the HTTP address, so games hear the list from where they reached it; but a
    // list behind a front on this host listens on loopback, which cannot reach a game.
    const std::uint32_t listen = service.options.listen.address;
    if (!openChecker(service.checker, (listen >> 24) == 127 ? 0 : listen, error)) return false;
    service.health.log = service.log;
    service.health.name = service.options.redis ? formatRedisTarget(*service.options.redis) : "memory";
    std::string storeError;
    if (!service.store->connect(storeError)) {
        std::fprintf(service.log, "store: cannot reach %s yet: %s; /healthz answers 503 until it can\n",
                     service.health.name.c_str(), storeError.c_str());
        service.health.up.store(false);
        service.health.errors.fetch_add(1);
    }
    service.keeper = std::thread(keepList, std::ref(service));
    service.checkerThread = std::thread(runChecks, std::ref(service));
    return true;
}

void wakeAnnouncers(ListService& service) {
    stopChecks(service.checker);
}

void stopListService(ListService& service) {
    wakeAnnouncers(service);
    {
        std::lock_guard<std::mutex> held(service.keeperLock);
        service.stopping = true;
    }
    service.keeperWake.notify_all();
    if (service.keeper.joinable()) service.keeper.join();
    if (service.checkerThread.joinable()) service.checkerThread.join();
    closeChecker(service.checker);
}

ListReply announceGame(ListService& service, std::uint32_t peer,
                       std::span<const std::string_view> forwardedFor, std::string_view body,
                       bool bodyTooLarge) {
    std::uint32_t address = 0;
    ListReply reply;
    if (!admit(service, peer, forwardedFor, address, reply)) return reply;
    if (bodyTooLarge)
        return refuse(service, AnnounceOutcome::TooLarge, 413, "the announcement is longer than 1024 bytes");
    std::string reason;
    if (!checkAnnouncementBody(body, reason)) {
        std::fprintf(service.log, "not listed %s: %s\n", formatIpv4Address(address).c_str(), reason.c_str());
        return refuse(service, AnnounceOutcome::BadRequest, 400, reason);
    }
    if (!service.health.up.load()) {
        return refuse(service, AnnounceOutcome::StoreDown, 503,
                      "the list's store cannot be reached; try again later", StoreDownRetrySeconds);
    }
    const std::string where = formatIpv4Address(address);
    const GameCheck check = checkGame(service.checker, address);
    switch (check.result) {
        case CheckResult::Busy:
            return refuse(service, AnnounceOutcome::Busy, 503,
                          "too many checks under way; try again in a few seconds", BusyRetrySeconds);
        case CheckResult::Stopping:
            return refuse(service, AnnounceOutcome::Busy, 503, "the list is stopping", BusyRetrySeconds);
        case CheckResult::SendFailed:
            reason = "cannot send the info query to " + where + ":40123: " + check.sendError;
            std::fprintf(service.log, "not listed %s: %s\n", where.c_str(), reason.c_str());
            return refuse(service, AnnounceOutcome::NoAnswer, 422, reason);
        case CheckResult::NoAnswer:
            reason = noAnswerReason(address);
            std::fprintf(service.log, "not listed %s: %s\n", where.c_str(), reason.c_str());
            return refuse(service, AnnounceOutcome::NoAnswer, 422, reason);
        case CheckResult::Answered:
            break;
    }
    const GameEntry game = gameFromAnswer(address, check.info);
    std::string error;
    const bool stored = service.store->putGames({&game, 1}, service.options.ttlSeconds, false, error);
    noteStoreResult(service.health, stored, error);
    if (!stored) {
        return refuse(service, AnnounceOutcome::StoreDown, 503,
                      "the list's store cannot be reached; try again later", StoreDownRetrySeconds);
    }
    service.outcomes[static_cast<std::size_t>(AnnounceOutcome::Listed)].fetch_add(1);
    std::fprintf(service.log, "listed %s as \"%s\": %u players, version %s\n", where.c_str(),
                 game.name.c_str(), unsigned{game.players}, formatGameVersion(game).c_str());
    readSoon(service);
    return ListReply{200, listedReply(game), 0};
}

ListReply withdrawGame(ListService& service, std::uint32_t peer,
                       std::span<const std::string_view> forwardedFor) {
    std::uint32_t address = 0;
    ListReply reply;
    if (!admit(service, peer, forwardedFor, address, reply)) return reply;
    forgetChecks(service.checker, address);
    bool removed = false;
    std::string error;
    const bool done = service.store->removeGame(address, removed, error);
    noteStoreResult(service.health, done, error);
    if (!done) {
        return ListReply{503, notListedReply("the list's store cannot be reached; try again later"),
                         StoreDownRetrySeconds};
    }
    hideGame(service.view, address);
    if (removed) {
        service.removals.fetch_add(1);
        std::fprintf(service.log, "removed %s at its own request\n", formatIpv4Address(address).c_str());
    }
    return ListReply{200, removedReply(removed), 0};
}

ListFigures listFigures(ListService& service) {
    ListFigures figures;
    figures.games = shownList(service.view)->games;
    for (std::size_t i = 0; i < AnnounceOutcomeCount; ++i)
        figures.announcements[i] = service.outcomes[i].load();
    figures.removals = service.removals.load();
    for (std::size_t i = 0; i < 2; ++i) {
        figures.checksSent[i] = service.checker.sent[i].load();
        figures.checksAnswered[i] = service.checker.answered[i].load();
    }
    figures.checksInFlight = checksInFlight(service.checker);
    figures.storeErrors = service.health.errors.load();
    figures.storeUp = service.health.up.load();
    return figures;
}

}  // namespace brassmoor
