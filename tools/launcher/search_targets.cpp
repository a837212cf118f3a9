// The search's targets: the networks read and the names looked up again each round.
#include "search_targets.h"

#include <algorithm>

#include "ipv4_endpoint.h"

namespace brassmoor {

namespace {

constexpr std::uint32_t LimitedBroadcast = 0xFFFFFFFF;

// Names as the resolver takes them: letters in any case are the same name.
bool sameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
    });
}

void addOnce(std::vector<std::uint32_t>& addresses, std::uint32_t address) {
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
        addresses.push_back(address);
}

}  // namespace

void addTargetName(SearchTargets& targets, const std::string& name) {
    std::uint32_t address = 0;
    if (parseIpv4Address(name, address)) {
        addTargetAddress(targets, address);
        return;
    }
    const bool known = std::any_of(targets.names.begin(), targets.names.end(),
                                   [&](const SearchName& other) { return sameName(other.name, name); });
    if (!known) targets.names.push_back(SearchName{name, std::nullopt, std::nullopt});
}

void addTargetAddress(SearchTargets& targets, std::uint32_t address) {
    addOnce(targets.addresses, address);
}

void lookUpTargetNames(SearchTargets& targets) {
    for (SearchName& name : targets.names) {
        if (!name.lookup) name.lookup = startNameLookup(name.name);
    }
}

bool takeTargetLookups(SearchTargets& targets) {
    bool firstAddress = false;
    for (SearchName& name : targets.names) {
        NameLookupResult result;
        if (!name.lookup || !takeNameLookup(*name.lookup, result)) continue;
        name.lookup.reset();
        if (!result.ok) continue;
        firstAddress = firstAddress || !name.address;
        name.address = result.address;
    }
    return firstAddress;
}

FoundOn answerFoundOn(const SearchTargets& targets, std::span<const LocalNetwork> networks,
                      std::uint32_t address) {
    if (address == Loopback) return FoundOn::ThisComputer;
    const bool onNetwork = std::any_of(networks.begin(), networks.end(), [&](const LocalNetwork& network) {
        return (address & network.mask) == (network.address & network.mask);
    });
    if (onNetwork) return FoundOn::Lan;
    const bool named = std::any_of(targets.names.begin(), targets.names.end(),
                                   [&](const SearchName& name) { return name.address == address; });
    const bool asked =
        std::find(targets.addresses.begin(), targets.addresses.end(), address) != targets.addresses.end();
    return named || asked ? FoundOn::Remembered : FoundOn::Lan;
}

std::vector<std::uint32_t> roundTargets(const SearchTargets& targets,
                                        std::span<const LocalNetwork> networks) {
    std::vector<std::uint32_t> round{Loopback};
    for (const LocalNetwork& network : networks)
        addOnce(round, network.broadcast);
    addOnce(round, LimitedBroadcast);
    for (const SearchName& name : targets.names) {
        if (name.address) addOnce(round, *name.address);
    }
    for (const std::uint32_t address : targets.addresses)
        addOnce(round, address);
    return round;
}

}  // namespace brassmoor
