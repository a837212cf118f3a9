// What the replayer sends and when: the capture's streams from the server's port, and one of them
// laid out as a schedule of offsets from the start of the replay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "capture_reader.h"
#include "ipv4_endpoint.h"

namespace brassmoor {

// A round of a --loop replay starts this long after the previous round's last datagram: the
// stream's mean interval between datagrams, but never less than this (a stream of one datagram, or
// one recorded within a single instant, would otherwise be sent as fast as the socket goes).
inline constexpr double ShortestLoopGapSeconds = 0.01;

// The datagrams one server endpoint sent to one client endpoint.
struct ReplayStream {
    Ipv4Endpoint server;
    Ipv4Endpoint client;
    std::size_t datagrams = 0;
    double firstSeconds = 0.0;  // time stamps of its first and last datagrams
    double lastSeconds = 0.0;
};

// Every stream sent from `serverPort`, in the order of their first datagrams.
std::vector<ReplayStream> findStreams(const CaptureContents& contents, std::uint16_t serverPort);

// Source ports of the datagrams that start like a snapshot ("KV01", type 2), each once, in order of
// appearance: what to suggest when the chosen port sent nothing.
std::vector<std::uint16_t> portsSendingSnapshots(const CaptureContents& contents);

struct ScheduledDatagram {
    double atSeconds = 0.0;  // after the start of its round
    std::span<const std::uint8_t> bytes;  // into the capture's bytes
};

struct ReplayPlan {
    std::vector<ScheduledDatagram> datagrams;  // in capture order; times never go back
    double roundSeconds = 0.0;                 // from the start of one round to the start of the next
};

// The stream's datagrams at their recorded offsets from its first one, divided by `speed` (above
// 0). A time stamp earlier than the one before it (files merged, a clock set back) is sent right
// after the one before.
ReplayPlan planReplay(const CaptureContents& contents, const ReplayStream& stream, double speed);

// A place in the plan: which datagram is next, in which round (0 first).
struct ReplayCursor {
    std::size_t index = 0;
    std::uint64_t round = 0;
};

// Seconds after the replay started when the datagram at `cursor` is due.
double dueAt(const ReplayPlan& plan, const ReplayCursor& cursor);

// Moves to the next datagram; after the last, to the first of the next round when looping. False
// when there is none (the plan is done, or empty).
bool advanceCursor(const ReplayPlan& plan, ReplayCursor& cursor, bool loop);

}  // namespace brassmoor
