// The list fetcher's thread and the state it shares with its owner under one mutex.
#include "list_fetcher.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "http_client.h"

namespace brassmoor {

struct ListFetcherShared {
    std::mutex lock;
    std::condition_variable wake;
    std::vector<std::string> urls;
    bool fetchNow = true;
    bool forgetTags = false;
    bool fetching = false;
    std::vector<ListRead> reads;
    std::atomic<bool> stop{false};
};

namespace {

ListRead fetchList(const std::string& url, const std::string& etag, const std::atomic<bool>& stop) {
    HttpRequest request;
    request.url = gamesUrl(url);
    request.ifNoneMatch = etag;
    request.timeoutMilliseconds = ListTimeoutMilliseconds;
    request.maxBodyBytes = MaxListBytes;
    request.abandon = &stop;
    return ListRead{url, readGameListAnswer(sendHttpRequest(request))};
}

void fetchLoop(const std::shared_ptr<ListFetcherShared>& shared) {
    std::map<std::string, std::string> tags;  // each list's latest ETag; the thread's alone
    const auto period = std::chrono::milliseconds(static_cast<long>(ListRefreshSeconds * 1000.0));
    std::unique_lock<std::mutex> held(shared->lock);
    while (!shared->stop) {
        shared->wake.wait_for(held, period, [&] { return shared->fetchNow || shared->stop; });
        if (shared->stop) break;
        shared->fetchNow = false;
        if (shared->forgetTags) tags.clear();
        shared->forgetTags = false;
        const std::vector<std::string> urls = shared->urls;
        shared->fetching = true;
        held.unlock();
        for (const std::string& url : urls) {
            if (shared->stop) break;
            ListRead read = fetchList(url, tags[url], shared->stop);
            if (read.read.ok && !read.read.unchanged) tags[url] = read.read.etag;
            const std::lock_guard<std::mutex> handing(shared->lock);
            shared->reads.push_back(std::move(read));
        }
        held.lock();
        shared->fetching = false;
    }
}

}  // namespace

bool startListFetcher(ListFetcher& fetcher, const std::vector<std::string>& urls, std::string& error) {
    if (!startHttpClient(error)) return false;
    fetcher.shared = std::make_shared<ListFetcherShared>();
    fetcher.shared->urls = urls;
    fetcher.thread = std::thread(fetchLoop, fetcher.shared);
    return true;
}

void setFetchedLists(ListFetcher& fetcher, const std::vector<std::string>& urls) {
    if (!fetcher.shared) return;
    {
        const std::lock_guard<std::mutex> held(fetcher.shared->lock);
        fetcher.shared->urls = urls;
        fetcher.shared->fetchNow = true;
        fetcher.shared->forgetTags = true;
    }
    fetcher.shared->wake.notify_one();
}

void fetchListsNow(ListFetcher& fetcher) {
    if (!fetcher.shared) return;
    {
        const std::lock_guard<std::mutex> held(fetcher.shared->lock);
        fetcher.shared->fetchNow = true;
    }
    fetcher.shared->wake.notify_one();
}

std::vector<ListRead> takeFetchedLists(ListFetcher& fetcher) {
    std::vector<ListRead> reads;
    if (!fetcher.shared) return reads;
    const std::lock_guard<std::mutex> held(fetcher.shared->lock);
    reads.swap(fetcher.shared->reads);
    return reads;
}

bool listFetchBusy(ListFetcher& fetcher) {
    if (!fetcher.shared) return false;
    const std::lock_guard<std::mutex> held(fetcher.shared->lock);
    return fetcher.shared->fetching || fetcher.shared->fetchNow;
}

void stopListFetcher(ListFetcher& fetcher) {
    if (!fetcher.shared) return;
    {
        const std::lock_guard<std::mutex> held(fetcher.shared->lock);
        fetcher.shared->stop = true;
    }
    fetcher.shared->wake.notify_one();
    if (fetcher.thread.joinable()) fetcher.thread.join();
    fetcher.shared.reset();
    stopHttpClient();
}

}  // namespace brassmoor
