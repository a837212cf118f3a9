// The datagrams the relay holds back, each until its send time: bounded in number and in size.
#include "held_schedule.h"

#include <algorithm>
#include <cstring>

namespace brassmoor {

namespace {

bool goesBefore(const ScheduleEntry& a, const ScheduleEntry& b) {
    return a.sendTime != b.sendTime ? a.sendTime < b.sendTime : a.ticket < b.ticket;
}

// Keeps the queue ordered with the next to go at the back. A few hundred entries at most are
// usual, so a sorted vector beats a heap: it can also move an entry, which reordering needs.
void enqueue(HeldSchedule& schedule, const ScheduleEntry& entry) {
    const auto place = std::lower_bound(
        schedule.queue.begin(), schedule.queue.end(), entry,
        [](const ScheduleEntry& queued, const ScheduleEntry& added) { return goesBefore(added, queued); });
    schedule.queue.insert(place, entry);
}

}  // namespace

HeldSchedule makeHeldSchedule(std::size_t capacity) {
    HeldSchedule schedule;
    schedule.capacity = capacity;
    schedule.queue.reserve(capacity);
    // Address space only: pages are touched as datagrams are held, and nothing moves as it fills.
    schedule.store.reserve(capacity);
    return schedule;
}

HeldTicket holdDatagram(HeldSchedule& schedule, double sendTime, const Route& route,
                        std::span<const std::uint8_t> bytes) {
    if (bytes.size() > MaxRelayedDatagramSize || schedule.queue.size() >= schedule.capacity) return 0;
    std::uint32_t index = 0;
    if (!schedule.freeStoreIndices.empty()) {
        index = schedule.freeStoreIndices.back();
        schedule.freeStoreIndices.pop_back();
    } else {
        index = static_cast<std::uint32_t>(schedule.store.size());
        schedule.store.emplace_back();
    }
    HeldDatagram& held = schedule.store[index];
    held.route = route;
    held.length = bytes.size();
    if (!bytes.empty()) std::memcpy(held.bytes.data(), bytes.data(), bytes.size());

    const HeldTicket ticket = schedule.nextTicket++;
    enqueue(schedule, ScheduleEntry{sendTime, ticket, index});
    return ticket;
}

bool rescheduleBehind(HeldSchedule& schedule, HeldTicket ticket, double sendTime) {
    const auto found = std::find_if(schedule.queue.begin(), schedule.queue.end(),
                                    [&](const ScheduleEntry& entry) { return entry.ticket == ticket; });
    if (ticket == 0 || found == schedule.queue.end()) return false;
    const std::uint32_t index = found->storeIndex;
    schedule.queue.erase(found);
    // A fresh ticket puts it after everything already held for the same time.
    enqueue(schedule, ScheduleEntry{sendTime, schedule.nextTicket++, index});
    return true;
}

std::optional<double> nextSendTime(const HeldSchedule& schedule) {
    if (schedule.queue.empty()) return std::nullopt;
    return schedule.queue.back().sendTime;
}

const HeldDatagram* firstDue(const HeldSchedule& schedule, double now) {
    if (schedule.queue.empty() || schedule.queue.back().sendTime > now) return nullptr;
    return &schedule.store[schedule.queue.back().storeIndex];
}

void releaseFirst(HeldSchedule& schedule) {
    if (schedule.queue.empty()) return;
    schedule.freeStoreIndices.push_back(schedule.queue.back().storeIndex);
    schedule.queue.pop_back();
}

std::size_t heldCount(const HeldSchedule& schedule) {
    return schedule.queue.size();
}

std::size_t heldCount(const HeldSchedule& schedule, Direction direction) {
    return static_cast<std::size_t>(
        std::count_if(schedule.queue.begin(), schedule.queue.end(), [&](const ScheduleEntry& entry) {
            return schedule.store[entry.storeIndex].route.direction == direction;
        }));
}

}  // namespace brassmoor
