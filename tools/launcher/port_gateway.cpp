// Which router to ask and in which order: the one that made the mapping, then UPnP IGD, then NAT-PMP.
#include "port_gateway.h"

namespace brassmoor {

GatewayAnswer askGateway(std::uint16_t port, int leaseSeconds, const GatewayAnswer& before) {
    const bool mappedBefore = before.outcome == MappingOutcome::Mapped;
    if (mappedBefore && before.protocol == "UPnP") {
        GatewayAnswer renewed = askUpnpGateway(port, leaseSeconds, before);
        if (renewed.outcome == MappingOutcome::Mapped) return renewed;
    }
    if (mappedBefore && before.protocol == "NAT-PMP") {
        GatewayAnswer renewed = askNatPmpGateway(port, leaseSeconds);
        if (renewed.outcome == MappingOutcome::Mapped) return renewed;
    }
    GatewayAnswer upnp = askUpnpGateway(port, leaseSeconds, GatewayAnswer{});
    if (upnp.outcome == MappingOutcome::Mapped) return upnp;
    GatewayAnswer natPmp = askNatPmpGateway(port, leaseSeconds);
    if (natPmp.outcome == MappingOutcome::Mapped) return natPmp;
    // A router that answered says more than silence; UPnP's error is the more telling of two.
    if (upnp.outcome == MappingOutcome::Refused) return upnp;
    if (natPmp.outcome == MappingOutcome::Refused) return natPmp;
    return natPmp.note.empty() ? upnp : natPmp;
}

bool releaseGateway(const GatewayAnswer& mapped, std::uint16_t port, std::string& error) {
    if (mapped.protocol == "UPnP") return releaseUpnpGateway(mapped, port, error);
    return releaseNatPmpGateway(mapped, port, error);
}

}  // namespace brassmoor
