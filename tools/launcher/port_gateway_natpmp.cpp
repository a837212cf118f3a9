// NAT-PMP through libnatpmp: the default gateway asked for its outside address, then for the port,
// each answer waited for GatewaySearchMilliseconds at most (libnatpmp alone would retry for minutes).
#include <natpmp.h>

#include <arpa/inet.h>
#include <sys/select.h>

#include <algorithm>
#include <chrono>

#include "ipv4_endpoint.h"
#include "port_gateway.h"

namespace brassmoor {

namespace {

using Clock = std::chrono::steady_clock;

struct Session {
    natpmp_t natpmp{};
    bool open = false;
    ~Session() {
        if (open) closenatpmp(&natpmp);
    }
};

// The answer to the request just sent, resent on libnatpmp's schedule until the time is up; the
// result of readnatpmpresponseorretry (NATPMP_TRYAGAIN when nothing came in time).
int awaitAnswer(natpmp_t& natpmp, natpmpresp_t& response) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(GatewaySearchMilliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0) return NATPMP_TRYAGAIN;
        timeval wait{};
        getnatpmprequesttimeout(&natpmp, &wait);
        const long long resend = wait.tv_sec * 1000000LL + wait.tv_usec;
        const long long waited = std::clamp<long long>(resend, 0, left.count());
        wait.tv_sec = static_cast<time_t>(waited / 1000000);
        wait.tv_usec = static_cast<suseconds_t>(waited % 1000000);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(natpmp.s, &readable);
        select(natpmp.s + 1, &readable, nullptr, nullptr, &wait);
        const int result = readnatpmpresponseorretry(&natpmp, &response);
        if (result != NATPMP_TRYAGAIN) return result;
    }
}

// The router's own result codes (it answered); anything else means no NAT-PMP router is there.
bool routerRefused(int result) {
    return result == NATPMP_ERR_UNSUPPORTEDVERSION || result == NATPMP_ERR_UNSUPPORTEDOPCODE ||
           result == NATPMP_ERR_UNDEFINEDERROR || result == NATPMP_ERR_NOTAUTHORIZED ||
           result == NATPMP_ERR_NETWORKFAILURE || result == NATPMP_ERR_OUTOFRESOURCES;
}

GatewayAnswer refusedWith(GatewayAnswer router, const std::string& why) {
    router.outcome = MappingOutcome::Refused;
    router.refusal = "NAT-PMP: " + why;
    return router;
}

}  // namespace

GatewayAnswer askNatPmpGateway(std::uint16_t port, int leaseSeconds) {
    Session session;
    if (initnatpmp(&session.natpmp, 0, 0) < 0) return GatewayAnswer{};  // no default gateway
    session.open = true;
    GatewayAnswer router;
    router.protocol = "NAT-PMP";
    router.gateway = formatIpv4Address(ntohl(session.natpmp.gateway));
    natpmpresp_t response{};
    int result = sendpublicaddressrequest(&session.natpmp) < 0 ? NATPMP_ERR_SENDERR
                                                               : awaitAnswer(session.natpmp, response);
    if (result == 0) {
        router.outsideAddress = formatIpv4Address(ntohl(response.pnu.publicaddress.addr.s_addr));
    } else if (routerRefused(result)) {
        return refusedWith(router, strnatpmperr(result));
    } else {
        return GatewayAnswer{};
    }
    result = sendnewportmappingrequest(&session.natpmp, NATPMP_PROTOCOL_UDP, port, port,
                                       static_cast<std::uint32_t>(leaseSeconds)) < 0
                 ? NATPMP_ERR_SENDERR
                 : awaitAnswer(session.natpmp, response);
    if (result != 0)
        return routerRefused(result) ? refusedWith(router, strnatpmperr(result)) : GatewayAnswer{};
    const std::uint16_t outsidePort = response.pnu.newportmapping.mappedpublicport;
    if (outsidePort != port) {
        // Players look for the game on its own port: another one is no use, and is handed back.
        sendnewportmappingrequest(&session.natpmp, NATPMP_PROTOCOL_UDP, port, outsidePort, 0);
        awaitAnswer(session.natpmp, response);
        return refusedWith(router,
                           "the router offered outside port " + std::to_string(outsidePort) + " instead");
    }
    router.outcome = MappingOutcome::Mapped;
    router.leaseSeconds = static_cast<int>(response.pnu.newportmapping.lifetime);
    return router;
}

bool releaseNatPmpGateway(const GatewayAnswer&, std::uint16_t port, std::string& error) {
    Session session;
    if (initnatpmp(&session.natpmp, 0, 0) < 0) {
        error = "no default gateway any more";
        return false;
    }
    session.open = true;
    natpmpresp_t response{};
    // A lifetime of 0 removes the mapping.
    const int result = sendnewportmappingrequest(&session.natpmp, NATPMP_PROTOCOL_UDP, port, port, 0) < 0
                           ? NATPMP_ERR_SENDERR
                           : awaitAnswer(session.natpmp, response);
    if (result == 0) return true;
    error = result == NATPMP_TRYAGAIN ? "no answer" : strnatpmperr(result);
    return false;
}

}  // namespace brassmoor
