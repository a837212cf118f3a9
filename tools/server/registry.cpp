// The server's table of clients: joining, pose updates, snapshot credit, forgetting the silent ones.
#include "registry.h"

#include <algorithm>

namespace brassmoor {

namespace {

std::uint64_t addressKey(const ClientAddress& address) {
    return (std::uint64_t{address.address} << 16) | address.port;
}

// The list is kept in id order, so a binary search finds a client.
template <typename Clients>
auto clientById(Clients& clients, std::uint32_t id) {
    auto it = std::lower_bound(clients.begin(), clients.end(), id,
                               [](const Client& c, std::uint32_t wanted) { return c.id < wanted; });
    return (it != clients.end() && it->id == id) ? &*it : nullptr;
}

}  // namespace

std::uint32_t takeId(IdSource& ids) {
    // After 2^32 - 1 ids the counter would wrap and repeat; a run never gets near that.
    return ids.next++;
}

PoseResult acceptDatagram(ClientRegistry& registry, IdSource& ids, TrafficCounters& counters,
                          const ClientAddress& from, std::span<const std::uint8_t> bytes, double now) {
    ++counters.datagramsIn;
    PoseDatagram pose{};
    if (!decodePoseDatagram(bytes, pose)) {
        ++counters.dropped;
        return {PoseOutcome::Dropped, 0};
    }
    const PeerState state{pose.x, pose.y, pose.z, pose.yaw};

    const std::uint64_t key = addressKey(from);
    if (auto known = registry.idByAddress.find(key); known != registry.idByAddress.end()) {
        Client* client = clientById(registry.clients, known->second);
        client->state = state;
        client->lastHeard = now;
        client->snapshotCredit = std::min(client->snapshotCredit + 1, SnapshotCreditAllowance);
        ++counters.poses;
        return {PoseOutcome::Updated, client->id};
    }

    // The known clients keep being served however many strangers knock; a stranger takes no id.
    if (registry.clients.size() >= registry.maxClients) {
        ++counters.refused;
        return {PoseOutcome::Refused, 0};
    }
    // Ids only grow, so appending keeps the list in id order.
    const std::uint32_t id = takeId(ids);
    registry.clients.push_back(Client{id, from, state, now, 1});
    registry.idByAddress.emplace(key, id);
    ++counters.poses;
    return {PoseOutcome::Joined, id};
}

bool spendSnapshotCredit(Client& client, TrafficCounters& counters) {
    if (client.snapshotCredit == 0) {
        ++counters.withheld;
        return false;
    }
    --client.snapshotCredit;
    return true;
}

std::vector<Client> forgetSilentClients(ClientRegistry& registry, double now, double timeoutSeconds) {
    std::vector<Client> forgotten;
    auto silent = [&](const Client& c) { return now - c.lastHeard > timeoutSeconds; };
    for (const Client& c : registry.clients) {
        if (silent(c)) {
            forgotten.push_back(c);
            registry.idByAddress.erase(addressKey(c.address));
        }
    }
    std::erase_if(registry.clients, silent);
    return forgotten;
}

const Client* findClient(const ClientRegistry& registry, std::uint32_t id) {
    return clientById(registry.clients, id);
}

}  // namespace brassmoor
