// The system's resolver on POSIX systems: getaddrinfo, IPv4 only.
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "name_lookup.h"

namespace brassmoor {

bool resolveIpv4(const std::string& name, std::uint32_t& address, std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int failed = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (failed != 0 || found == nullptr) {
        reason = failed != 0 ? std::string(gai_strerror(failed)) : "no IPv4 address";
        return false;
    }
    address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
}

}  // namespace brassmoor
