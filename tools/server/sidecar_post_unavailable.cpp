// The sidecar's calls where the build has no HTTP client (Windows): the server says so and stops.
#include "sidecar_post.h"

namespace brassmoor {

bool postToSidecar(std::uint16_t, const char*, std::string& failure) {
    failure = "no HTTP client in this build";
    return false;
}

bool startSidecarCalls(std::string& error) {
    error =
        "AGONES_SDK_HTTP_PORT is set, but this build cannot talk to the sidecar (it needs civetweb, on "
        "Linux)";
    return false;
}

void stopSidecarCalls() {}

}  // namespace brassmoor
