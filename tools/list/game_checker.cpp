// The checks on the wire: nonces from the system's random source (an announcer sees the nonces sent to
// its own game, so they must not predict the next), queries out, answers matched on the way in.
#include "game_checker.h"

#include <sys/random.h>

#include <chrono>

#include "game_entry.h"
#include "monotonic_clock.h"
#include "socket_address.h"

namespace brassmoor {
namespace {

// A margin past a check's deadline for the checker's thread to settle it, before a waiter gives up alone.
constexpr double SettleMarginSeconds = 1.0;
constexpr std::size_t MaxDatagramsPerTurn = 4096;
constexpr int ReceiveBufferBytes = 512;

bool fillRandom(std::span<std::uint8_t> bytes) {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got <= 0) return false;
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

std::uint32_t nonceFrom(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

bool sendQuery(GameChecker& checker, std::uint32_t address, std::uint32_t nonce) {
    const auto query = encodeNamedInfoQuery(nonce);
    const sockaddr_in to = toSocketAddress(Ipv4Endpoint{address, GamePort});
    return sendDatagram(checker.socket, query.data(), static_cast<int>(query.size()), to) ==
           static_cast<int>(query.size());
}

// With the lock held: hands a settled check to whoever waits for it.
void settle(GameChecker& checker, const CheckOutcome& outcome, std::vector<CheckOutcome>& recheckAnswers) {
    const bool recheck = checker.rechecks.erase(outcome.id) > 0;
    if (outcome.answered) checker.answered[recheck ? 1 : 0].fetch_add(1);
    if (recheck && outcome.answered) recheckAnswers.push_back(outcome);
    if (checker.waiters.contains(outcome.id)) checker.outcomes[outcome.id] = outcome;
}

}  // namespace

bool openChecker(GameChecker& checker, std::uint32_t localAddress, std::string& error) {
    checker.socket = openUdpSocket();
    if (checker.socket == InvalidSocketHandle) {
        error = "cannot open the UDP socket for checks: " + lastSocketError();
        return false;
    }
    if (!bindUdpSocket(checker.socket, toSocketAddress(Ipv4Endpoint{localAddress, 0}))) {
        error = "cannot bind the UDP socket for checks to " + formatIpv4Address(localAddress) + ": " +
                lastSocketError();
        closeChecker(checker);
        return false;
    }
    makeNonBlocking(checker.socket);
    std::uint8_t probe[4];
    if (!fillRandom(probe)) {
        error = "the system's random source gives nothing for the checks' nonces";
        closeChecker(checker);
        return false;
    }
    return true;
}

void closeChecker(GameChecker& checker) {
    if (checker.socket != InvalidSocketHandle) closeSocket(checker.socket);
    checker.socket = InvalidSocketHandle;
}

GameCheck checkGame(GameChecker& checker, std::uint32_t address) {
    std::uint8_t random[4];
    if (!fillRandom(random)) return GameCheck{CheckResult::SendFailed, {}, "no random nonce"};
    std::unique_lock<std::mutex> held(checker.lock);
    if (checker.stopping) return GameCheck{CheckResult::Stopping, {}, {}};
    const StartedCheck started = startCheck(checker.pending, address, nonceFrom(random), monotonicSeconds());
    if (started.id == 0) return GameCheck{CheckResult::Busy, {}, {}};
    ++checker.waiters[started.id];
    checker.sent[0].fetch_add(1);
    // An announcement that joins a check under way sends its query again: the game may have just
    // restarted, and the earlier query went to the process before it. The per-address limit on
    // announcements bounds these.
    if (!sendQuery(checker, address, started.nonce) && started.needsQuery) {
        const std::string why = lastSocketError();
        cancelCheck(checker.pending, address);
        if (--checker.waiters[started.id] == 0) checker.waiters.erase(started.id);
        return GameCheck{CheckResult::SendFailed, {}, why};
    }
    const auto giveUp = std::chrono::steady_clock::now() +
                        std::chrono::duration<double>(CheckTimeoutSeconds + SettleMarginSeconds);
    checker.settled.wait_until(held, giveUp,
                               [&] { return checker.stopping || checker.outcomes.contains(started.id); });
    GameCheck check{checker.stopping ? CheckResult::Stopping : CheckResult::NoAnswer, {}, {}};
    if (const auto found = checker.outcomes.find(started.id); found != checker.outcomes.end()) {
        if (found->second.answered) check = GameCheck{CheckResult::Answered, found->second.info, {}};
    }
    if (--checker.waiters[started.id] == 0) {
        checker.waiters.erase(started.id);
        checker.outcomes.erase(started.id);
    }
    return check;
}

bool serveChecks(GameChecker& checker, int waitMilliseconds, std::vector<CheckOutcome>& recheckAnswers) {
    const SocketHandle sockets[1] = {checker.socket};
    bool readable[1] = {false};
    if (waitForDatagrams(sockets, waitMilliseconds, readable) < 0) return false;
    std::vector<std::pair<Ipv4Endpoint, std::vector<std::uint8_t>>> received;
    std::uint8_t buffer[ReceiveBufferBytes];
    for (std::size_t i = 0; readable[0] && i < MaxDatagramsPerTurn; ++i) {
        sockaddr_in from{};
        const int length = receiveDatagramFrom(checker.socket, buffer, sizeof buffer, from);
        if (length < 0) break;
        received.emplace_back(toIpv4Endpoint(from), std::vector<std::uint8_t>(buffer, buffer + length));
    }
    std::vector<CheckOutcome> expired;
    {
        std::lock_guard<std::mutex> held(checker.lock);
        for (const auto& [from, bytes] : received) {
            if (auto outcome = takeAnswer(checker.pending, from, bytes))
                settle(checker, *outcome, recheckAnswers);
        }
        expireChecks(checker.pending, monotonicSeconds(), expired);
        for (const CheckOutcome& outcome : expired)
            settle(checker, outcome, recheckAnswers);
    }
    checker.settled.notify_all();
    return true;
}

void sendRechecks(GameChecker& checker, std::span<const std::uint32_t> addresses) {
    std::vector<std::uint8_t> random(addresses.size() * 4);
    if (!fillRandom(random)) return;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> queries;  // address, nonce
    {
        std::lock_guard<std::mutex> held(checker.lock);
        const double now = monotonicSeconds();
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            const std::uint32_t nonce = nonceFrom(random.data() + 4 * i);
            const StartedCheck started = startCheck(checker.pending, addresses[i], nonce, now);
            // A check under way (an announcement's) answers for this recheck too.
            if (started.id == 0 || !started.needsQuery) continue;
            checker.rechecks.insert(started.id);
            queries.emplace_back(addresses[i], nonce);
        }
    }
    for (const auto& [address, nonce] : queries) {
        checker.sent[1].fetch_add(1);
        // A query the socket will not take is a check that goes unanswered: the game's time runs on.
        sendQuery(checker, address, nonce);
    }
}

void forgetChecks(GameChecker& checker, std::uint32_t address) {
    std::lock_guard<std::mutex> held(checker.lock);
    if (const auto found = checker.pending.byAddress.find(address);
        found != checker.pending.byAddress.end()) {
        checker.rechecks.erase(found->second.id);
    }
    cancelCheck(checker.pending, address);
}

std::size_t checksInFlight(GameChecker& checker) {
    std::lock_guard<std::mutex> held(checker.lock);
    return checker.pending.byAddress.size();
}

void stopChecks(GameChecker& checker) {
    {
        std::lock_guard<std::mutex> held(checker.lock);
        checker.stopping = true;
    }
    checker.settled.notify_all();
}

}  // namespace brassmoor
