// UPnP IGD through miniupnpc: the router found by an SSDP search on the local networks, its outside
// address asked, and the port mapped with a lease (or until removed, where the router only has that).
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <memory>

#include "port_gateway.h"

namespace brassmoor {

namespace {

constexpr const char* MappingDescription = "Brassmoor game";
constexpr unsigned char SearchTtl = 2;
constexpr int OnlyPermanentLeases = 725;  // the router takes a lease of 0 (until removed) alone
constexpr int NoSuchEntry = 714;          // nothing to remove: as good as removed

struct DeviceListDeleter {
    void operator()(UPNPDev* devices) const {
        freeUPNPDevlist(devices);
    }
};

// The host of an http://HOST:PORT/... URL.
std::string hostOf(const std::string& url) {
    const std::size_t start = url.find("://");
    if (start == std::string::npos) return url;
    const std::size_t end = url.find_first_of(":/", start + 3);
    return url.substr(start + 3, end == std::string::npos ? std::string::npos : end - start - 3);
}

std::string errorText(int code) {
    const char* said = strupnperror(code);
    if (code > 0)
        return "UPnP error " + std::to_string(code) + (said != nullptr ? std::string(": ") + said : "");
    return std::string("no valid answer: ") + (said != nullptr ? said : "error " + std::to_string(code));
}

int addMapping(const GatewayAnswer& router, const std::string& port, const std::string& lease) {
    return UPNP_AddPortMapping(router.controlUrl.c_str(), router.serviceType.c_str(), port.c_str(),
                               port.c_str(), router.localAddress.c_str(), MappingDescription, "UDP", nullptr,
                               lease.c_str());
}

GatewayAnswer mapAt(GatewayAnswer router, std::uint16_t port, int leaseSeconds) {
    char outside[40] = {};
    if (UPNP_GetExternalIPAddress(router.controlUrl.c_str(), router.serviceType.c_str(), outside) ==
        UPNPCOMMAND_SUCCESS) {
        router.outsideAddress = outside;
    }
    const std::string portText = std::to_string(port);
    int result = addMapping(router, portText, std::to_string(leaseSeconds));
    if (result == OnlyPermanentLeases) {
        leaseSeconds = 0;
        result = addMapping(router, portText, "0");
    }
    if (result == UPNPCOMMAND_SUCCESS) {
        router.outcome = MappingOutcome::Mapped;
        router.leaseSeconds = leaseSeconds;
        router.refusal.clear();
    } else {
        router.outcome = MappingOutcome::Refused;
        router.refusal = errorText(result);
    }
    return router;
}

}  // namespace

GatewayAnswer askUpnpGateway(std::uint16_t port, int leaseSeconds, const GatewayAnswer& before) {
    if (!before.controlUrl.empty()) return mapAt(before, port, leaseSeconds);
    int error = 0;
    const std::unique_ptr<UPNPDev, DeviceListDeleter> devices(
        upnpDiscover(GatewaySearchMilliseconds, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, SearchTtl, &error));
    if (!devices) return GatewayAnswer{};
    UPNPUrls urls{};
    IGDdatas data{};
    char local[64] = {};
    const int found = UPNP_GetValidIGD(devices.get(), &urls, &data, local, sizeof local);
    if (found == 0) return GatewayAnswer{};
    GatewayAnswer router;
    // 1: a connected IGD; 2: one that says it is not connected (miniupnpd without a public address
    // says so), asked all the same for its own words; 3: a UPnP device that is no router.
    if (found != 3 && urls.controlURL != nullptr) {
        router.protocol = "UPnP";
        router.controlUrl = urls.controlURL;
        router.serviceType = data.first.servicetype;
        router.gateway = hostOf(router.controlUrl);
        router.localAddress = local;
    }
    FreeUPNPUrls(&urls);
    if (router.controlUrl.empty()) return GatewayAnswer{};
    return mapAt(router, port, leaseSeconds);
}

bool releaseUpnpGateway(const GatewayAnswer& mapped, std::uint16_t port, std::string& error) {
    const int result = UPNP_DeletePortMapping(mapped.controlUrl.c_str(), mapped.serviceType.c_str(),
                                              std::to_string(port).c_str(), "UDP", nullptr);
    if (result == UPNPCOMMAND_SUCCESS || result == NoSuchEntry) return true;
    error = errorText(result);
    return false;
}

}  // namespace brassmoor
