// The list servers' HTTP calls: through the shared HTTP client (list_calls_http.cpp, libcurl or
// WinHTTP); a program that makes none in some build (the server on Windows) has a file of its own
// that says so at the start.
#pragma once

#include <atomic>
#include <string>

#include "http_client.h"

namespace brassmoor {

// Readies the HTTP client before the first call (on the main thread); false, with `error` set,
// where this build cannot make the calls.
bool startListCalls(std::string& error);
void stopListCalls();

// POST URL/v1/announce with body {} from `source` (empty: whichever local address the system
// picks); given up when `abandon` turns true.
HttpResponse announceTo(const std::string& url, const std::string& source, const std::atomic<bool>& abandon);

// DELETE URL/v1/announce from `source`, waited for `timeoutMilliseconds` at most.
HttpResponse withdrawFrom(const std::string& url, const std::string& source, int timeoutMilliseconds);

}  // namespace brassmoor
