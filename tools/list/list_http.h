// The list's HTTP side on civetweb's threads: the API, the page, /metrics and /healthz.
#pragma once

#include <atomic>
#include <string>

#include "ipv4_endpoint.h"
#include "list_service.h"

struct mg_context;

namespace brassmoor {

struct ListHttp {
    mg_context* context = nullptr;  // null: not serving
    // civetweb's first complaint while starting (the address it could not bind, and why).
    std::atomic<bool> starting{false};
    std::string startComplaint;
};

// Serves on `at` (TCP). False, with `error` set to one line, when it cannot. `service` must outlive it.
bool startListHttp(const Ipv4Endpoint& at, ListService& service, ListHttp& http, std::string& error);

// Stops serving and waits for requests in flight (wake the announcers first); nothing when not serving.
void stopListHttp(ListHttp& http);

}  // namespace brassmoor
