// Where the search's queries go, worked out again every round: this computer, the broadcast address
// of each local network as the system lists it then, the remembered names as they resolve then, and
// the addresses joined in this session. A window opened before the network was up, or before a
// remembered name resolved, finds those games once they can be reached.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "browser_model.h"
#include "local_networks.h"
#include "name_lookup.h"

namespace brassmoor {

struct SearchName {
    std::string name;
    std::optional<NameLookup> lookup;      // in flight: never more than one a name
    std::optional<std::uint32_t> address;  // its latest address, kept while a later look-up fails
};

struct SearchTargets {
    std::vector<SearchName> names;
    std::vector<std::uint32_t> addresses;  // asked as they are: joined here, or remembered as addresses
};

// A name to look up every round (one written as an IPv4 address is simply asked); each kept once.
void addTargetName(SearchTargets& targets, const std::string& name);
void addTargetAddress(SearchTargets& targets, std::uint32_t address);

// At a round's start: a look-up, each on a thread of its own, of every name with none in flight.
void lookUpTargetNames(SearchTargets& targets);

// Takes the look-ups that have ended, never waiting. True when a name got its first address: worth
// asking at once rather than a round later.
bool takeTargetLookups(SearchTargets& targets);

// How an answer from `address` was found: 127.0.0.1 is this computer; an address on one of the
// local networks is the LAN's; a remembered or joined address that is on none of them is
// remembered; anything else answered a broadcast, on the LAN.
FoundOn answerFoundOn(const SearchTargets& targets, std::span<const LocalNetwork> networks,
                      std::uint32_t address);

// This round's addresses, each once: 127.0.0.1, each network's broadcast, 255.255.255.255, then the
// names' latest addresses and the addresses.
std::vector<std::uint32_t> roundTargets(const SearchTargets& targets, std::span<const LocalNetwork> networks);

}  // namespace brassmoor
