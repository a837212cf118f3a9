// Looking for games: info queries to this computer and every local network, answers gathered.
#pragma once

#include <string>
#include <vector>

#include "found_servers.h"

namespace brassmoor {

inline constexpr std::uint16_t GamePort = 40123;
inline constexpr double SearchSeconds = 1.0;

struct SearchResult {
    bool ok = false;
    std::vector<FoundServer> found;  // in the order first heard
    std::string error;               // when not ok: one line, why no search could be made
};

// Sends queries to 127.0.0.1, to the broadcast address of every local network and to
// 255.255.255.255, all on GamePort (a network that cannot be reached is passed over), asks once more
// part-way in case a datagram was lost, and gathers answers for `seconds`.
SearchResult searchForServers(double seconds = SearchSeconds);

}  // namespace brassmoor
