// The system's resolver on Windows: getaddrinfo, IPv4 only (Winsock is started by the caller).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "name_lookup.h"

namespace brassmoor {

bool resolveIpv4(const std::string& name, std::uint32_t& address, std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int failed = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (failed != 0 || found == nullptr) {
        reason = failed != 0 ? std::string(gai_strerrorA(failed)) : "no IPv4 address";
        return false;
    }
    address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
}

}  // namespace brassmoor
