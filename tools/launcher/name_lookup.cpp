// Name look-ups through getaddrinfo, and on a worker thread: the thread and the caller share one
// small state under a mutex.
#include "name_lookup.h"

#ifndef _WIN32
#include <netdb.h>  // Winsock declares getaddrinfo in ws2tcpip.h, which the socket layer includes
#endif

#include <mutex>
#include <thread>

#include "ipv4_endpoint.h"
#include "net/socket_layer.h"

namespace brassmoor {

namespace {

// With the sockets library started. False, with `reason` set to the resolver's words, when `name`
// has no IPv4 address.
bool resolveIpv4(const std::string& name, std::uint32_t& address, std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int failed = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (failed != 0 || found == nullptr) {
        reason = failed != 0 ? resolverErrorText(failed) : "no IPv4 address";
        return false;
    }
    address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
}

}  // namespace

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
    std::string reason;
    const bool found = resolveIpv4(name, address, reason);
    stopSocketLibrary();
    if (!found) error = "cannot find the computer '" + name + "': " + reason;
    return found;
}

struct NameLookupState {
    std::mutex lock;
    bool done = false;
    NameLookupResult result;
};

NameLookup startNameLookup(const std::string& name) {
    NameLookup lookup{name, std::make_shared<NameLookupState>()};
    std::thread([name, state = lookup.state] {
        NameLookupResult result;
        result.ok = lookUpIpv4(name, result.address, result.error);
        const std::lock_guard<std::mutex> guard(state->lock);
        state->result = result;
        state->done = true;
    }).detach();
    return lookup;
}

bool takeNameLookup(const NameLookup& lookup, NameLookupResult& result) {
    if (!lookup.state) return false;
    const std::lock_guard<std::mutex> guard(lookup.state->lock);
    if (!lookup.state->done) return false;
    result = lookup.state->result;
    return true;
}

}  // namespace brassmoor
