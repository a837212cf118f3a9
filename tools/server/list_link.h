// The list servers' kind of call on the watchers' thread: each list announced to as its schedule
// asks once the game serves, and the game withdrawn from those that listed it at the end.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "list_announcement.h"

namespace brassmoor {

// The withdrawals at the end take this long at most in all, so a dead list never holds the exit.
inline constexpr double WithdrawSeconds = 3.0;

struct ListLink {
    std::vector<ListStanding> lists;
    // The address the server is bound to, when it is one: the announcements come from it, since a
    // list checks the game at the address an announcement comes from. Empty for 0.0.0.0.
    std::string source;
    bool withdrawn = false;  // the game has been withdrawn: nothing more is announced
};

ListLink listLinkFor(const std::vector<std::string>& urls, const std::string& bindAddress);

// Makes one announcement that is due, if the game serves and one is; true when it made one.
// `abandon` gives up an announcement in flight (its answer is then not taken).
bool announceIfDue(ListLink& link, bool serving, const std::atomic<bool>& abandon, std::FILE* log);

// Withdraws the game from each list that has listed it, the first time it is called; one line each.
void withdrawFromLists(ListLink& link, std::FILE* log);

}  // namespace brassmoor
