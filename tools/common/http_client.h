// One HTTP or HTTPS request and its answer, blocking: for the threads that talk to list servers,
// never for a window's or a tick's. Bounded in time and in what it reads; certificates are checked
// against the system's store; IPv4 only, as the game is (a list server must see the IPv4 address a
// game is reached at). libcurl on Linux, WinHTTP on Windows: one file per system.
#pragma once

#include <cstddef>
#include <string>

namespace brassmoor {

struct HttpRequest {
    std::string method = "GET";  // GET, POST or DELETE
    std::string url;             // http:// or https:// only; redirects are not followed
    std::string body;            // sent with `contentType` when not empty
    std::string contentType = "application/json";
    std::string ifNoneMatch;             // an earlier answer's ETag: a 304 then says nothing changed
    int timeoutMilliseconds = 5000;      // for the whole exchange, connecting included
    std::size_t maxBodyBytes = 1 << 20;  // a longer answer is a failure, never read further
};

struct HttpResponse {
    bool answered = false;  // a whole answer came (any status); otherwise `error` says why
    int status = 0;
    std::string body;
    std::string etag;   // the ETag header, when there was one
    std::string error;  // a few words: "timed out after 5 s", "certificate ...", ...
};

// Readies the library once, before any request (on the main thread); false, with `error` set, when
// it cannot. stopHttpClient after the last.
bool startHttpClient(std::string& error);
void stopHttpClient();

HttpResponse sendHttpRequest(const HttpRequest& request);

}  // namespace brassmoor
