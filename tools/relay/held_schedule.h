// The datagrams the relay holds back, each until its send time: bounded in number and in size.
//
// Datagrams leave in send-time order, and those with the same send time in the order they were
// held. Nothing is ever held without a time, so every datagram held is sent or dropped by the
// caller once its time comes. Times are monotonic seconds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace brassmoor {

// The largest datagram the relay carries: the client's own receive buffer, which a full snapshot
// (4091 bytes) fits.
inline constexpr std::size_t MaxRelayedDatagramSize = 4096;

enum class Direction : std::uint8_t {
    Up,    // client to server
    Down,  // server to client
};

// Where a held datagram goes: the client's slot in the client table, and that slot's generation
// when the datagram arrived, so that a slot handed to another client meanwhile is noticed.
struct Route {
    Direction direction;
    std::uint32_t clientSlot;
    std::uint32_t clientGeneration;
};

struct HeldDatagram {
    Route route;
    std::size_t length;
    std::array<std::uint8_t, MaxRelayedDatagramSize> bytes;
};

// Names one held datagram; 0 names none.
using HeldTicket = std::uint64_t;

struct ScheduleEntry {
    double sendTime;
    HeldTicket ticket;  // also the tie-break: a later ticket goes later
    std::uint32_t storeIndex;
};

struct HeldSchedule {
    std::size_t capacity = 0;
    std::vector<HeldDatagram> store;  // grows up to `capacity`, never beyond
    std::vector<std::uint32_t> freeStoreIndices;
    std::vector<ScheduleEntry> queue;  // the last to go first, so the next to go is at the back
    HeldTicket nextTicket = 1;
};

HeldSchedule makeHeldSchedule(std::size_t capacity);

// Copies the datagram in, to go at `sendTime`. Returns its ticket, or 0 when `capacity` datagrams are
// held already or it is longer than MaxRelayedDatagramSize (then nothing changes).
HeldTicket holdDatagram(HeldSchedule& schedule, double sendTime, const Route& route,
                        std::span<const std::uint8_t> bytes);

// Moves a held datagram to go at `sendTime`, after every other datagram with that send time. False
// when the ticket names nothing held (it was sent, or never held).
bool rescheduleBehind(HeldSchedule& schedule, HeldTicket ticket, double sendTime);

// The send time of the datagram that goes next; none when nothing is held.
std::optional<double> nextSendTime(const HeldSchedule& schedule);

// The datagram that goes next, if its time has come by `now`; null otherwise. It stays held until
// releaseFirst.
const HeldDatagram* firstDue(const HeldSchedule& schedule, double now);

// Forgets the datagram that goes next (after firstDue gave it); its room is free again.
void releaseFirst(HeldSchedule& schedule);

std::size_t heldCount(const HeldSchedule& schedule);
std::size_t heldCount(const HeldSchedule& schedule, Direction direction);

}  // namespace brassmoor
