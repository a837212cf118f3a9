// The HTTP endpoint of --metrics: GET /metrics and GET /healthz, served on threads of its own from
// what the tick loop last published, never from the loop's own state.
#pragma once

#include <atomic>
#include <string>

#include "figures_slot.h"
#include "ipv4_endpoint.h"

struct mg_context;

namespace brassmoor {

struct MetricsEndpoint {
    mg_context* context = nullptr;  // null: not serving
    // civetweb's first complaint while starting (which address it could not bind, and why);
    // afterwards it says nothing, so its threads never write here.
    std::atomic<bool> starting{false};
    std::string startComplaint;
};

// Starts serving on `at` (TCP). False, with `error` set to one line, when it cannot: the address
// is taken, or this build has no HTTP server. `slot` must outlive the endpoint.
bool startMetricsEndpoint(const Ipv4Endpoint& at, FiguresSlot& slot, MetricsEndpoint& endpoint,
                          std::string& error);

// Stops serving and waits for requests in flight; nothing when not serving.
void stopMetricsEndpoint(MetricsEndpoint& endpoint);

}  // namespace brassmoor
