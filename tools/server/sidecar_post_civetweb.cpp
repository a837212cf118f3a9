// The sidecar's calls through civetweb's HTTP client. 127.0.0.1 rather than "localhost": the sidecar
// shares the pod's loopback, and the service's sandbox allows IPv4 sockets alone.
#include "sidecar_post.h"

#include <array>

#include <civetweb.h>

namespace brassmoor {

bool postToSidecar(std::uint16_t port, const char* path, std::string& failure) {
    std::array<char, 256> error{};
    mg_connection* connection = mg_connect_client("127.0.0.1", port, 0, error.data(), error.size());
    if (connection == nullptr) {
        failure = error[0] != '\0' ? error.data() : "cannot connect";
        return false;
    }
    // The sidecar answers 400 to an empty body.
    mg_printf(connection,
              "POST %s HTTP/1.1\r\nHost: localhost:%u\r\nContent-Type: application/json\r\n"
              "Content-Length: 2\r\nConnection: close\r\n\r\n{}",
              path, unsigned{port});
    bool ok = false;
    if (mg_get_response(connection, error.data(), error.size(), SidecarAnswerMilliseconds) < 0) {
        failure = error[0] != '\0' ? error.data() : "no answer";
    } else {
        const int status = mg_get_response_info(connection)->status_code;
        ok = status >= 200 && status < 300;
        if (!ok) failure = "answered " + std::to_string(status);
    }
    mg_close_connection(connection);
    return ok;
}

bool startSidecarCalls(std::string&) {
    mg_init_library(0);
    return true;
}

void stopSidecarCalls() {
    mg_exit_library();
}

}  // namespace brassmoor
