// The relay's decisions, without a socket: impair, hold, release and count.
#include "relay_core.h"

#include <cstdio>

namespace brassmoor {

namespace {

std::size_t directionIndex(Direction direction) {
    return direction == Direction::Up ? 0 : 1;
}

void relay(RelayState& state, Direction direction, std::uint32_t slot, std::span<std::uint8_t> bytes,
           double now) {
    DirectionCounters& counters = countersFor(state.counters, direction);
    if (bytes.size() > MaxRelayedDatagramSize) {
        ++counters.tooLong;
        return;
    }
    RelayClient& client = state.clients.slots[slot];
    const Route route{direction, slot, client.generation};
    const Impairment clean{};
    const Impairment& impairment = !state.impairing             ? clean
                                   : direction == Direction::Up ? state.up
                                                                : state.down;
    const DatagramFate fate = impairDatagram(impairment, bytes, state.random);
    if (fate.lost) {
        ++counters.lost;
        return;
    }
    if (fate.truncated) ++counters.truncated;
    if (fate.corrupted) ++counters.corrupted;
    const std::span<const std::uint8_t> kept = bytes.first(fate.length);

    const double sendTime = now + fate.delaySeconds + (fate.reordered ? ReorderWaitSeconds : 0.0);
    HeldTicket& awaiting = client.awaitingFollower[directionIndex(direction)];
    const HeldTicket ticket = holdDatagram(state.held, sendTime, route, kept);
    if (ticket == 0) {
        ++counters.queueFull;
    } else {
        // This is the datagram the one held back was waiting for: that one now goes right after it,
        // so the two arrive the wrong way round. (One already sent by its time limit is not found.)
        if (awaiting != 0) {
            rescheduleBehind(state.held, awaiting, sendTime);
            awaiting = 0;
        }
        if (fate.reordered) {
            ++counters.reordered;
            awaiting = ticket;
        }
    }
    if (fate.duplicated) {
        ++counters.duplicated;
        if (holdDatagram(state.held, now + fate.copyDelaySeconds, route, kept) == 0) ++counters.queueFull;
    }
}

std::string formatCounters(const DirectionCounters& c, std::size_t held) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "in=%llu out=%llu lost=%llu duplicated=%llu reordered=%llu truncated=%llu corrupted=%llu "
                  "held=%zu full=%llu too-long=%llu refused=%llu gone=%llu foreign=%llu send-failed=%llu",
                  static_cast<unsigned long long>(c.in), static_cast<unsigned long long>(c.out),
                  static_cast<unsigned long long>(c.lost), static_cast<unsigned long long>(c.duplicated),
                  static_cast<unsigned long long>(c.reordered), static_cast<unsigned long long>(c.truncated),
                  static_cast<unsigned long long>(c.corrupted), held,
                  static_cast<unsigned long long>(c.queueFull), static_cast<unsigned long long>(c.tooLong),
                  static_cast<unsigned long long>(c.refused), static_cast<unsigned long long>(c.gone),
                  static_cast<unsigned long long>(c.foreign), static_cast<unsigned long long>(c.sendFailed));
    return line;
}

std::string formatImpairment(const Impairment& i) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "loss=%g duplicate=%g reorder=%g truncate=%g corrupt=%g delay=%gms jitter=%gms", i.loss,
                  i.duplicate, i.reorder, i.truncate, i.corrupt, i.delayMs, i.jitterMs);
    return line;
}

}  // namespace

DirectionCounters& countersFor(RelayCounters& counters, Direction direction) {
    return direction == Direction::Up ? counters.up : counters.down;
}

RelayState makeRelayState(const RelayOptions& options) {
    RelayState state;
    state.up = options.up;
    state.down = options.down;
    state.server = options.server;
    state.random = seedRandomSource(options.seed);
    state.clients = makeClientTable(options.maxClients);
    state.held = makeHeldSchedule(options.maxHeld);
    return state;
}

AdmissionResult acceptFromClient(RelayState& state, const Ipv4Endpoint& from, std::span<std::uint8_t> bytes,
                                 double now) {
    ++state.counters.up.in;
    const AdmissionResult admission = admitClient(state.clients, from, now);
    if (admission.admission == Admission::Full) {
        ++state.counters.up.refused;
    } else {
        relay(state, Direction::Up, admission.slot, bytes, now);
    }
    return admission;
}

void acceptFromServer(RelayState& state, std::uint32_t slot, const Ipv4Endpoint& from,
                      std::span<std::uint8_t> bytes, double now) {
    DirectionCounters& counters = state.counters.down;
    ++counters.in;
    if (!(from == state.server)) {
        ++counters.foreign;
    } else if (slot >= state.clients.slots.size() || !state.clients.slots[slot].inUse) {
        ++counters.gone;
    } else {
        relay(state, Direction::Down, slot, bytes, now);
    }
}

void stopImpairing(RelayState& state) {
    state.impairing = false;
}

void completeDeparture(RelayState& state, DepartureOutcome outcome) {
    if (state.held.queue.empty()) return;
    const HeldDatagram& first = state.held.store[state.held.queue.back().storeIndex];
    DirectionCounters& counters = countersFor(state.counters, first.route.direction);
    switch (outcome) {
        case DepartureOutcome::Sent:
            ++counters.out;
            break;
        case DepartureOutcome::SendFailed:
            ++counters.sendFailed;
            break;
        case DepartureOutcome::ClientGone:
            ++counters.gone;
            break;
    }
    releaseFirst(state.held);
}

std::string formatStatusLine(const RelayState& state) {
    return "status clients=" + std::to_string(clientCount(state.clients)) + " | up " +
           formatCounters(state.counters.up, heldCount(state.held, Direction::Up)) + " | down " +
           formatCounters(state.counters.down, heldCount(state.held, Direction::Down));
}

std::string formatImpairments(const RelayState& state) {
    return "up: " + formatImpairment(state.up) + " | down: " + formatImpairment(state.down);
}

}  // namespace brassmoor
