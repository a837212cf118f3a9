// The list servers' calls as the announcement schedule asks for them.
#include "list_link.h"

#include <algorithm>

#include "list_calls.h"
#include "monotonic_clock.h"

namespace brassmoor {
namespace {

// One list's withdrawal is waited for this long at most, and not tried with less than the least.
constexpr int WithdrawAtMostMilliseconds = 2000;
constexpr int WithdrawAtLeastMilliseconds = 100;

void logLine(std::FILE* log, const std::string& line) {
    if (!line.empty() && log != nullptr) std::fprintf(log, "%s\n", line.c_str());
}

}  // namespace

ListLink listLinkFor(const std::vector<std::string>& urls, const std::string& bindAddress) {
    ListLink link;
    for (const std::string& url : urls) {
        ListStanding list;
        list.url = url;
        link.lists.push_back(std::move(list));
    }
    if (bindAddress != "0.0.0.0") link.source = bindAddress;
    return link;
}

bool announceIfDue(ListLink& link, bool serving, const std::atomic<bool>& abandon, std::FILE* log) {
    if (!serving || link.withdrawn || abandon.load()) return false;
    const auto due = [now = monotonicSeconds()](const ListStanding& list) {
        return announcementDue(list, now);
    };
    const auto list = std::find_if(link.lists.begin(), link.lists.end(), due);
    if (list == link.lists.end()) return false;
    const HttpResponse response = announceTo(list->url, link.source, abandon);
    if (abandon.load()) return true;
    logLine(log, announcementAnswered(*list, readAnnouncementAnswer(response), monotonicSeconds()));
    return true;
}

void withdrawFromLists(ListLink& link, std::FILE* log) {
    if (link.withdrawn) return;
    link.withdrawn = true;
    const double deadline = monotonicSeconds() + WithdrawSeconds;
    for (ListStanding& list : link.lists) {
        if (!list.listedOnce) continue;
        const int left = static_cast<int>((deadline - monotonicSeconds()) * 1000.0);
        HttpResponse response;
        if (left < WithdrawAtLeastMilliseconds) {
            response.error = "no time was left";
        } else {
            response = withdrawFrom(list.url, link.source, std::min(left, WithdrawAtMostMilliseconds));
        }
        logLine(log, withdrawalAnswered(list, response));
    }
}

}  // namespace brassmoor
