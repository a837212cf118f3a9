// This computer's IPv4 networks: where a search for games broadcasts, and what a host tells others.
#pragma once

#include <cstdint>
#include <vector>

namespace brassmoor {

struct LocalNetwork {
    std::uint32_t address;    // this computer's address on it, host byte order
    std::uint32_t broadcast;  // its broadcast address, host byte order
    std::uint32_t mask;       // its netmask, host byte order
};

// Every IPv4 network of an interface that is up, loopback left out; empty when none can be read.
std::vector<LocalNetwork> localNetworks();

}  // namespace brassmoor
