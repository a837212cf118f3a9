// The calls to list servers as the announcement schedule asks for them, made by whichever thread of
// a program talks to the outside (the server's watchers' thread, the launcher's hosting thread):
// each list announced to as it is due while the game serves, and the game withdrawn from those that
// listed it at the end.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "list_announcement.h"

namespace brassmoor {

// The withdrawals at the end take this long at most in all, so a dead list never holds the exit.
inline constexpr double WithdrawSeconds = 3.0;

struct ListLink {
    std::vector<ListStanding> lists;
    // The address the game is bound to, when it is one: the announcements come from it, since a
    // list checks the game at the address an announcement comes from. Empty for 0.0.0.0.
    std::string source;
    bool withdrawn = false;  // the game has been withdrawn: nothing more is announced
};

ListLink listLinkFor(const std::vector<std::string>& urls, const std::string& bindAddress);

// What one call to announceIfDue did.
struct AnnouncementMade {
    bool made = false;     // an announcement was made
    std::size_t list = 0;  // to link.lists[list]
    std::string line;      // the line to log when what that list says changed; otherwise empty
};

// Makes one announcement that is due, if the game serves and one is. `abandon` gives up an
// announcement in flight (its answer is then not taken).
AnnouncementMade announceIfDue(ListLink& link, bool serving, const std::atomic<bool>& abandon);

// Withdraws the game from each list that has listed it, the first time it is called; a line each.
std::vector<std::string> withdrawFromLists(ListLink& link);

}  // namespace brassmoor
