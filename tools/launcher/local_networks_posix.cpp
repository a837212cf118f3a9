// This computer's IPv4 networks on POSIX systems, from getifaddrs.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "local_networks.h"

namespace brassmoor {

std::vector<LocalNetwork> localNetworks() {
    std::vector<LocalNetwork> networks;
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) return networks;
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        const std::uint32_t own = ntohl(address->sin_addr.s_addr);
        std::uint32_t broadcast = own;  // a point-to-point link has none: its own address then
        if ((entry->ifa_flags & IFF_BROADCAST) != 0 && entry->ifa_broadaddr != nullptr) {
            broadcast = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr)->sin_addr.s_addr);
        }
        std::uint32_t mask = 0xFFFFFFFF;
        if (entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == AF_INET) {
            mask = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
        }
        networks.push_back(LocalNetwork{own, broadcast, mask});
    }
    ::freeifaddrs(interfaces);
    return networks;
}

}  // namespace brassmoor
