// The metrics endpoint on civetweb's own threads. prometheus-cpp's Exposer would serve /metrics
// alone; civetweb directly serves /healthz beside it from the same published figures.
#include "metrics_endpoint.h"

#include <array>
#include <cstring>

#include <civetweb.h>

#include "metrics_text.h"
#include "monotonic_clock.h"
#include "program_entry.h"

namespace brassmoor {
namespace {

// civetweb gives each connection a thread of its own from the moment it is accepted, and a client
// that connects and sends nothing holds that thread until its request times out; connections beyond
// the threads queue behind it. Anyone reaching the port can do that (a scanner, a stalled client),
// and a liveness probe stuck in the queue restarts a healthy game. So the request must come soon
// after connecting, as a probe's or a scraper's does at once (the wait still covers a lost segment
// resent at TCP's 200 ms minimum), and one round of such waits frees all the threads: with T threads
// and a wait W, /healthz answers within W beside fewer than 2T idle connections (15 here), within
// 2W beside fewer than 3T.
constexpr const char* ServingThreads = "8";
constexpr const char* RequestTimeoutMilliseconds = "500";
// No keep-alive: an open connection between scrapes would hold a thread for nothing.
constexpr const char* KeepAlive = "no";

bool isGet(mg_connection* connection) {
    const mg_request_info* request = mg_get_request_info(connection);
    const char* method = request->request_method;
    if (std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0) return true;
    mg_response_header_start(connection, 405);
    mg_response_header_add(connection, "Allow", "GET, HEAD", -1);
    mg_response_header_add(connection, "Content-Length", "0", -1);
    mg_response_header_send(connection);
    return false;
}

void sendBody(mg_connection* connection, int status, const char* contentType, const std::string& body) {
    mg_response_header_start(connection, status);
    mg_response_header_add(connection, "Content-Type", contentType, -1);
    mg_response_header_add(connection, "Content-Length", std::to_string(body.size()).c_str(), -1);
    mg_response_header_add(connection, "Cache-Control", "no-store", -1);
    mg_response_header_send(connection);
    if (std::strcmp(mg_get_request_info(connection)->request_method, "HEAD") != 0) {
        mg_write(connection, body.data(), body.size());
    }
}

int serveMetrics(mg_connection* connection, void* data) {
    if (!isGet(connection)) return 405;
    const ServerFigures figures = readFigures(*static_cast<FiguresSlot*>(data)).figures;
    sendBody(connection, 200, MetricsContentType, metricsText(figures, formatVersion(projectVersion())));
    return 200;
}

int serveHealth(mg_connection* connection, void* data) {
    if (!isGet(connection)) return 405;
    const ServerFigures figures = readFigures(*static_cast<FiguresSlot*>(data)).figures;
    const bool onTime = ticksOnTime(figures, monotonicSeconds());
    const int status = onTime ? 200 : 503;
    sendBody(connection, status, "text/plain; charset=utf-8", onTime ? "ok\n" : "ticks are late\n");
    return status;
}

int noteComplaint(const mg_connection* connection, const char* message) {
    const mg_context* context = connection != nullptr ? mg_get_context(connection) : nullptr;
    auto* endpoint = context != nullptr ? static_cast<MetricsEndpoint*>(mg_get_user_data(context)) : nullptr;
    if (endpoint != nullptr && endpoint->starting.load() && endpoint->startComplaint.empty()) {
        endpoint->startComplaint = message;
    }
    return 1;  // handled: civetweb writes no log of its own
}

}  // namespace

bool startMetricsEndpoint(const Ipv4Endpoint& at, FiguresSlot& slot, MetricsEndpoint& endpoint,
                          std::string& error) {
    mg_init_library(0);
    const std::string listening = formatIpv4Endpoint(at);
    const char* options[] = {
        "listening_ports",          listening.c_str(),   "num_threads", ServingThreads, "request_timeout_ms",
        RequestTimeoutMilliseconds, "enable_keep_alive", KeepAlive,     nullptr};
    mg_callbacks callbacks{};
    callbacks.log_message = noteComplaint;
    mg_init_data init{&callbacks, &endpoint, options};
    std::array<char, 256> text{};
    unsigned code = 0;
    mg_error_data failure{&code, text.data(), text.size()};
    endpoint.starting.store(true);
    endpoint.context = mg_start2(&init, &failure);
    endpoint.starting.store(false);
    if (endpoint.context == nullptr) {
        // civetweb's complaint names the address; its error text alone does not.
        error = !endpoint.startComplaint.empty() ? "cannot serve metrics: " + endpoint.startComplaint
                                                 : "cannot serve metrics on " + listening + ": " +
                                                       (text[0] != '\0' ? text.data() : "civetweb failed");
        mg_exit_library();
        return false;
    }
    // Exact paths: "$" keeps /metrics/x and the like out.
    mg_set_request_handler(endpoint.context, "/metrics$", serveMetrics, &slot);
    mg_set_request_handler(endpoint.context, "/healthz$", serveHealth, &slot);
    return true;
}

void stopMetricsEndpoint(MetricsEndpoint& endpoint) {
    if (endpoint.context == nullptr) return;
    mg_stop(endpoint.context);
    endpoint.context = nullptr;
    mg_exit_library();
}

}  // namespace brassmoor
