// The table of checks in flight, matched against what arrives on the list's socket.
#include "pending_checks.h"

#include "game_entry.h"

namespace brassmoor {

StartedCheck startCheck(PendingChecks& checks, std::uint32_t address, std::uint32_t nonce, double now) {
    if (const auto found = checks.byAddress.find(address); found != checks.byAddress.end()) {
        return StartedCheck{found->second.id, false, found->second.nonce};
    }
    if (checks.byAddress.size() >= checks.capacity) return StartedCheck{};
    const std::uint64_t id = checks.nextId++;
    const double deadline = now + CheckTimeoutSeconds;
    checks.byAddress.emplace(address, PendingChecks::Check{id, nonce});
    checks.deadlines.push_back(PendingChecks::Deadline{deadline, address, id});
    return StartedCheck{id, true, nonce};
}

std::optional<CheckOutcome> takeAnswer(PendingChecks& checks, const Ipv4Endpoint& from,
                                       std::span<const std::uint8_t> bytes) {
    if (from.port != GamePort) return std::nullopt;
    const auto found = checks.byAddress.find(from.address);
    if (found == checks.byAddress.end()) return std::nullopt;
    std::uint32_t nonce = 0;
    ServerInfo info;
    if (!decodeInfoAnswer(bytes, nonce, info) || nonce != found->second.nonce) return std::nullopt;
    CheckOutcome outcome{found->second.id, from.address, true, std::move(info)};
    // Its entry in `deadlines` stays until it comes due, and is then found gone.
    checks.byAddress.erase(found);
    return outcome;
}

void expireChecks(PendingChecks& checks, double now, std::vector<CheckOutcome>& expired) {
    while (!checks.deadlines.empty() && checks.deadlines.front().at <= now) {
        const PendingChecks::Deadline due = checks.deadlines.front();
        checks.deadlines.pop_front();
        const auto found = checks.byAddress.find(due.address);
        // A check answered (or cancelled) and started again is a check of its own, with its own deadline.
        if (found == checks.byAddress.end() || found->second.id != due.id) continue;
        expired.push_back(CheckOutcome{due.id, due.address, false, {}});
        checks.byAddress.erase(found);
    }
}

void cancelCheck(PendingChecks& checks, std::uint32_t address) {
    checks.byAddress.erase(address);
}

}  // namespace brassmoor
