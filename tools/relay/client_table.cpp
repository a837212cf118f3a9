// The relay's clients: one slot each, at most a fixed number, freed once a client falls silent.
#include "client_table.h"

#include <algorithm>

namespace brassmoor {

ClientTable makeClientTable(std::size_t maxClients) {
    return ClientTable{std::vector<RelayClient>(maxClients)};
}

AdmissionResult admitClient(ClientTable& table, const Ipv4Endpoint& from, double now) {
    std::size_t freeSlot = table.slots.size();
    for (std::size_t i = 0; i < table.slots.size(); ++i) {
        RelayClient& client = table.slots[i];
        if (client.inUse && client.address == from) {
            client.lastHeard = now;
            return AdmissionResult{Admission::Known, static_cast<std::uint32_t>(i)};
        }
        if (!client.inUse && freeSlot == table.slots.size()) freeSlot = i;
    }
    if (freeSlot == table.slots.size()) return AdmissionResult{Admission::Full, 0};
    RelayClient& client = table.slots[freeSlot];
    client.inUse = true;
    client.address = from;
    client.lastHeard = now;
    client.awaitingFollower[0] = client.awaitingFollower[1] = 0;
    return AdmissionResult{Admission::Added, static_cast<std::uint32_t>(freeSlot)};
}

void forgetIdleClients(ClientTable& table, double now, double idleSeconds,
                       std::vector<std::uint32_t>& forgotten) {
    for (std::size_t i = 0; i < table.slots.size(); ++i) {
        if (table.slots[i].inUse && now - table.slots[i].lastHeard > idleSeconds) {
            forgetClient(table, static_cast<std::uint32_t>(i));
            forgotten.push_back(static_cast<std::uint32_t>(i));
        }
    }
}

void forgetClient(ClientTable& table, std::uint32_t slot) {
    RelayClient& client = table.slots[slot];
    client.inUse = false;
    ++client.generation;
    client.awaitingFollower[0] = client.awaitingFollower[1] = 0;
}

const RelayClient* clientOnRoute(const ClientTable& table, const Route& route) {
    if (route.clientSlot >= table.slots.size()) return nullptr;
    const RelayClient& client = table.slots[route.clientSlot];
    return client.inUse && client.generation == route.clientGeneration ? &client : nullptr;
}

std::size_t clientCount(const ClientTable& table) {
    return static_cast<std::size_t>(
        std::count_if(table.slots.begin(), table.slots.end(), [](const RelayClient& c) { return c.inUse; }));
}

}  // namespace brassmoor
