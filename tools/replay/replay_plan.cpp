// What the replayer sends and when: streams from the server's port, and the schedule of one.
#include "replay_plan.h"

#include <algorithm>

#include "net/datagram.h"
#include "net/wire_bytes.h"

namespace brassmoor {

namespace {

bool sameStream(const ReplayStream& stream, const CapturedDatagram& datagram) {
    return stream.server == datagram.source && stream.client == datagram.destination;
}

}  // namespace

std::vector<ReplayStream> findStreams(const CaptureContents& contents, std::uint16_t serverPort) {
    std::vector<ReplayStream> streams;
    for (const CapturedDatagram& datagram : contents.datagrams) {
        if (datagram.source.port != serverPort) continue;
        auto found = std::find_if(streams.begin(), streams.end(),
                                  [&](const ReplayStream& stream) { return sameStream(stream, datagram); });
        if (found == streams.end()) {
            streams.push_back(ReplayStream{datagram.source, datagram.destination, 0, datagram.seconds, datagram.seconds});
            found = streams.end() - 1;
        }
        ++found->datagrams;
        found->lastSeconds = datagram.seconds;
    }
    return streams;
}

std::vector<std::uint16_t> portsSendingSnapshots(const CaptureContents& contents) {
    std::vector<std::uint16_t> ports;
    for (const CapturedDatagram& datagram : contents.datagrams) {
        if (datagram.payload.size() < DatagramHeaderSize || !hasDatagramHeader(datagram.payload, SnapshotDatagramType))
            continue;
        if (std::find(ports.begin(), ports.end(), datagram.source.port) == ports.end())
            ports.push_back(datagram.source.port);
    }
    return ports;
}

ReplayPlan planReplay(const CaptureContents& contents, const ReplayStream& stream, double speed) {
    ReplayPlan plan;
    double previous = 0.0;
    for (const CapturedDatagram& datagram : contents.datagrams) {
        if (!sameStream(stream, datagram)) continue;
        const double at = std::max(previous, (datagram.seconds - stream.firstSeconds) / speed);
        plan.datagrams.push_back(ScheduledDatagram{at, datagram.payload});
        previous = at;
    }
    const std::size_t count = plan.datagrams.size();
    const double span = count == 0 ? 0.0 : plan.datagrams.back().atSeconds;
    const double meanGap = count > 1 ? span / static_cast<double>(count - 1) : 0.0;
    plan.roundSeconds = span + std::max(meanGap, ShortestLoopGapSeconds);
    return plan;
}

double dueAt(const ReplayPlan& plan, const ReplayCursor& cursor) {
    return static_cast<double>(cursor.round) * plan.roundSeconds + plan.datagrams[cursor.index].atSeconds;
}

bool advanceCursor(const ReplayPlan& plan, ReplayCursor& cursor, bool loop) {
    if (plan.datagrams.empty()) return false;
    if (cursor.index + 1 < plan.datagrams.size()) {
        ++cursor.index;
        return true;
    }
    if (!loop) return false;
    cursor.index = 0;
    ++cursor.round;
    return true;
}

}  // namespace brassmoor
