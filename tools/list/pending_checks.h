// The checks under way: which address was sent which nonce, and until when its answer counts. An
// answer completes a check only when it comes from that address, from port 40123, with that nonce;
// anything else on the list's socket is ignored, so nobody can list an address that does not answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "ipv4_endpoint.h"
#include "server_info.h"

namespace brassmoor {

// How long a game has to answer.
inline constexpr double CheckTimeoutSeconds = 2.0;

struct PendingChecks {
    struct Check {
        std::uint64_t id = 0;
        std::uint32_t nonce = 0;
    };
    std::size_t capacity = 4096;                         // checks in flight at most
    std::unordered_map<std::uint32_t, Check> byAddress;  // one check per address at a time
    // Deadlines in the order checks started, which is their order too (the timeout is fixed).
    struct Deadline {
        double at = 0.0;
        std::uint32_t address = 0;
        std::uint64_t id = 0;
    };
    std::deque<Deadline> deadlines;
    std::uint64_t nextId = 1;
};

struct StartedCheck {
    std::uint64_t id = 0;     // 0: the table is full, nothing started
    bool needsQuery = false;  // a new check: send its query; false when joining one under way
    std::uint32_t nonce = 0;  // the check's nonce: the new one, or that of the check joined
};

// Starts checking `address` with `nonce` at `now`; an address already being checked shares that check.
StartedCheck startCheck(PendingChecks& checks, std::uint32_t address, std::uint32_t nonce, double now);

struct CheckOutcome {
    std::uint64_t id = 0;
    std::uint32_t address = 0;
    bool answered = false;
    ServerInfo info;  // with answered
};

// A datagram received from `from`: the check it answers, which leaves the table; nothing for any
// datagram that is not an info answer from a checked address and port 40123 with that check's nonce.
std::optional<CheckOutcome> takeAnswer(PendingChecks& checks, const Ipv4Endpoint& from,
                                       std::span<const std::uint8_t> bytes);

// Removes the checks whose deadline has passed at `now`, adding each to `expired` unanswered.
void expireChecks(PendingChecks& checks, double now, std::vector<CheckOutcome>& expired);

// Forgets the check of `address`, if any (its game asked to leave the list); a later answer is ignored.
void cancelCheck(PendingChecks& checks, std::uint32_t address);

}  // namespace brassmoor
