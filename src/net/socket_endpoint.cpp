// Filling an IPv4 endpoint from address text: the same calls on every platform.
#include <cstring>

#include "net/socket_layer.h"

#ifndef _WIN32
#include <arpa/inet.h>
#endif

namespace brassmoor {

bool makeIpv4Endpoint(const char* text, std::uint16_t port, sockaddr_in& endpoint) {
    std::memset(&endpoint, 0, sizeof(endpoint));
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    return ::inet_pton(AF_INET, text, &endpoint.sin_addr) == 1;
}

}  // namespace brassmoor
