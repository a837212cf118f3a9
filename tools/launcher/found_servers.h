// The games a search found: answers taken in, one entry a server, the busiest chosen, lines to print.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ipv4_endpoint.h"
#include "server_info.h"

namespace brassmoor {

struct FoundServer {
    Ipv4Endpoint from;  // where the answer came from
    ServerInfo info;
};

// Takes one datagram received during a search. An answer to this search (`nonce`) adds its server;
// a server already heard on another address keeps one entry, under 127.0.0.1 when it answered there
// (a server on this computer is surely reached there). Anything else is ignored; false then.
bool noteAnswer(std::vector<FoundServer>& found, const Ipv4Endpoint& from, std::span<const std::uint8_t> bytes,
                std::uint32_t nonce);

// The one with the most players; of equals, the first heard. Null when none was found.
const FoundServer* busiestServer(const std::vector<FoundServer>& found);

// "192.168.1.20  players=9 clients=3 bots=6 max-clients=64 version=0.3.0 name=Friday LAN", the name
// last (it may hold spaces) and left out when the server told none.
std::string describeServer(const FoundServer& server);

}  // namespace brassmoor
