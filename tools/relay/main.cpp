// brassmoor-relay: the socket loop around the relay core. One socket listens for the clients, each
// client has a socket of its own towards the server; the loop waits through the socket layer until a
// datagram arrives or a held one is due, and ends on a stop request (Ctrl-C or SIGTERM).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "capture_file.h"
#include "impairment_switch.h"
#include "monotonic_clock.h"
#include "net/socket_layer.h"
#include "relay_core.h"
#include "relay_options.h"
#include "socket_address.h"
#include "stop_request.h"

namespace brassmoor {
namespace {

// The longest wait, so a stop request, the status line and idle clients are seen to in good time.
constexpr int MaxWaitMilliseconds = 200;
// At most this many datagrams are read from one socket per wake-up, so a flood on one side cannot
// hold the other side's datagrams or the due ones back for long.
constexpr int MaxDatagramsPerSocketPerWake = 1000;
// Any UDP datagram fits, so one longer than the relay carries is still read whole and counted.
constexpr std::size_t ReceiveCapacity = 65536;

struct Relay {
    RelayOptions options;
    RelayState state;
    SocketHandle listenSocket = InvalidSocketHandle;
    Ipv4Endpoint listenLocal;                 // where the listening socket is bound
    std::vector<SocketHandle> clientSockets;  // by client slot; InvalidSocketHandle while the slot is free
    std::vector<Ipv4Endpoint> clientLocals;   // by client slot: where its socket is bound
    CaptureFile capture;                      // not capturing without --capture
    std::vector<std::uint8_t> buffer;
    std::vector<std::uint32_t> forgotten;
};

void printStatus(const Relay& relay) {
    std::printf("%s\n", formatStatusLine(relay.state).c_str());
}

void closeClientSocket(Relay& relay, std::uint32_t slot) {
    if (relay.clientSockets[slot] != InvalidSocketHandle) closeSocket(relay.clientSockets[slot]);
    relay.clientSockets[slot] = InvalidSocketHandle;
}

void closeEverything(Relay& relay) {
    stopCapture(relay.capture);
    for (std::uint32_t slot = 0; slot < relay.clientSockets.size(); ++slot)
        closeClientSocket(relay, slot);
    if (relay.listenSocket != InvalidSocketHandle) closeSocket(relay.listenSocket);
    relay.listenSocket = InvalidSocketHandle;
    stopSocketLibrary();
}

// A socket for a new client, bound to any free port so that it can be waited on before its first send.
void openClientSocket(Relay& relay, std::uint32_t slot) {
    const RelayClient& client = relay.state.clients.slots[slot];
    const std::string name = formatIpv4Endpoint(client.address);
    SocketHandle socket = openUdpSocket();
    sockaddr_in local = toSocketAddress(Ipv4Endpoint{0, 0});
    if (socket != InvalidSocketHandle) {
        makeNonBlocking(socket);
        if (bindUdpSocket(socket, local) && localEndpoint(socket, local)) {
            relay.clientSockets[slot] = socket;
            relay.clientLocals[slot] = toIpv4Endpoint(local);
            std::printf("client %s relayed from port %u\n", name.c_str(), unsigned{ntohs(local.sin_port)});
            return;
        }
    }
    // Its datagrams already held are counted as gone when due.
    std::fprintf(stderr, "brassmoor-relay: cannot open a socket for client %s: %s\n", name.c_str(),
                 lastSocketError().c_str());
    if (socket != InvalidSocketHandle) closeSocket(socket);
    forgetClient(relay.state.clients, slot);
}

void receiveFromClients(Relay& relay, double now) {
    for (int i = 0; i < MaxDatagramsPerSocketPerWake; ++i) {
        sockaddr_in from{};
        const int length = receiveDatagramFrom(relay.listenSocket, relay.buffer.data(),
                                               static_cast<int>(relay.buffer.size()), from);
        if (length < 0) return;  // nothing more queued, or an error that ends this wake-up's reading
        const std::span<std::uint8_t> bytes(relay.buffer.data(), static_cast<std::size_t>(length));
        // Captured as it came, before the impairments damage it in place.
        captureReceived(&relay.capture, relay.listenLocal, toIpv4Endpoint(from), bytes);
        const AdmissionResult admission = acceptFromClient(relay.state, toIpv4Endpoint(from), bytes, now);
        if (admission.admission == Admission::Added) openClientSocket(relay, admission.slot);
    }
}

void receiveFromServer(Relay& relay, std::uint32_t slot, double now) {
    for (int i = 0; i < MaxDatagramsPerSocketPerWake; ++i) {
        sockaddr_in from{};
        const int length = receiveDatagramFrom(relay.clientSockets[slot], relay.buffer.data(),
                                               static_cast<int>(relay.buffer.size()), from);
        if (length < 0) return;
        const std::span<std::uint8_t> bytes(relay.buffer.data(), static_cast<std::size_t>(length));
        captureReceived(&relay.capture, relay.clientLocals[slot], toIpv4Endpoint(from), bytes);
        acceptFromServer(relay.state, slot, toIpv4Endpoint(from), bytes, now);
    }
}

void sendDue(Relay& relay, double now) {
    while (const HeldDatagram* due = firstDue(relay.state.held, now)) {
        DepartureOutcome outcome = DepartureOutcome::ClientGone;
        if (const RelayClient* client = clientOnRoute(relay.state.clients, due->route)) {
            const bool up = due->route.direction == Direction::Up;
            const SocketHandle socket = up ? relay.clientSockets[due->route.clientSlot] : relay.listenSocket;
            const Ipv4Endpoint to = up ? relay.options.server : client->address;
            const int sent = sendDatagram(socket, due->bytes.data(), static_cast<int>(due->length), toSocketAddress(to));
            outcome = sent < 0 ? DepartureOutcome::SendFailed : DepartureOutcome::Sent;
            if (sent >= 0) {
                captureSent(&relay.capture, up ? relay.clientLocals[due->route.clientSlot] : relay.listenLocal, to,
                            std::span<const std::uint8_t>(due->bytes.data(), due->length));
            }
        }
        completeDeparture(relay.state, outcome);
    }
}

void forgetIdle(Relay& relay, double now) {
    relay.forgotten.clear();
    forgetIdleClients(relay.state.clients, now, relay.options.idleSeconds, relay.forgotten);
    for (std::uint32_t slot : relay.forgotten) {
        std::printf("forget client %s (idle)\n",
                    formatIpv4Endpoint(relay.state.clients.slots[slot].address).c_str());
        closeClientSocket(relay, slot);
    }
}

int waitMilliseconds(double until) {
    const double wait = until - monotonicSeconds();
    if (wait <= 0.0) return 0;
    return static_cast<int>(std::min(std::ceil(wait * 1000.0), double{MaxWaitMilliseconds}));
}

int run(const RelayOptions& options) {
    if (!installStopHandlers()) {
        std::fprintf(stderr, "brassmoor-relay: cannot install signal handlers: %s\n",
                     stopHandlerError().c_str());
        return 1;
    }
    if (!installImpairmentSwitch()) {
        std::fprintf(stderr, "brassmoor-relay: cannot install the SIGUSR1 handler\n");
        return 1;
    }
    if (!startSocketLibrary()) {
        std::fprintf(stderr, "brassmoor-relay: cannot start the sockets library\n");
        return 1;
    }

    Relay relay;
    relay.options = options;
    relay.state = makeRelayState(options);
    relay.clientSockets.assign(options.maxClients, InvalidSocketHandle);
    relay.clientLocals.assign(options.maxClients, Ipv4Endpoint{});
    relay.buffer.resize(ReceiveCapacity);
    const std::string listenName = formatIpv4Endpoint(options.listen);
    relay.listenSocket = openUdpSocket();
    if (relay.listenSocket == InvalidSocketHandle) {
        std::fprintf(stderr, "brassmoor-relay: cannot create a UDP socket: %s\n", lastSocketError().c_str());
        closeEverything(relay);
        return 1;
    }
    makeNonBlocking(relay.listenSocket);
    sockaddr_in local = toSocketAddress(options.listen);
    if (!bindUdpSocket(relay.listenSocket, local) || !localEndpoint(relay.listenSocket, local)) {
        std::fprintf(stderr, "brassmoor-relay: cannot listen on %s: %s\n", listenName.c_str(),
                     lastSocketError().c_str());
        closeEverything(relay);
        return 1;
    }

    relay.listenLocal = toIpv4Endpoint(local);
    if (!options.capturePath.empty()) startCapture("brassmoor-relay", options.capturePath, relay.capture);
    std::printf("listening on %s server=%s seed=%llu max-clients=%u max-held=%u idle=%g\n",
                formatIpv4Endpoint(toIpv4Endpoint(local)).c_str(), formatIpv4Endpoint(options.server).c_str(),
                static_cast<unsigned long long>(options.seed), options.maxClients, options.maxHeld,
                options.idleSeconds);
    std::printf("impairing %s\n", formatImpairments(relay.state).c_str());

    const double start = monotonicSeconds();
    const double impairEnd = options.impairForSeconds ? start + *options.impairForSeconds
                                                      : std::numeric_limits<double>::infinity();
    double nextStatus = start + options.statusEverySeconds;
    SocketHandle watched[MaxWaitedSockets];
    std::uint32_t watchedSlots[MaxWaitedSockets];
    bool readable[MaxWaitedSockets];

    while (stopRequest() == 0) {
        double now = monotonicSeconds();
        if (relay.state.impairing && (now >= impairEnd || impairmentSwitchThrown())) {
            stopImpairing(relay.state);
            if (now >= impairEnd) {
                std::printf("impairment off after %.1f s\n", now - start);
            } else {
                std::printf("impairment off on SIGUSR1\n");
            }
            printStatus(relay);
        }
        sendDue(relay, now);
        forgetIdle(relay, now);
        if (now >= nextStatus) {
            printStatus(relay);
            nextStatus += options.statusEverySeconds;
            if (nextStatus <= now) nextStatus = now + options.statusEverySeconds;
        }

        double wakeAt = nextStatus;
        if (relay.state.impairing) wakeAt = std::min(wakeAt, impairEnd);
        if (const std::optional<double> due = nextSendTime(relay.state.held)) wakeAt = std::min(wakeAt, *due);

        std::size_t count = 0;
        watched[count++] = relay.listenSocket;
        for (std::uint32_t slot = 0; slot < relay.clientSockets.size(); ++slot) {
            if (relay.clientSockets[slot] == InvalidSocketHandle) continue;
            watchedSlots[count] = slot;
            watched[count++] = relay.clientSockets[slot];
        }
        const int ready = waitForDatagrams(std::span<const SocketHandle>(watched, count),
                                           waitMilliseconds(wakeAt), std::span<bool>(readable, count));
        if (ready < 0) {
            // A failed wait would fail again at once: stop rather than spin.
            std::fprintf(stderr, "brassmoor-relay: waiting for datagrams failed\n");
            printStatus(relay);
            closeEverything(relay);
            return 1;
        }
        if (ready == 0) continue;
        now = monotonicSeconds();
        if (readable[0]) receiveFromClients(relay, now);
        for (std::size_t i = 1; i < count; ++i) {
            // A client forgotten while its socket was being read (its socket failed) is skipped.
            if (readable[i] && relay.clientSockets[watchedSlots[i]] != InvalidSocketHandle)
                receiveFromServer(relay, watchedSlots[i], now);
        }
    }

    std::printf("stopping on signal %d\n", stopRequest());
    printStatus(relay);
    closeEverything(relay);
    return 0;
}

}  // namespace
}  // namespace brassmoor

int main(int argc, char** argv) {
    return brassmoor::runHelperProgram(argc, argv, "brassmoor-relay", brassmoor::relayUsageText(),
                                       brassmoor::parseRelayOptions, brassmoor::run);
}
