// The router's answers about the hosted game's port, when to ask again, and what the player reads.
#include "port_mapping.h"

#include <array>

#include "ipv4_endpoint.h"

namespace brassmoor {

namespace {

struct AddressBlock {
    std::uint32_t first;
    int prefixBits;
};

// Blocks that are never a router's address on the Internet (IANA's special-purpose registry).
constexpr std::array<AddressBlock, 15> NotPublic{{
    {0x00000000, 8},   // this network
    {0x0A000000, 8},   // private
    {0x64400000, 10},  // shared: carrier-grade NAT
    {0x7F000000, 8},   // loopback
    {0xA9FE0000, 16},  // link-local
    {0xAC100000, 12},  // private
    {0xC0000000, 24},  // protocol assignments
    {0xC0000200, 24},  // documentation
    {0xC0586300, 24},  // 6to4 relays
    {0xC0A80000, 16},  // private
    {0xC6120000, 15},  // benchmarking
    {0xC6336400, 24},  // documentation
    {0xCB007100, 24},  // documentation
    {0xE0000000, 4},   // multicast
    {0xF0000000, 4},   // reserved, and the broadcast address
}};

std::string routerName(const GatewayAnswer& answer) {
    return "router " + answer.gateway + " (" + answer.protocol + ")";
}

std::string portText(const MappingStanding& mapping) {
    return "UDP port " + std::to_string(mapping.port);
}

// Where a forward by hand points: the address the router saw, or every one this computer has.
std::string forwardTarget(const MappingStanding& mapping) {
    if (!mapping.last.localAddress.empty()) return mapping.last.localAddress;
    std::string addresses;
    for (const std::uint32_t address : mapping.localAddresses)
        addresses += (addresses.empty() ? "" : " or ") + formatIpv4Address(address);
    return addresses.empty() ? "this computer" : addresses;
}

bool outsideIsPublic(const GatewayAnswer& answer) {
    std::uint32_t address = 0;
    return parseIpv4Address(answer.outsideAddress, address) && isPublicAddress(address);
}

std::string byHand(const MappingStanding& mapping) {
    return "forward " + portText(mapping) + " to " + forwardTarget(mapping) + " by hand";
}

// Why a router that refused has no way in from the Internet, in a player's words.
std::string behindAnotherNat(const GatewayAnswer& answer) {
    const std::string outside = answer.outsideAddress.empty() || answer.outsideAddress == "0.0.0.0"
                                    ? "it reports no outside address of its own"
                                    : "its outside address " + answer.outsideAddress + " is not public";
    return outside +
           ": the router is itself behind another NAT, such as a provider's carrier-grade NAT, so "
           "the game cannot be reached from the Internet; players on this computer's networks can "
           "still join";
}

std::string answerLine(const MappingStanding& mapping) {
    const GatewayAnswer& answer = mapping.last;
    switch (answer.outcome) {
        case MappingOutcome::Mapped: {
            std::string line =
                routerName(answer) + ": forwards " + portText(mapping) + " to " + forwardTarget(mapping);
            if (!answer.outsideAddress.empty()) line += " from its outside address " + answer.outsideAddress;
            if (answer.leaseSeconds == 0) return line + ", until hosting stops";
            return line + ", a lease of " + std::to_string(answer.leaseSeconds) + " s renewed at half";
        }
        case MappingOutcome::Refused:
            return routerName(answer) + ": did not forward " + portText(mapping) + " (" + answer.refusal +
                   "); " +
                   (outsideIsPublic(answer) ? byHand(mapping) + " in the router's settings"
                                            : behindAnotherNat(answer));
        case MappingOutcome::NoGateway:
            break;
    }
    return "router: none answered UPnP IGD or NAT-PMP" +
           (answer.note.empty() ? "" : " (" + answer.note + ")") + ": " + byHand(mapping) +
           " in your router's settings";
}

}  // namespace

MappingStanding mappingFor(std::uint16_t port, std::vector<std::uint32_t> localAddresses) {
    MappingStanding mapping;
    mapping.port = port;
    mapping.localAddresses = std::move(localAddresses);
    return mapping;
}

bool mappingDue(const MappingStanding& mapping, double now) {
    return now >= mapping.nextAsk;
}

std::string mappingAnswered(MappingStanding& mapping, const GatewayAnswer& answer, double now) {
    mapping.asked = true;
    mapping.last = answer;
    const bool leased = answer.outcome == MappingOutcome::Mapped && answer.leaseSeconds > 0;
    // A mapping until removed is asked for again now and then all the same: a router that restarted
    // has forgotten it.
    mapping.nextAsk = now + (leased ? answer.leaseSeconds / 2.0 : MappingRetrySeconds);
    std::string line = answerLine(mapping);
    if (line == mapping.lastLine) return {};
    mapping.lastLine = line;
    return line;
}

std::string whatThePlayerCanDo(const MappingStanding& mapping) {
    if (!mapping.asked) return {};
    switch (mapping.last.outcome) {
        case MappingOutcome::Mapped:
            return "the router forwards the port, so check that no firewall on this computer blocks " +
                   portText(mapping);
        case MappingOutcome::Refused:
            if (!outsideIsPublic(mapping.last)) {
                return "the game cannot be reached from the Internet: the router has no public address of "
                       "its own (carrier-grade NAT)";
            }
            return "your router did not accept the port mapping: " + byHand(mapping);
        case MappingOutcome::NoGateway:
            break;
    }
    return "no router answered UPnP or NAT-PMP: " + byHand(mapping);
}

std::string unmappedLine(const MappingStanding& mapping, bool removed, const std::string& error) {
    const std::string lead = routerName(mapping.last) + ": " + portText(mapping);
    if (removed) return lead + " no longer forwarded";
    return lead + " still forwarded (" + error + "); " +
           (mapping.last.leaseSeconds > 0 ? "the router drops it when its lease ends"
                                          : "remove it in the router's settings");
}

bool isPublicAddress(std::uint32_t address) {
    for (const AddressBlock& block : NotPublic) {
        const std::uint32_t mask = ~std::uint32_t{0} << (32 - block.prefixBits);
        if ((address & mask) == block.first) return false;
    }
    return true;
}

}  // namespace brassmoor
