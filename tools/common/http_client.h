// One HTTP or HTTPS request and its answer, blocking: for the threads that talk to list servers,
// never for a window's or a tick's. Bounded in time and in what it reads; certificates are checked
// against the system's store; IPv4 only, as the game is (a list server must see the IPv4 address a
// game is reached at). libcurl on Linux, WinHTTP on Windows: one file per system.
#pragma once

#include <atomic>
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
    // The local IPv4 address to connect from (a list server takes a game's address from the
    // connection); empty: the system's choice. Not on Windows, where a request naming one fails.
    std::string sourceAddress;
    // When it turns true the request is given up within about a second (a program that stops does
    // not wait for a slow server); null: never.
    const std::atomic<bool>* abandon = nullptr;
};

struct HttpResponse {
    bool answered = false;  // a whole answer came (any status); otherwise `error` says why
    int status = 0;
    std::string body;
    std::string etag;           // the ETag header, when there was one
    int retryAfterSeconds = 0;  // the Retry-After header in seconds (a 429's or 503's); 0: none
    std::string error;  // a few words: "cannot connect: ...", "timed out after 5 s", "certificate ...", ...
};

// Readies the library once, before any request (on the main thread); false, with `error` set, when
// it cannot. stopHttpClient after the last.
bool startHttpClient(std::string& error);
void stopHttpClient();

HttpResponse sendHttpRequest(const HttpRequest& request);

}  // namespace brassmoor
