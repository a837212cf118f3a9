// The server's table of connected clients: who they are, where they stand, when they were last heard.
//
// A client is known only by the IPv4 address and UDP port its poses come from. It joins with its
// first well-formed pose, gets an id that is never handed out again in the same run, and is forgotten
// once it has sent no well-formed pose for longer than the timeout. Times are monotonic seconds.
//
// Source addresses of UDP datagrams can be forged, so the server must not become an amplifier: the
// table holds at most `maxClients` clients (a pose from a new address beyond that is refused), and
// each client is sent no more snapshots than the poses it has sent. Every accepted pose earns one
// snapshot of credit, banked up to SnapshotCreditAllowance so that a late or lost pose does not cost
// a snapshot; each snapshot spends one. A forged pose thus draws at most one snapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "ipv4_endpoint.h"
#include "net/datagram.h"

namespace brassmoor {

// Where a client's datagrams come from, both numbers in host byte order.
using ClientAddress = Ipv4Endpoint;

// Hands out player ids for clients and bots alike: 1, 2, 3, ... and never the same one twice.
struct IdSource {
    std::uint32_t next = 1;
};

std::uint32_t takeId(IdSource& ids);

// The most snapshots a client can have banked: a pose arriving just after a tick is not lost, but a
// burst of poses cannot buy a burst of snapshots.
inline constexpr std::uint32_t SnapshotCreditAllowance = 3;

// How many clients the table holds unless told otherwise.
inline constexpr std::size_t DefaultMaxClients = 64;

struct Client {
    std::uint32_t id;
    ClientAddress address;
    PeerState state;                   // the last pose's x, y, z and yaw, as received
    double lastHeard;                  // seconds, when the last well-formed pose arrived
    std::uint32_t snapshotCredit = 1;  // snapshots earned and not yet sent, 0 to SnapshotCreditAllowance
};

struct TrafficCounters {
    std::uint64_t datagramsIn = 0;   // every datagram received, well-formed or not
    std::uint64_t datagramsOut = 0;  // snapshots handed to the socket
    std::uint64_t dropped = 0;       // received datagrams that were neither well-formed poses nor queries
    std::uint64_t sendFailures = 0;  // snapshots the socket refused
    std::uint64_t refused = 0;       // well-formed poses from new addresses while the table was full
    std::uint64_t withheld = 0;      // snapshots not sent to a client because it had no credit
    std::uint64_t queriesAnswered = 0;  // info queries answered
    std::uint64_t queriesRefused = 0;   // info queries beyond the allowance, not answered
    std::uint64_t poses = 0;            // well-formed poses taken from clients (joins included)
    std::uint64_t bytesIn = 0;          // payload bytes of every datagram received
    std::uint64_t bytesOut = 0;         // payload bytes of every snapshot and answer the socket took
};

struct ClientRegistry {
    std::vector<Client> clients;  // in ascending id order
    std::unordered_map<std::uint64_t, std::uint32_t> idByAddress;
    std::size_t maxClients = DefaultMaxClients;  // a new address finds no room beyond this many
};

enum class PoseOutcome {
    Dropped,  // not a well-formed pose; counted and otherwise ignored
    Refused,  // a well-formed pose from a new address while the table is full; counted and ignored
    Joined,   // a well-formed pose from an address not known before
    Updated,  // a well-formed pose from a known client
};

struct PoseResult {
    PoseOutcome outcome;
    std::uint32_t clientId;  // 0 when dropped or refused
};

// Takes one received datagram: counts it, and either drops or refuses it or records the pose for its
// sender, who earns one snapshot of credit by it. A client joins with the credit of that first pose.
PoseResult acceptDatagram(ClientRegistry& registry, IdSource& ids, TrafficCounters& counters,
                          const ClientAddress& from, std::span<const std::uint8_t> bytes, double now);

// Called for each client on each tick: true when the client has credit for a snapshot, which is
// then spent; false, counted as withheld, when it has not earned one since its last snapshot.
bool spendSnapshotCredit(Client& client, TrafficCounters& counters);

// Removes every client not heard from for more than `timeoutSeconds`; returns them, in id order.
std::vector<Client> forgetSilentClients(ClientRegistry& registry, double now, double timeoutSeconds);

// The client with this id, or null.
const Client* findClient(const ClientRegistry& registry, std::uint32_t id);

}  // namespace brassmoor
