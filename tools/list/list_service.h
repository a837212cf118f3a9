// What the list does, apart from HTTP: announcements checked and stored, removals, the rechecks on the
// checker's thread and the store read back into the list shown on the keeper's thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "game_checker.h"
#include "game_store.h"
#include "list_metrics.h"
#include "list_options.h"
#include "list_view.h"
#include "rate_limiter.h"
#include "store_health.h"

namespace brassmoor {

struct ListService {
    ListOptions options;
    GameStore* store = nullptr;  // owned by the caller, outliving the service
    std::FILE* log = stdout;
    StoreHealth health;
    ListView view;
    GameChecker checker;
    std::mutex limiterLock;
    RateLimiter limiter;
    std::array<std::atomic<std::uint64_t>, AnnounceOutcomeCount> outcomes{};
    std::atomic<std::uint64_t> removals{0};

    std::mutex keeperLock;
    std::condition_variable keeperWake;
    bool readSoon = false;  // a game was listed here: read the store again without waiting the second
    bool stopping = false;
    std::thread keeper;
    std::thread checkerThread;
};

// Opens the check socket, reads the store once (a store not reached yet is one line, and tried again
// each second) and starts the threads. False, with `error`, when the socket cannot be opened.
bool startListService(ListService& service, std::string& error);
// Wakes every announcement still waiting for its check, so that HTTP can stop.
void wakeAnnouncers(ListService& service);
// Stops and joins the threads; after wakeAnnouncers and once no request is being served.
void stopListService(ListService& service);

// A response: status, JSON body and, with 429 and 503, the seconds to wait before trying again.
struct ListReply {
    int status = 200;
    std::string body;
    int retryAfterSeconds = 0;
};

// POST /v1/announce from `peer` (host order) with its X-Forwarded-For lines. Waits for the check.
ListReply announceGame(ListService& service, std::uint32_t peer,
                       std::span<const std::string_view> forwardedFor, std::string_view body,
                       bool bodyTooLarge);
// DELETE /v1/announce: removes the caller's own game from the store and from the list shown, at once.
ListReply withdrawGame(ListService& service, std::uint32_t peer,
                       std::span<const std::string_view> forwardedFor);

ListFigures listFigures(ListService& service);

}  // namespace brassmoor
