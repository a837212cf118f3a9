// The server's side of the info query: the allowance and the answer.
#include "info_answers.h"

#include <algorithm>

#include "net/wire_bytes.h"

namespace brassmoor {

QueryAllowance makeQueryAllowance(double now) {
    return QueryAllowance{QueryAnswersPerSecond, now};
}

bool isInfoQuery(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= DatagramHeaderSize && hasDatagramHeader(bytes, InfoQueryType);
}

QueryOutcome takeInfoQuery(QueryAllowance& allowance, TrafficCounters& counters,
                           std::span<const std::uint8_t> bytes, double now, const ServerInfo& info,
                           InfoAnswerBytes& answer) {
    if (!isInfoQuery(bytes)) return QueryOutcome::NotAQuery;
    ++counters.datagramsIn;
    std::uint32_t nonce = 0;
    if (!decodeInfoQuery(bytes, nonce)) {
        ++counters.dropped;
        return QueryOutcome::Dropped;
    }
    // A clock that went back (it should not) refills nothing rather than draining the bucket.
    const double elapsed = std::max(0.0, now - allowance.updatedAt);
    allowance.available =
        std::min(QueryAnswersPerSecond, allowance.available + elapsed * QueryAnswersPerSecond);
    allowance.updatedAt = now;
    if (allowance.available < 1.0) {
        ++counters.queriesRefused;
        return QueryOutcome::Refused;
    }
    allowance.available -= 1.0;
    ++counters.queriesAnswered;
    answer = encodeInfoAnswerFor(bytes.size(), nonce, info);
    return QueryOutcome::Answered;
}

}  // namespace brassmoor
