// The calls to the home router that forward a hosted game's UDP port to this computer: UPnP IGD
// through miniupnpc, and NAT-PMP through libnatpmp where the build has it (not on Windows). Each
// blocks for a few seconds at most: for the hosting thread, never for a window's.
#pragma once

#include <cstdint>
#include <string>

#include "port_mapping.h"

namespace brassmoor {

// How long a search for routers waits for their answers, and for one answer to NAT-PMP.
inline constexpr int GatewaySearchMilliseconds = 2000;

// Asks for `port` (outside and in) to be forwarded here for `leaseSeconds`: a mapping made before
// (`before`) is renewed at the router that made it; otherwise UPnP IGD is asked, then NAT-PMP.
GatewayAnswer askGateway(std::uint16_t port, int leaseSeconds, const GatewayAnswer& before);

// Removes a mapping `askGateway` made; false, with `error` set, when the router did not.
bool releaseGateway(const GatewayAnswer& mapped, std::uint16_t port, std::string& error);

// Each protocol's own calls, one file each.
GatewayAnswer askUpnpGateway(std::uint16_t port, int leaseSeconds, const GatewayAnswer& before);
bool releaseUpnpGateway(const GatewayAnswer& mapped, std::uint16_t port, std::string& error);
GatewayAnswer askNatPmpGateway(std::uint16_t port, int leaseSeconds);
bool releaseNatPmpGateway(const GatewayAnswer& mapped, std::uint16_t port, std::string& error);

}  // namespace brassmoor
