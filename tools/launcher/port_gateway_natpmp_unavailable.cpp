// NAT-PMP where the build has no libnatpmp (Windows: only miniupnpc is built there): a router is
// asked through UPnP IGD alone, and the player is told NAT-PMP was not tried.
#include "port_gateway.h"

namespace brassmoor {

GatewayAnswer askNatPmpGateway(std::uint16_t, int) {
    GatewayAnswer answer;
    answer.note = "NAT-PMP is not in this build";
    return answer;
}

bool releaseNatPmpGateway(const GatewayAnswer&, std::uint16_t, std::string& error) {
    error = "NAT-PMP is not in this build";
    return false;
}

}  // namespace brassmoor
