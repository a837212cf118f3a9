// The list servers' calls where the build makes none (Windows): --list-server says so and stops.
#include "list_calls.h"

namespace brassmoor {

bool startListCalls(std::string& error) {
    error = "--list-server is not in this build (announcing to list servers needs libcurl, on Linux)";
    return false;
}

void stopListCalls() {}

HttpResponse announceTo(const std::string&, const std::string&, const std::atomic<bool>&) {
    HttpResponse response;
    response.error = "no HTTP client in this build";
    return response;
}

HttpResponse withdrawFrom(const std::string&, const std::string&, int) {
    HttpResponse response;
    response.error = "no HTTP client in this build";
    return response;
}

}  // namespace brassmoor
