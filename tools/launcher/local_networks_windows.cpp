// This computer's IPv4 networks on Windows, from GetAdaptersAddresses.
#include <winsock2.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <vector>

#include "local_networks.h"

namespace brassmoor {

std::vector<LocalNetwork> localNetworks() {
    std::vector<LocalNetwork> networks;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the call that sizes it and the one that fills it: try a few times.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) return networks;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET) continue;
            const std::uint32_t own = ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
            const unsigned prefix = unicast->OnLinkPrefixLength;
            const std::uint32_t hostBits = prefix >= 32 ? 0u : (0xFFFFFFFFu >> prefix);
            networks.push_back(LocalNetwork{own, own | hostBits, ~hostBits});
        }
    }
    return networks;
}

}  // namespace brassmoor
