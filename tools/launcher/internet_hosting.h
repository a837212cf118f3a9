// A game hosted here made reachable from the Internet, on a thread of its own (never the window's):
// the home router asked to forward the game's UDP port to this computer, with a lease it renews;
// the game announced to the list servers with the server's own announcement code; and at the end
// the game withdrawn and the mapping removed. Its owner takes the lines to tell as they come.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brassmoor {

struct InternetNews {
    std::string line;
    bool trouble = false;  // something did not work: the player has something to do about it
};

struct InternetHosting {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};  // withdrawn and unmapped: joining it waits no more
    bool listCalls = false;             // the HTTP client was readied for it
    std::mutex lock;
    std::vector<InternetNews> news;  // not taken yet
    // The latest word of the router (first) and of each list, for the window to keep in view.
    std::vector<InternetNews> standing;
};

// Starts the thread for the game on `port` and the `listServers` (checked URLs, at least one).
// False, with `error` set, when the HTTP client cannot be readied; nothing is left running then.
bool startInternetHosting(const std::vector<std::string>& listServers, std::uint16_t port,
                          InternetHosting& hosting, std::string& error);

// The lines told since the last call, oldest first.
std::vector<InternetNews> takeInternetNews(InternetHosting& hosting);
std::vector<InternetNews> internetStanding(InternetHosting& hosting);

// What the player is told as it starts.
std::string internetHostingNews(std::uint16_t port, const std::vector<std::string>& listServers);

// Asks the thread to withdraw the game, remove the mapping and end; returns at once.
void askInternetHostingToStop(InternetHosting& hosting);
bool internetHostingFinished(const InternetHosting& hosting);

// Asks it to stop and waits for it: within WithdrawSeconds for the lists and a few seconds for the
// router.
void stopInternetHosting(InternetHosting& hosting);

}  // namespace brassmoor
