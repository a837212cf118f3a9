// Between the helper programs' endpoints (host byte order) and the socket layer's sockaddr_in.
#pragma once

#include "ipv4_endpoint.h"
#include "net/socket_layer.h"

namespace brassmoor {

inline Ipv4Endpoint toIpv4Endpoint(const sockaddr_in& address) {
    return Ipv4Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

inline sockaddr_in toSocketAddress(const Ipv4Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = htonl(endpoint.address);
    return address;
}

}  // namespace brassmoor
