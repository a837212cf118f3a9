// The server link: opening the socket, the paced pose sends and the per-frame receive drain.
#include "net/server_link.h"

#include <array>
#include <cstdio>
#include <span>

#include "net/send_cadence.h"
#include "net/snapshot_drain.h"

namespace brassmoor {

bool ServerLink::open(const char* serverAddressText) {
    if (!startSocketLibrary()) {
        return false;
    }
    socketHandle = openUdpSocket();
    if (socketHandle == InvalidSocketHandle) {
        // A link that failed to open is never closed by its owner, so release the library here.
        stopSocketLibrary();
        return false;
    }
    makeNonBlocking(socketHandle);
    hasServerAddress = makeIpv4Endpoint(serverAddressText, ServerPort, serverEndpoint);
    std::printf("connecting to %s:%d\n", serverAddressText, static_cast<int>(ServerPort));
    std::fflush(stdout);
    if (!hasServerAddress) {
        // Not fatal: the client still runs, alone. Sending to whatever a failed conversion
        // left behind could reach an unrelated host, so nothing is sent at all.
        std::fprintf(stderr, "not an IPv4 address: %s (no poses will be sent)\n", serverAddressText);
    }
    return true;
}

void ServerLink::sendPoseIfDue(float dt, const PoseDatagram& pose) {
    // The turn is taken even when nothing can be sent, so the cadence never builds up a debt.
    if (!takePoseSendTurn(sendAccumulator, dt) || !hasServerAddress) {
        return;
    }
    const std::array<std::uint8_t, PoseDatagramSize> bytes = encodePoseDatagram(pose);
    // A lost pose is replaced by the next one a frame or two later; no retry, no report.
    sendDatagram(socketHandle, bytes.data(), static_cast<int>(bytes.size()), serverEndpoint);
}

void ServerLink::drainSnapshots(PeerTable& table) {
    SnapshotDrain drain;
    // An empty datagram and "nothing queued" both end the drain; what is left waits for the next frame.
    for (;;) {
        const std::span<std::uint8_t> buffer = receiveBuffer(drain);
        const int length = receiveDatagram(socketHandle, buffer.data(), static_cast<int>(buffer.size()));
        if (length <= 0) {
            break;
        }
        takeReceived(drain, static_cast<std::size_t>(length));
    }
    finishDrain(drain, table);
}

void ServerLink::close() {
    closeSocket(socketHandle);
    stopSocketLibrary();
    socketHandle = InvalidSocketHandle;
}

}  // namespace brassmoor
