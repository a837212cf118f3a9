// A host name turned into an IPv4 address by the system's resolver, and the same done on a thread of
// its own so that a window never waits for it (a look-up can take seconds).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace brassmoor {

// Blocks. An IPv4 address written out is taken as it is. False, with `error` set to one line, when
// the name does not resolve to an IPv4 address.
bool lookUpIpv4(const std::string& name, std::uint32_t& address, std::string& error);

// The system's resolver's words for one of getaddrinfo's error codes (one file per system: the
// function that says them differs).
std::string resolverErrorText(int code);

struct NameLookupState;

// A look-up running on a thread of its own; dropping it leaves the thread to finish alone.
struct NameLookup {
    std::string name;
    std::shared_ptr<NameLookupState> state;
};

struct NameLookupResult {
    bool ok = false;
    std::uint32_t address = 0;
    std::string error;
};

NameLookup startNameLookup(const std::string& name);
// True once the look-up has ended, with its result in `result`; never waits.
bool takeNameLookup(const NameLookup& lookup, NameLookupResult& result);

}  // namespace brassmoor
