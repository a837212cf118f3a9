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

AnnouncementMade announceIfDue(ListLink& link, bool serving, const std::atomic<bool>& abandon) {
    if (!serving || link.withdrawn || abandon.load()) return {};
    const auto due = [now = monotonicSeconds()](const ListStanding& list) {
        return announcementDue(list, now);
    };
    const auto list = std::find_if(link.lists.begin(), link.lists.end(), due);
    if (list == link.lists.end()) return {};
    AnnouncementMade made{true, static_cast<std::size_t>(list - link.lists.begin()), {}};
    const HttpResponse response = announceTo(list->url, link.source, abandon);
    if (abandon.load()) return made;
    made.line = announcementAnswered(*list, readAnnouncementAnswer(response), monotonicSeconds());
    return made;
}

std::vector<std::string> withdrawFromLists(ListLink& link) {
    std::vector<std::string> lines;
    if (link.withdrawn) return lines;
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
        lines.push_back(withdrawalAnswered(list, response));
    }
    return lines;
}

}  // namespace brassmoor
