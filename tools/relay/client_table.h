// The relay's clients: one slot each, at most a fixed number, freed once a client falls silent.
//
// A client is known by the address and port its datagrams come from. Each slot has a generation
// that changes whenever the slot is freed, so a datagram held for a forgotten client is noticed
// even when the slot has a new client by the time it is due. Times are monotonic seconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ipv4_endpoint.h"
#include "held_schedule.h"

namespace brassmoor {

struct RelayClient {
    bool inUse = false;
    std::uint32_t generation = 0;
    Ipv4Endpoint address;    // where its datagrams come from
    double lastHeard = 0.0;  // when its last datagram arrived
    // Per direction (Up, Down): the datagram held back for reordering until the next one; 0 when none.
    HeldTicket awaitingFollower[2] = {0, 0};
};

struct ClientTable {
    std::vector<RelayClient> slots;  // as many as clients may be relayed at once
};

ClientTable makeClientTable(std::size_t maxClients);

enum class Admission {
    Known,  // a client already in the table
    Added,  // a new client, now in a free slot
    Full,   // a new client with no slot free: refused
};

struct AdmissionResult {
    Admission admission;
    std::uint32_t slot;  // meaningless when Full
};

// Finds the client sending from `from`, or gives it a free slot; either way it was heard `now`.
AdmissionResult admitClient(ClientTable& table, const Ipv4Endpoint& from, double now);

// Frees the slot of every client not heard from for more than `idleSeconds`; their slots are
// appended to `forgotten`.
void forgetIdleClients(ClientTable& table, double now, double idleSeconds,
                       std::vector<std::uint32_t>& forgotten);

// Frees one slot at once.
void forgetClient(ClientTable& table, std::uint32_t slot);

// The client a held datagram goes to or comes from; null when that client has been forgotten.
const RelayClient* clientOnRoute(const ClientTable& table, const Route& route);

std::size_t clientCount(const ClientTable& table);

}  // namespace brassmoor
