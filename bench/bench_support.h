// Shared pieces of the benchmarks: players placed in view, a loopback socket, and a
// console reporter that keeps the figures so a summary can compare them afterwards.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <benchmark/benchmark.h>

#include "net/datagram.h"
#include "net/peer_table.h"
#include "net/socket_layer.h"
#include "render/camera.h"

namespace brassmoor {

// `count` players standing in front of a player at (0, 0) who looks along +Y (the start
// view), rows of 17 from 6 to 28 units away, all inside the field of view. At most 204.
std::vector<SnapshotEntry> entriesInView(int count);
PeerTable peersInView(int count);

// A whole snapshot datagram listing entriesInView(count), with a selfId none of them has.
std::vector<std::uint8_t> snapshotInView(int count);

// A non-blocking UDP socket bound to 127.0.0.1 on a port the system picks.
struct LoopbackSocket {
    SocketHandle handle = InvalidSocketHandle;
    sockaddr_in address{};  // where it can be reached
};
std::optional<LoopbackSocket> openLoopbackSocket();
// Binds an already open socket (such as a ServerLink's) to 127.0.0.1 and says where it is.
std::optional<sockaddr_in> bindToLoopback(SocketHandle handle);
// Asks for a receive queue of this many bytes (the system may grant less).
void setReceiveBuffer(SocketHandle handle, int bytes);
// Empties a non-blocking socket's receive queue; the number of datagrams taken.
int discardQueued(SocketHandle handle);

// A count shown as an average per iteration (per frame, per drain).
benchmark::Counter perIteration(std::uint64_t count);

// One benchmark's figures as the console showed them: one run, or an aggregate of repetitions.
struct Figure {
    std::string name;
    std::string aggregate;  // "median", "min", ...; empty for a single run
    double realNanoseconds = 0.0;  // per iteration
    benchmark::UserCounters counters;
};

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    RecordingReporter();  // colours only on a terminal
    void ReportRuns(const std::vector<Run>& runs) override;
    // The median of the repetitions when the benchmark was repeated, else its only run.
    std::optional<Figure> find(std::string_view name) const;
    // One aggregate of the repetitions ("min" where the benchmark asked for it).
    std::optional<Figure> findAggregate(std::string_view name, std::string_view aggregate) const;
    std::optional<double> counter(std::string_view name, const std::string& counterName) const;

private:
    std::vector<Figure> figures;
};

}  // namespace brassmoor
