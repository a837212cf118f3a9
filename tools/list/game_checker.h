// The list's own UDP socket and the checks sent from it: an announcer's thread waits for its game's
// answer (or the check's time to pass), and the checker's thread takes every answer off the socket,
// settles checks and hands recheck answers back to be stored. Queries go only to addresses given here,
// which the caller took from a connection (or from a recheck of a game so listed).
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "list_metrics.h"
#include "net/socket_layer.h"
#include "pending_checks.h"

namespace brassmoor {

struct GameChecker {
    SocketHandle socket = InvalidSocketHandle;
    std::mutex lock;
    std::condition_variable settled;
    PendingChecks pending;
    std::unordered_map<std::uint64_t, int> waiters;            // check id -> announcers waiting on it
    std::unordered_map<std::uint64_t, CheckOutcome> outcomes;  // settled checks that announcers wait on
    std::unordered_set<std::uint64_t> rechecks;                // checks the schedule sent
    bool stopping = false;
    std::array<std::atomic<std::uint64_t>, 2> sent{};      // by CheckKind
    std::array<std::atomic<std::uint64_t>, 2> answered{};  // by CheckKind
};

// Opens the socket, bound to `localAddress` (host order; 0 for any) on a port the system picks.
bool openChecker(GameChecker& checker, std::uint32_t localAddress, std::string& error);
void closeChecker(GameChecker& checker);

enum class CheckResult { Answered, NoAnswer, Busy, SendFailed, Stopping };
struct GameCheck {
    CheckResult result = CheckResult::NoAnswer;
    ServerInfo info;        // with Answered
    std::string sendError;  // with SendFailed
};

// Asks the game at `address`:40123 and waits for the outcome: an answer with the nonce, or
// CheckTimeoutSeconds without one. Shares a check of that address already under way.
GameCheck checkGame(GameChecker& checker, std::uint32_t address);

// One turn of the checker's thread: waits up to `waitMilliseconds` for datagrams, takes them all, and
// settles the checks they answer and the checks whose time is up. Answers to rechecks are added to
// `recheckAnswers`. False when waiting on the socket failed.
bool serveChecks(GameChecker& checker, int waitMilliseconds, std::vector<CheckOutcome>& recheckAnswers);

// Sends the queries of rechecks this instance has claimed; one that finds the table full is skipped
// until the game's next recheck time.
void sendRechecks(GameChecker& checker, std::span<const std::uint32_t> addresses);

// Forgets any check of `address` (its game asked to leave), so that its answer is not taken.
void forgetChecks(GameChecker& checker, std::uint32_t address);

std::size_t checksInFlight(GameChecker& checker);

// Wakes every announcer still waiting, with Stopping.
void stopChecks(GameChecker& checker);

}  // namespace brassmoor
