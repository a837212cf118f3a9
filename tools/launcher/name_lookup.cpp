// Name look-ups on a worker thread: the thread and the caller share one small state under a mutex.
#include "name_lookup.h"

#include <mutex>
#include <thread>

#include "ipv4_endpoint.h"
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
