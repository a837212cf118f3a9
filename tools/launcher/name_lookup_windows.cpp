// Host names looked up with getaddrinfo on Windows (Winsock started around the call).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "ipv4_endpoint.h"
#include "name_lookup.h"
#include "net/socket_layer.h"

namespace brassmoor {

bool lookUpIpv4(const std::string& name, std::uint32_t& address, std::string& error) {
    if (parseIpv4Address(name, address)) return true;
    if (name.empty()) {
        error = "no address given";
        return false;
    }
    if (!startSocketLibrary()) {
        error = "cannot start the sockets library to look up '" + name + "'";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int failed = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (failed != 0 || found == nullptr) {
        error = "cannot find the computer '" + name + "': " + (failed != 0 ? std::string(gai_strerrorA(failed)) : "no IPv4 address");
        stopSocketLibrary();
        return false;
    }
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    address = ntohl(ipv4->sin_addr.s_addr);
    freeaddrinfo(found);
    stopSocketLibrary();
    return true;
}

}  // namespace brassmoor
