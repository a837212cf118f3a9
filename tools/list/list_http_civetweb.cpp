// The HTTP edge on civetweb: routes, bounded bodies, cache headers and the page's policy; the work
// itself is the service's.
//
// Idle connections: civetweb gives each connection a thread while it is served, so the threads are
// many and an idle connection is let go soon (RequestTimeout for a request's headers and body, the
// keep-alive wait for the next request). It then takes more than ServingThreads connections held
// open at once, renewed every few seconds, to keep others waiting; a front such as nginx, which
// reads whole requests before passing them on, takes even that away.
#include "list_http.h"

#include <array>
#include <cstring>
#include <vector>

#include <civetweb.h>

#include "announcement.h"
#include "list_pages.h"
#include "program_entry.h"

namespace brassmoor {
namespace {

constexpr const char* ServingThreads = "128";
constexpr const char* RequestTimeoutMilliseconds = "3000";
constexpr const char* KeepAliveMilliseconds = "2000";
constexpr const char* ListMaxAge = "public, max-age=5";

bool isMethod(mg_connection* connection, const char* method) {
    return std::strcmp(mg_get_request_info(connection)->request_method, method) == 0;
}

void startResponse(mg_connection* connection, int status, const char* contentType, std::size_t length) {
    mg_response_header_start(connection, status);
    if (contentType != nullptr) mg_response_header_add(connection, "Content-Type", contentType, -1);
    mg_response_header_add(connection, "Content-Length", std::to_string(length).c_str(), -1);
    mg_response_header_add(connection, "X-Content-Type-Options", "nosniff", -1);
}

void finish(mg_connection* connection, std::string_view body) {
    mg_response_header_send(connection);
    if (!isMethod(connection, "HEAD")) mg_write(connection, body.data(), body.size());
}

int refuseMethod(mg_connection* connection, const char* allowed) {
    const std::string body = notListedReply(std::string("use ") + allowed);
    startResponse(connection, 405, "application/json", body.size());
    mg_response_header_add(connection, "Allow", allowed, -1);
    finish(connection, body);
    return 405;
}

bool isRead(mg_connection* connection) {
    return isMethod(connection, "GET") || isMethod(connection, "HEAD");
}

// GET with a tag: 304 when the client's copy is current.
int serveTagged(mg_connection* connection, const char* contentType, const std::string& body,
                const std::string& tag, bool page) {
    if (!isRead(connection)) return refuseMethod(connection, "GET, HEAD");
    const char* ifNoneMatch = mg_get_header(connection, "If-None-Match");
    const bool current = ifNoneMatch != nullptr && tagMatches(ifNoneMatch, tag);
    const int status = current ? 304 : 200;
    mg_response_header_start(connection, status);
    if (!current) {
        mg_response_header_add(connection, "Content-Type", contentType, -1);
        mg_response_header_add(connection, "Content-Length", std::to_string(body.size()).c_str(), -1);
    }
    mg_response_header_add(connection, "ETag", tag.c_str(), -1);
    mg_response_header_add(connection, "Cache-Control", ListMaxAge, -1);
    mg_response_header_add(connection, "X-Content-Type-Options", "nosniff", -1);
    if (page) {
        mg_response_header_add(connection, "Content-Security-Policy", PageSecurityPolicy, -1);
        mg_response_header_add(connection, "Referrer-Policy", "no-referrer", -1);
    } else {
        // Public data: a launcher running in a browser may read it too.
        mg_response_header_add(connection, "Access-Control-Allow-Origin", "*", -1);
    }
    mg_response_header_send(connection);
    if (!current && !isMethod(connection, "HEAD")) mg_write(connection, body.data(), body.size());
    return status;
}

ListService& serviceOf(void* data) {
    return *static_cast<ListService*>(data);
}

int serveGames(mg_connection* connection, void* data) {
    const auto list = shownList(serviceOf(data).view);
    return serveTagged(connection, "application/json", list->json, list->jsonTag, false);
}

int servePage(mg_connection* connection, void* data) {
    const auto list = shownList(serviceOf(data).view);
    return serveTagged(connection, "text/html; charset=utf-8", list->html, list->htmlTag, true);
}

int serveStylesheet(mg_connection* connection, void*) {
    if (!isRead(connection)) return refuseMethod(connection, "GET, HEAD");
    const std::string_view sheet = listStylesheet();
    startResponse(connection, 200, "text/css; charset=utf-8", sheet.size());
    mg_response_header_add(connection, "Cache-Control", "public, max-age=3600", -1);
    finish(connection, sheet);
    return 200;
}

int serveMetrics(mg_connection* connection, void* data) {
    if (!isRead(connection)) return refuseMethod(connection, "GET, HEAD");
    const std::string text = listMetricsText(listFigures(serviceOf(data)), formatVersion(projectVersion()));
    startResponse(connection, 200, ListMetricsContentType, text.size());
    mg_response_header_add(connection, "Cache-Control", "no-store", -1);
    finish(connection, text);
    return 200;
}

int serveHealth(mg_connection* connection, void* data) {
    if (!isRead(connection)) return refuseMethod(connection, "GET, HEAD");
    const bool up = serviceOf(data).health.up.load();
    const std::string_view text = up ? "ok\n" : "the store cannot be reached\n";
    const int status = up ? 200 : 503;
    startResponse(connection, status, "text/plain; charset=utf-8", text.size());
    mg_response_header_add(connection, "Cache-Control", "no-store", -1);
    finish(connection, text);
    return status;
}

// Reads the body, at most MaxAnnouncementBytes; false when it is longer (then it is not read whole).
bool readBody(mg_connection* connection, std::string& body) {
    const long long told = mg_get_request_info(connection)->content_length;
    if (told > static_cast<long long>(MaxAnnouncementBytes)) return false;
    std::array<char, MaxAnnouncementBytes + 1> buffer{};
    std::size_t got = 0;
    while (got < buffer.size()) {
        const int n = mg_read(connection, buffer.data() + got, buffer.size() - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > MaxAnnouncementBytes) return false;
    body.assign(buffer.data(), got);
    return true;
}

int serveAnnounce(mg_connection* connection, void* data) {
    const bool announcing = isMethod(connection, "POST");
    if (!announcing && !isMethod(connection, "DELETE")) return refuseMethod(connection, "POST, DELETE");
    const mg_request_info* request = mg_get_request_info(connection);
    std::uint32_t peer = 0;
    if (!parseIpv4Address(request->remote_addr, peer)) {
        // The list listens on IPv4 alone; this is only for certain.
        const std::string body = notListedReply("the list takes announcements over IPv4 only");
        startResponse(connection, 400, "application/json", body.size());
        finish(connection, body);
        return 400;
    }
    std::vector<std::string_view> forwardedFor;
    for (int i = 0; i < request->num_headers; ++i) {
        if (strcasecmp(request->http_headers[i].name, "X-Forwarded-For") == 0) {
            forwardedFor.emplace_back(request->http_headers[i].value);
        }
    }
    ListReply reply;
    bool unread = false;
    if (announcing) {
        std::string body;
        unread = !readBody(connection, body);
        reply = announceGame(serviceOf(data), peer, forwardedFor, body, unread);
    } else {
        reply = withdrawGame(serviceOf(data), peer, forwardedFor);
    }
    startResponse(connection, reply.status, "application/json", reply.body.size());
    mg_response_header_add(connection, "Cache-Control", "no-store", -1);
    if (reply.retryAfterSeconds > 0) {
        mg_response_header_add(connection, "Retry-After", std::to_string(reply.retryAfterSeconds).c_str(),
                               -1);
    }
    // What is left of a body too long to read would be taken for the next request.
    if (unread) mg_response_header_add(connection, "Connection", "close", -1);
    finish(connection, reply.body);
    return reply.status;
}

int serveNotFound(mg_connection* connection, void*) {
    const std::string_view text =
        "not found: the list serves /, /v1/games, /v1/announce, /metrics and /healthz\n";
    startResponse(connection, 404, "text/plain; charset=utf-8", text.size());
    finish(connection, text);
    return 404;
}

int noteComplaint(const mg_connection* connection, const char* message) {
    const mg_context* context = connection != nullptr ? mg_get_context(connection) : nullptr;
    auto* http = context != nullptr ? static_cast<ListHttp*>(mg_get_user_data(context)) : nullptr;
    if (http != nullptr && http->starting.load() && http->startComplaint.empty())
        http->startComplaint = message;
    return 1;  // handled: civetweb writes no log of its own
}

}  // namespace

bool startListHttp(const Ipv4Endpoint& at, ListService& service, ListHttp& http, std::string& error) {
    mg_init_library(0);
    const std::string listening = formatIpv4Endpoint(at);
    const char* options[] = {"listening_ports",
                             listening.c_str(),
                             "num_threads",
                             ServingThreads,
                             "request_timeout_ms",
                             RequestTimeoutMilliseconds,
                             "enable_keep_alive",
                             "yes",
                             "keep_alive_timeout_ms",
                             KeepAliveMilliseconds,
                             nullptr};
    mg_callbacks callbacks{};
    callbacks.log_message = noteComplaint;
    mg_init_data init{&callbacks, &http, options};
    std::array<char, 256> text{};
    unsigned code = 0;
    mg_error_data failure{&code, text.data(), text.size()};
    http.starting.store(true);
    http.context = mg_start2(&init, &failure);
    http.starting.store(false);
    if (http.context == nullptr) {
        error = !http.startComplaint.empty() ? "cannot serve HTTP: " + http.startComplaint
                                             : "cannot serve HTTP on " + listening + ": " +
                                                   (text[0] != '\0' ? text.data() : "civetweb failed");
        mg_exit_library();
        return false;
    }
    // Exact paths ("$"), and everything else one plain 404: civetweb takes the first handler that
    // matches, so the catch-all comes last.
    mg_set_request_handler(http.context, "/$", servePage, &service);
    mg_set_request_handler(http.context, "/list.css$", serveStylesheet, &service);
    mg_set_request_handler(http.context, "/v1/games$", serveGames, &service);
    mg_set_request_handler(http.context, "/v1/announce$", serveAnnounce, &service);
    mg_set_request_handler(http.context, "/metrics$", serveMetrics, &service);
    mg_set_request_handler(http.context, "/healthz$", serveHealth, &service);
    mg_set_request_handler(http.context, "**", serveNotFound, &service);
    return true;
}

void stopListHttp(ListHttp& http) {
    if (http.context == nullptr) return;
    mg_stop(http.context);
    http.context = nullptr;
    mg_exit_library();
}

}  // namespace brassmoor
