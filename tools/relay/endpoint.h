// IPv4 endpoints as the relay's command line and log lines write them: "a.b.c.d:port".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brassmoor {

// Both numbers in host byte order.
struct Ipv4Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

bool operator==(const Ipv4Endpoint& a, const Ipv4Endpoint& b);

// Four dot-separated decimal numbers 0 to 255 (no leading zeros), a colon and a port 0 to 65535.
// False, leaving `endpoint` alone, for anything else.
bool parseIpv4Endpoint(std::string_view text, Ipv4Endpoint& endpoint);

// "a.b.c.d:port"
std::string formatIpv4Endpoint(const Ipv4Endpoint& endpoint);

}  // namespace brassmoor
