// The list servers read on a worker thread of their own, never the window's: GET URL/v1/games of
// each list every ListRefreshSeconds and at once when asked, with the ETag of its last answer, each
// answer read there (game_list.h) and handed over to be taken without waiting.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "list_sources.h"

namespace brassmoor {

inline constexpr double ListRefreshSeconds = 60.0;

struct ListFetcherShared;

struct ListFetcher {
    std::shared_ptr<ListFetcherShared> shared;
    std::thread thread;
};

// Readies the HTTP client (on the calling thread, before any other) and starts the thread, which
// reads `urls` at once. False, with `error` set to one line, when the client cannot start.
bool startListFetcher(ListFetcher& fetcher, const std::vector<std::string>& urls, std::string& error);

// The lists to read from now on, read at once (their ETags forgotten).
void setFetchedLists(ListFetcher& fetcher, const std::vector<std::string>& urls);
// Every list read again at once (Refresh).
void fetchListsNow(ListFetcher& fetcher);
// The answers read since the last call; never waits.
std::vector<ListRead> takeFetchedLists(ListFetcher& fetcher);
// True while a list is being read or due to be read at once.
bool listFetchBusy(ListFetcher& fetcher);

// Gives a request in flight up (within about a second) and ends the thread.
void stopListFetcher(ListFetcher& fetcher);

}  // namespace brassmoor
