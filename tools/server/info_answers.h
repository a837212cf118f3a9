// The server's side of the info query: who gets an answer, and how many answers go out.
//
// Queries come from anyone and their source address can be forged, so the server answers at most
// QueryAnswersPerSecond of them in all (a bucket of that many, refilled at that rate), never answers
// a query shorter than the answer nor with more bytes than the query had, and never takes a
// querier for a client.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "registry.h"
#include "server_info.h"

namespace brassmoor {

inline constexpr double QueryAnswersPerSecond = 50.0;

struct QueryAllowance {
    double available = QueryAnswersPerSecond;  // answers that may go out now
    double updatedAt = 0.0;                    // seconds, when `available` was last refilled
};

QueryAllowance makeQueryAllowance(double now);

enum class QueryOutcome {
    NotAQuery,  // not type 3: the pose path takes it
    Dropped,    // type 3 but shorter than the answer; counted as dropped
    Refused,    // a query beyond the allowance; counted
    Answered,   // `answer` holds the bytes to send back to the query's source
};

// True when the datagram claims to be an info query (type 3), whole or not: what decides whether the
// info of an answer is worth building.
bool isInfoQuery(std::span<const std::uint8_t> bytes);

// Takes a received datagram that may be a query. For a query it counts the datagram in, and either
// answers it (filling `answer` with `info` and the query's nonce, the name as far as the query's
// length leaves room), refuses it or drops it.
QueryOutcome takeInfoQuery(QueryAllowance& allowance, TrafficCounters& counters,
                           std::span<const std::uint8_t> bytes, double now, const ServerInfo& info,
                           InfoAnswerBytes& answer);

}  // namespace brassmoor
