// The server's socket loop around its pure core: open, serve one wake-up at a time, close.
//
// brassmoor-server serves until a stop request; brassmoor-play serves a practice or LAN game in its
// own process while it watches the client it started, so the loop is a step the caller repeats.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bots.h"
#include "capture_file.h"
#include "duration_histogram.h"
#include "info_answers.h"
#include "net/datagram.h"
#include "net/socket_layer.h"
#include "options.h"
#include "registry.h"
#include "server_figures.h"
#include "server_socket.h"
#include "snapshot_builder.h"

namespace brassmoor {

// The longest a step waits, so that a stop request that lands just before a wait is seen soon even
// at low rates.
inline constexpr int MaxServerWaitMilliseconds = 200;

struct Server {
    ServerOptions options;
    std::FILE* log = nullptr;        // where the listening, join, leave and status lines go; null: nowhere
    CaptureFile* capture = nullptr;  // where every datagram received and sent is written; null: nowhere
    SocketHandle socket = InvalidSocketHandle;
    Ipv4Endpoint local;                     // the address and port the socket is bound to
    std::optional<int> receiveBufferBytes;  // the receive queue the system granted, when it says
    IdSource ids;
    BotWorld bots;
    ClientRegistry registry;
    TrafficCounters counters;
    QueryAllowance queryAllowance;
    std::uint32_t instance = 0;  // told in info answers, drawn at random when the server opens
    SnapshotWork snapshots;
    DatagramBatch incoming;
    DatagramBatch outgoing;
    DurationHistogram tickTimes;  // since the last status line
    TickDurations tickDurations;  // since the start, for the metrics
    std::uint64_t ticks = 0;
    double lastTick = 0.0;           // monotonic seconds when the last tick ran (the start, before the first)
    std::optional<double> lastPose;  // when a client's pose last came, once one has
    // Datagrams the system dropped on the socket since it opened, where it says; its own count
    // wraps at 2^32, so it is read every tick and the steps added up here.
    std::optional<std::uint64_t> systemDrops;
    std::uint32_t lastDropReading = 0;
    double lastBotStep = 0.0;
    double nextTick = 0.0;
    double nextStatus = 0.0;
};

// Starts the sockets library, binds the socket, starts the bots and logs the listening line. False,
// with `error` set to one line and nothing left open, when the address cannot be used or taken.
bool openServer(const ServerOptions& options, std::FILE* log, Server& server, std::string& error);

// One wake-up: ticks and logs the status when they are due, then waits for datagrams until the next
// is due (at most `maxWaitMilliseconds`), reads what came, and pauses a millisecond (never past a
// tick or the wait) so that the next wake-up reads many datagrams at once. False when waiting failed; it
// would fail again at once, so the caller should close the server.
bool serveOnce(Server& server, int maxWaitMilliseconds = MaxServerWaitMilliseconds);

// Takes one received datagram: answers an info query from `from`, or hands a pose to the registry.
void takeDatagram(Server& server, std::span<const std::uint8_t> bytes, const sockaddr_in& from, double now);

// Logs the status line, closes the socket and stops the sockets library.
void closeServer(Server& server);

// The figures to publish after a tick: a copy, so whoever reads it never touches the server.
ServerFigures serverFigures(const Server& server);

// What an info answer tells about this server now.
ServerInfo currentServerInfo(const Server& server);

}  // namespace brassmoor
