// IPv4 addresses and endpoints as the helper programs read and write them: "a.b.c.d", "a.b.c.d:port".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brassmoor {

// 127.0.0.1 in host byte order: this computer.
inline constexpr std::uint32_t Loopback = 0x7F000001;

// Both numbers in host byte order.
struct Ipv4Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

bool operator==(const Ipv4Endpoint& a, const Ipv4Endpoint& b);

// Four dot-separated decimal numbers 0 to 255, without leading zeros, and nothing else: true, with
// the address in host byte order. False, leaving `address` alone, for anything else.
bool parseIpv4Address(std::string_view text, std::uint32_t& address);

// An address as parseIpv4Address takes it, a colon and a port 0 to 65535.
// False, leaving `endpoint` alone, for anything else.
bool parseIpv4Endpoint(std::string_view text, Ipv4Endpoint& endpoint);

// "a.b.c.d"
std::string formatIpv4Address(std::uint32_t address);

// "a.b.c.d:port"
std::string formatIpv4Endpoint(const Ipv4Endpoint& endpoint);

}  // namespace brassmoor
