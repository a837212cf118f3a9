// The relay's decisions, without a socket: each arriving datagram is impaired and held for its
// client and direction; each held datagram leaves when due, or is dropped; every fate is counted.
//
// The socket loop (main.cpp) hands arrivals in, sends what firstDue gives it and reports how that
// went with completeDeparture. Times are monotonic seconds.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "client_table.h"
#include "held_schedule.h"
#include "impairment.h"
#include "random_source.h"
#include "relay_options.h"

namespace brassmoor {

// A datagram held back for reordering goes at most this much later than it would have when no
// datagram of the same client and direction follows it.
inline constexpr double ReorderWaitSeconds = 0.1;

// Per direction. Every datagram counted `in` ends up in exactly one of: lost, out, held (still
// waiting), or one of the drops below; each duplicate adds one more. So at any moment
//     in - lost + duplicated == out + held + queueFull + tooLong + refused + gone + foreign + sendFailed
struct DirectionCounters {
    std::uint64_t in = 0;          // datagrams that arrived
    std::uint64_t out = 0;         // datagrams sent on, copies included
    std::uint64_t lost = 0;        // lost on purpose
    std::uint64_t duplicated = 0;  // extra copies made
    std::uint64_t reordered = 0;   // held back behind the next datagram
    std::uint64_t truncated = 0;
    std::uint64_t corrupted = 0;
    std::uint64_t queueFull = 0;  // dropped: no room left to hold it
    std::uint64_t tooLong = 0;    // dropped: longer than MaxRelayedDatagramSize
    std::uint64_t refused = 0;    // dropped: from a new client with no client slot free (up only)
    std::uint64_t gone = 0;       // dropped: its client was forgotten while it was held
    std::uint64_t foreign = 0;    // dropped: arrived on a client's socket but not from the server (down only)
    std::uint64_t sendFailed = 0;  // dropped: the socket refused to send it
};

struct RelayCounters {
    DirectionCounters up;
    DirectionCounters down;
};

DirectionCounters& countersFor(RelayCounters& counters, Direction direction);

struct RelayState {
    Impairment up;
    Impairment down;
    Ipv4Endpoint server;
    bool impairing = true;
    RandomSource random;
    ClientTable clients;
    HeldSchedule held;
    RelayCounters counters;
};

RelayState makeRelayState(const RelayOptions& options);

// A datagram from a client, arrived `now`: admits the client (when that adds it, the caller opens
// its socket) and holds the datagram for the server. `bytes` may be damaged in place.
AdmissionResult acceptFromClient(RelayState& state, const Ipv4Endpoint& from, std::span<std::uint8_t> bytes,
                                 double now);

// A datagram that arrived `now` on the socket of the client in `slot`; held for that client when it
// comes from the server. `bytes` may be damaged in place.
void acceptFromServer(RelayState& state, std::uint32_t slot, const Ipv4Endpoint& from,
                      std::span<std::uint8_t> bytes, double now);

// From now on datagrams pass straight through: no loss, damage, copies, reordering or delay.
// Datagrams already held still go at their times.
void stopImpairing(RelayState& state);

enum class DepartureOutcome {
    Sent,
    SendFailed,
    ClientGone,  // clientOnRoute found no client for it
};

// Counts how the datagram firstDue gave went, and releases it.
void completeDeparture(RelayState& state, DepartureOutcome outcome);

// "status clients=N | up in=... | down in=..." with every counter and the datagrams held.
std::string formatStatusLine(const RelayState& state);

// "up: loss=0.25 duplicate=... | down: ..." for the start-up line.
std::string formatImpairments(const RelayState& state);

}  // namespace brassmoor
