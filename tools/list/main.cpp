// brassmoor-list: the list server until a stop request (Ctrl-C or SIGTERM): HTTP on civetweb's threads,
// checks on a thread of their own, the store read back on another.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "ipv4_endpoint.h"
#include "list_http.h"
#include "list_options.h"
#include "list_service.h"
#include "memory_store.h"
#include "monotonic_clock.h"
#include "program_entry.h"
#include "redis_store.h"
#include "stop_request.h"

namespace brassmoor {
namespace {

int run(const ListOptions& options) {
    if (!installStopHandlers()) {
        std::fprintf(stderr, "brassmoor-list: cannot install signal handlers: %s\n",
                     stopHandlerError().c_str());
        return 1;
    }
    // A write to a Redis gone away must fail rather than end the list (civetweb ignores it too).
    std::signal(SIGPIPE, SIG_IGN);
    std::unique_ptr<GameStore> store;
    if (options.redis) {
        store = std::make_unique<RedisStore>(*options.redis);
    } else {
        store = std::make_unique<MemoryStore>(monotonicSeconds);
    }
    ListService service;
    service.options = options;
    service.store = store.get();
    std::string error;
    if (!startListService(service, error)) {
        std::fprintf(stderr, "brassmoor-list: %s\n", error.c_str());
        return 1;
    }
    ListHttp http;
    if (!startListHttp(options.listen, service, http, error)) {
        std::fprintf(stderr, "brassmoor-list: %s\n", error.c_str());
        stopListService(service);
        return 1;
    }
    const std::string kept = options.redis ? "Redis at " + formatRedisTarget(*options.redis) : "memory";
    std::printf("listening on http://%s (games kept in %s; --ttl %d s, --recheck %d s)\n",
                formatIpv4Endpoint(options.listen).c_str(), kept.c_str(), options.ttlSeconds,
                options.recheckSeconds);
    while (stopRequest() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::printf("stopping on signal %d\n", stopRequest());
    // Announcers waiting for checks are answered first, so that civetweb's threads can end.
    wakeAnnouncers(service);
    stopListHttp(http);
    stopListService(service);
    return 0;
}

}  // namespace
}  // namespace brassmoor

int main(int argc, char** argv) {
    return brassmoor::runHelperProgram(argc, argv, "brassmoor-list", brassmoor::listUsageText(),
                                       brassmoor::parseListOptions, brassmoor::run);
}
