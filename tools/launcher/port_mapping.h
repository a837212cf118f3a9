// Asking the home router to forward a hosted game's UDP port to this computer, the part without the
// calls: what a router's answer means, when to ask it again, and the words the player reads. The
// calls are in port_gateway.h; the time is passed in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brassmoor {

inline constexpr int MappingLeaseSeconds = 1200;      // asked of the router; renewed at half of it
inline constexpr double MappingRetrySeconds = 300.0;  // after a refusal, or when no router answered

enum class MappingOutcome {
    NoGateway,  // nothing answered UPnP IGD or NAT-PMP
    Refused,    // a router answered and did not forward the port
    Mapped,     // a router forwards the port to this computer
};

// What a router said to one request, or that none did.
struct GatewayAnswer {
    MappingOutcome outcome = MappingOutcome::NoGateway;
    std::string protocol;        // "UPnP" or "NAT-PMP"; empty without a router
    std::string gateway;         // the router's address on this side
    std::string localAddress;    // this computer's address as the router sees it; empty: unknown
    std::string outsideAddress;  // the router's own address on the Internet, as it says; may be empty
    int leaseSeconds = 0;        // Mapped: what the router granted (0: until removed)
    std::string refusal;         // Refused: the router's own error, "UPnP error 501 (Action Failed)"
    std::string note;            // NoGateway: what this build could not ask, e.g. NAT-PMP
    // UPnP: where its mapping is renewed and removed without another search.
    std::string controlUrl;
    std::string serviceType;
};

// The port's standing with the router, as last heard.
struct MappingStanding {
    std::uint16_t port = 0;
    // This computer's addresses (host byte order), named in a forward by hand when the router did
    // not say which one it sees.
    std::vector<std::uint32_t> localAddresses;
    bool asked = false;  // an answer has been taken
    GatewayAnswer last;
    double nextAsk = 0.0;  // monotonic seconds; the first ask is due at once
    std::string lastLine;
};

MappingStanding mappingFor(std::uint16_t port, std::vector<std::uint32_t> localAddresses);

bool mappingDue(const MappingStanding& mapping, double now);

// Takes an answer to a request made at `now`: a mapping is renewed at half its lease, anything else
// asked again MappingRetrySeconds later. Returns the line for the player when what the router says
// changed, otherwise empty.
std::string mappingAnswered(MappingStanding& mapping, const GatewayAnswer& answer, double now);

// What the player can do when a list did not list the game, as the router last answered; empty
// before it has answered.
std::string whatThePlayerCanDo(const MappingStanding& mapping);

// The line once the mapping was removed at the end, or could not be (`error`).
std::string unmappedLine(const MappingStanding& mapping, bool removed, const std::string& error);

// False for addresses no one on the Internet reaches a router at: private, shared (carrier-grade
// NAT), loopback, link-local, documentation, benchmarking, multicast and the rest reserved.
bool isPublicAddress(std::uint32_t address);

}  // namespace brassmoor
