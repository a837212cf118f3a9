// The watchers' thread: polls the published figures, makes the calls each kind's schedule asks for.
#include "watchers_thread.h"

#include <chrono>

#include "list_calls.h"
#include "sidecar_link.h"
#include "sidecar_post.h"

namespace brassmoor {
namespace {

void logLine(std::FILE* log, const std::string& line) {
    if (!line.empty() && log != nullptr) std::fprintf(log, "%s\n", line.c_str());
}

void withdraw(WatchersThread& watchers, std::FILE* log) {
    for (const std::string& line : withdrawFromLists(watchers.lists))
        logLine(log, line);
}

// How often the thread looks at the published figures: well inside a second's retry.
constexpr auto PollInterval = std::chrono::milliseconds(50);

// Each kind of call keeps its own schedule and is asked in turn, the sidecar first (so it hears of
// the session's end before the lists are withdrawn from); the thread sleeps when none is due.
void watch(WatchersThread& watchers, FiguresSlot& slot, std::FILE* log) {
    SidecarSchedule sidecar;
    while (!watchers.stop.load()) {
        const PublishedFigures published = readFigures(slot);
        bool called = false;
        if (watchers.sidecarPort) {
            called = callSidecarIfDue(*watchers.sidecarPort, sidecar, published, log);
            if (sidecar.shutdownDone) watchers.shutdownDone.store(true);
        }
        if (published.sessionOver && !watchers.lists.withdrawn) {
            withdraw(watchers, log);
            called = true;
        } else if (const AnnouncementMade made =
                       announceIfDue(watchers.lists, published.figures.ticks > 0, watchers.ending);
                   made.made) {
            logLine(log, made.line);
            called = true;
        }
        if (!called) std::this_thread::sleep_for(PollInterval);
    }
    withdraw(watchers, log);
}

}  // namespace

bool startWatchersThread(std::optional<std::uint16_t> sidecarPort,
                         const std::vector<std::string>& listServers, const std::string& bindAddress,
                         FiguresSlot& slot, std::FILE* log, WatchersThread& watchers, std::string& error) {
    if (!sidecarPort && listServers.empty()) return true;
    if (sidecarPort) {
        if (!startSidecarCalls(error)) return false;
        watchers.sidecarCalls = true;
    }
    if (!listServers.empty()) {
        if (!startListCalls(error)) return false;
        watchers.listCalls = true;
    }
    watchers.sidecarPort = sidecarPort;
    watchers.lists = listLinkFor(listServers, bindAddress);
    watchers.thread = std::thread(watch, std::ref(watchers), std::ref(slot), log);
    return true;
}

void endWatchedSession(WatchersThread& watchers) {
    watchers.ending.store(true);
}

void stopWatchersThread(WatchersThread& watchers) {
    if (watchers.thread.joinable()) {
        watchers.ending.store(true);
        watchers.stop.store(true);
        watchers.thread.join();
    }
    if (watchers.listCalls) stopListCalls();
    if (watchers.sidecarCalls) stopSidecarCalls();
    watchers.listCalls = watchers.sidecarCalls = false;
}

}  // namespace brassmoor
