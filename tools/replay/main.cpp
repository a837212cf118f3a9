// brassmoor-replay: a stand-in server that sends a client the datagrams a capture recorded, on their
// recorded schedule, once the client's first pose has arrived; ends after the last (or on a stop
// request: Ctrl-C or SIGTERM).
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "capture_reader.h"
#include "datagram_text.h"
#include "monotonic_clock.h"
#include "net/datagram.h"
#include "net/socket_layer.h"
#include "replay_options.h"
#include "replay_plan.h"
#include "socket_address.h"
#include "stop_request.h"

namespace brassmoor {
namespace {

// The longest wait, so that a stop request is seen soon.
constexpr int MaxWaitMilliseconds = 200;

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
int fail(const char* format, ...) {
    std::fputs("brassmoor-replay: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    return 1;
}

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = errno != 0 ? std::strerror(errno) : "cannot open it";
        return false;
    }
    std::uint8_t chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool failed = std::ferror(file) != 0;
    if (failed) error = errno != 0 ? std::strerror(errno) : "read failed";
    std::fclose(file);
    return !failed;
}

std::string describeStream(const ReplayStream& stream) {
    char text[160];
    std::snprintf(text, sizeof text, "%s -> %s: %zu datagrams over %.3f s", formatIpv4Endpoint(stream.server).c_str(),
                  formatIpv4Endpoint(stream.client).c_str(), stream.datagrams, stream.lastSeconds - stream.firstSeconds);
    return text;
}

std::string portList(const std::vector<std::uint16_t>& ports) {
    std::string text;
    for (std::uint16_t port : ports)
        text += (text.empty() ? "" : ", ") + std::to_string(port);
    return text;
}

int waitMilliseconds(double wait) {
    if (wait <= 0.0) return 0;
    return static_cast<int>(std::min(std::ceil(wait * 1000.0), double{MaxWaitMilliseconds}));
}

// Waits up to `milliseconds` and takes every waiting datagram off the socket; the first pose among
// them names the client, when it has none yet. False when waiting failed.
bool waitAndDrain(SocketHandle socket, int milliseconds, std::optional<Ipv4Endpoint>& client) {
    bool readable[1] = {false};
    const int ready = waitForDatagrams(std::span<const SocketHandle>(&socket, 1), milliseconds, readable);
    if (ready < 0) return false;
    std::uint8_t buffer[ReceiveBufferSize];
    for (int i = 0; ready > 0 && i < 1000; ++i) {
        sockaddr_in from{};
        const int length = receiveDatagramFrom(socket, buffer, static_cast<int>(sizeof buffer), from);
        if (length < 0) break;
        PoseDatagram pose{};
        if (!client && decodePoseDatagram(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(length)), pose))
            client = toIpv4Endpoint(from);
    }
    return true;
}

struct Replay {
    ReplayOptions options;
    std::vector<std::uint8_t> fileBytes;
    CaptureContents contents;
    ReplayPlan plan;
    SocketHandle socket = InvalidSocketHandle;
    Ipv4Endpoint listening;  // where the socket is bound, the port the system chose included
};

// Reads the capture and picks the stream; prints what it found. False after printing why not.
bool prepare(Replay& replay) {
    const ReplayOptions& options = replay.options;
    const char* path = options.capturePath.c_str();
    std::string error;
    if (!readWholeFile(options.capturePath, replay.fileBytes, error)) {
        fail("cannot read '%s': %s", path, error.c_str());
        return false;
    }
    if (!readCapture(replay.fileBytes, replay.contents, error)) {
        fail("'%s': %s", path, error.c_str());
        return false;
    }
    const CaptureContents& contents = replay.contents;
    if (contents.cutShort) {
        std::fprintf(stderr,
                     "brassmoor-replay: '%s' ends inside record %zu (byte %zu), as a capture stopped by a full disk "
                     "does: the %zu records before it are replayed\n",
                     path, contents.records + 1, contents.cutShortAt, contents.records);
    }
    std::printf("capture '%s': %zu records, %zu UDP datagrams\n", path, contents.records, contents.datagrams.size());

    const std::vector<ReplayStream> streams = findStreams(contents, options.serverPort);
    if (streams.empty()) {
        const std::vector<std::uint16_t> ports = portsSendingSnapshots(contents);
        fail("'%s' holds no datagram sent from port %u%s%s", path, unsigned{options.serverPort},
             ports.empty() ? "" : "; snapshots were sent from port ", portList(ports).c_str());
        return false;
    }
    const ReplayStream* chosen = &streams.front();
    if (options.client) {
        auto found = std::find_if(streams.begin(), streams.end(),
                                  [&](const ReplayStream& stream) { return stream.client == *options.client; });
        if (found == streams.end()) {
            std::string clients;
            for (const ReplayStream& stream : streams)
                clients += (clients.empty() ? "" : ", ") + formatIpv4Endpoint(stream.client);
            fail("'%s' holds no datagram from port %u to %s; it was sent to %s", path, unsigned{options.serverPort},
                 formatIpv4Endpoint(*options.client).c_str(), clients.c_str());
            return false;
        }
        chosen = &*found;
    }
    for (const ReplayStream& stream : streams)
        std::printf("stream %s\n", describeStream(stream).c_str());
    replay.plan = planReplay(contents, *chosen, options.speed);
    std::printf("replaying %s at speed %g%s\n", describeStream(*chosen).c_str(), options.speed,
                options.loop ? ", looping" : "");
    return true;
}

bool openSocket(Replay& replay) {
    const std::string listenName = formatIpv4Endpoint(replay.options.listen);
    if (!startSocketLibrary()) {
        fail("cannot start the sockets library");
        return false;
    }
    replay.socket = openUdpSocket();
    if (replay.socket == InvalidSocketHandle) {
        fail("cannot create a UDP socket: %s", lastSocketError().c_str());
        stopSocketLibrary();
        return false;
    }
    makeNonBlocking(replay.socket);
    sockaddr_in local = toSocketAddress(replay.options.listen);
    if (!bindUdpSocket(replay.socket, local) || !localEndpoint(replay.socket, local)) {
        fail("cannot listen on %s: %s", listenName.c_str(), lastSocketError().c_str());
        closeSocket(replay.socket);
        stopSocketLibrary();
        return false;
    }
    replay.listening = toIpv4Endpoint(local);
    return true;
}

void closeSocketAndLibrary(Replay& replay) {
    closeSocket(replay.socket);
    stopSocketLibrary();
}

// Sends the plan to `client` until it is done or a stop is asked for. False when waiting failed.
bool sendPlan(const Replay& replay, const Ipv4Endpoint& client, std::uint64_t& sent) {
    const ReplayPlan& plan = replay.plan;
    const sockaddr_in to = toSocketAddress(client);
    const double start = monotonicSeconds();
    // Poses that go on arriving are taken off the socket, and change nothing.
    std::optional<Ipv4Endpoint> known = client;
    ReplayCursor cursor;
    bool more = !plan.datagrams.empty();
    while (more && stopRequest() == 0) {
        const double elapsed = monotonicSeconds() - start;
        const double due = dueAt(plan, cursor);
        if (due > elapsed) {
            if (!waitAndDrain(replay.socket, waitMilliseconds(due - elapsed), known)) return false;
            continue;
        }
        const std::span<const std::uint8_t> bytes = plan.datagrams[cursor.index].bytes;
        const std::string round = replay.options.loop ? "round " + std::to_string(cursor.round + 1) + ", " : "";
        if (sendDatagram(replay.socket, bytes.data(), static_cast<int>(bytes.size()), to) < 0) {
            std::printf("%snot sent %zu/%zu at %.3f s: %s\n", round.c_str(), cursor.index + 1, plan.datagrams.size(),
                        elapsed, lastSocketError().c_str());
        } else {
            ++sent;
            std::printf("%ssent %zu/%zu at %.3f s: %s (%zu bytes)\n", round.c_str(), cursor.index + 1,
                        plan.datagrams.size(), elapsed, describeDatagram(bytes).c_str(), bytes.size());
        }
        more = advanceCursor(plan, cursor, replay.options.loop);
    }
    return true;
}

int run(const ReplayOptions& options) {
    if (!installStopHandlers()) return fail("cannot install signal handlers: %s", stopHandlerError().c_str());
    Replay replay;
    replay.options = options;
    if (!prepare(replay) || !openSocket(replay)) return 1;

    std::printf("listening on %s for a client's first pose\n", formatIpv4Endpoint(replay.listening).c_str());
    std::optional<Ipv4Endpoint> client;
    while (!client && stopRequest() == 0) {
        if (!waitAndDrain(replay.socket, MaxWaitMilliseconds, client)) {
            closeSocketAndLibrary(replay);
            return fail("waiting for datagrams failed");
        }
    }
    std::uint64_t sent = 0;
    const double start = monotonicSeconds();
    if (client) {
        std::printf("client %s posed; replaying\n", formatIpv4Endpoint(*client).c_str());
        if (!sendPlan(replay, *client, sent)) {
            closeSocketAndLibrary(replay);
            return fail("waiting for datagrams failed");
        }
    }
    if (stopRequest() != 0) std::printf("stopping on signal %d\n", stopRequest());
    std::printf("sent %llu datagrams in %.3f s\n", static_cast<unsigned long long>(sent), monotonicSeconds() - start);
    closeSocketAndLibrary(replay);
    return 0;
}

}  // namespace
}  // namespace brassmoor

int main(int argc, char** argv) {
    return brassmoor::runHelperProgram(argc, argv, "brassmoor-replay", brassmoor::replayUsageText(),
                                       brassmoor::parseReplayOptions, brassmoor::run);
}
