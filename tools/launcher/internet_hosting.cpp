// The Internet hosting thread: the router first (a list checks the game through it), then each list
// as its schedule asks; at the end the lists withdrawn from and the router's mapping removed.
#include "internet_hosting.h"

#include <chrono>

#include "list_calls.h"
#include "list_link.h"
#include "local_networks.h"
#include "monotonic_clock.h"
#include "port_gateway.h"

namespace brassmoor {

namespace {

// How often the thread looks for a stop request or a call due, when none is.
constexpr auto PollInterval = std::chrono::milliseconds(50);

void tell(InternetHosting& hosting, std::size_t slot, const std::string& line, bool trouble) {
    if (line.empty()) return;
    const std::lock_guard<std::mutex> held(hosting.lock);
    hosting.news.push_back(InternetNews{line, trouble});
    if (slot < hosting.standing.size()) hosting.standing[slot] = InternetNews{line, trouble};
}

std::vector<std::uint32_t> localAddresses() {
    std::vector<std::uint32_t> addresses;
    for (const LocalNetwork& network : localNetworks())
        addresses.push_back(network.address);
    return addresses;
}

void host(InternetHosting& hosting, MappingStanding mapping, ListLink lists) {
    while (!hosting.stop.load()) {
        if (mappingDue(mapping, monotonicSeconds())) {
            const GatewayAnswer answer = askGateway(mapping.port, MappingLeaseSeconds, mapping.last);
            tell(hosting, 0, mappingAnswered(mapping, answer, monotonicSeconds()),
                 answer.outcome != MappingOutcome::Mapped);
            continue;
        }
        const AnnouncementMade made = announceIfDue(lists, true, hosting.stop);
        if (!made.made) {
            std::this_thread::sleep_for(PollInterval);
            continue;
        }
        const bool listed = lists.lists[made.list].listed;
        const std::string advice = listed || made.line.empty() ? "" : whatThePlayerCanDo(mapping);
        tell(hosting, 1 + made.list, made.line + (advice.empty() ? "" : "; " + advice), !listed);
    }
    for (const std::string& line : withdrawFromLists(lists))
        tell(hosting, SIZE_MAX, line, line.find(": not removed") != std::string::npos);
    if (mapping.last.outcome == MappingOutcome::Mapped) {
        std::string error;
        const bool removed = releaseGateway(mapping.last, mapping.port, error);
        tell(hosting, SIZE_MAX, unmappedLine(mapping, removed, error), !removed);
    }
    hosting.finished.store(true);
}

}  // namespace

bool startInternetHosting(const std::vector<std::string>& listServers, std::uint16_t port,
                          InternetHosting& hosting, std::string& error) {
    if (!startListCalls(error)) return false;
    hosting.listCalls = true;
    hosting.stop.store(false);
    hosting.finished.store(false);
    hosting.standing.assign(1 + listServers.size(), InternetNews{});
    // Bound to every address, as a hosted game is: the system picks the one the lists are reached from.
    hosting.thread = std::thread(host, std::ref(hosting), mappingFor(port, localAddresses()),
                                 listLinkFor(listServers, "0.0.0.0"));
    return true;
}

std::vector<InternetNews> takeInternetNews(InternetHosting& hosting) {
    std::vector<InternetNews> taken;
    const std::lock_guard<std::mutex> held(hosting.lock);
    taken.swap(hosting.news);
    return taken;
}

std::vector<InternetNews> internetStanding(InternetHosting& hosting) {
    const std::lock_guard<std::mutex> held(hosting.lock);
    return hosting.standing;
}

std::string internetHostingNews(std::uint16_t port, const std::vector<std::string>& listServers) {
    std::string lists;
    for (const std::string& url : listServers)
        lists += (lists.empty() ? "" : ", ") + url;
    return "listing the game on the Internet: asking the router to forward UDP port " + std::to_string(port) +
           " to this computer (UPnP IGD, NAT-PMP), then announcing it to " + lists;
}

void askInternetHostingToStop(InternetHosting& hosting) {
    hosting.stop.store(true);
}

bool internetHostingFinished(const InternetHosting& hosting) {
    return !hosting.thread.joinable() || hosting.finished.load();
}

void stopInternetHosting(InternetHosting& hosting) {
    if (hosting.thread.joinable()) {
        hosting.stop.store(true);
        hosting.thread.join();
    }
    if (hosting.listCalls) stopListCalls();
    hosting.listCalls = false;
}

}  // namespace brassmoor
