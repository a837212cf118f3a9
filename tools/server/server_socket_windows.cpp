// The server's socket on Windows: batches are plain loops of recvfrom and sendto, and Winsock does
// not tell how many datagrams it dropped.
#include "server_socket.h"

namespace brassmoor {

std::optional<int> enlargeReceiveBuffer(SocketHandle socket, int wantedBytes) {
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&wantedBytes),
                 static_cast<int>(sizeof wantedBytes));
    int granted = 0;
    int length = static_cast<int>(sizeof granted);
    if (::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &length) != 0) {
        return std::nullopt;
    }
    return granted;
}

int receiveBatch(SocketHandle socket, DatagramBatch& batch) {
    batch.count = 0;
    while (batch.count < DatagramBatchCapacity) {
        const int length = receiveDatagramFrom(socket, batch.slot(batch.count), static_cast<int>(ReceiveBufferSize),
                                               batch.addresses[batch.count]);
        // Nothing more queued, an over-long datagram (gone) or an error: this batch ends.
        if (length < 0) break;
        batch.lengths[batch.count++] = length;
    }
    return static_cast<int>(batch.count);
}

std::size_t sendBatch(SocketHandle socket, DatagramBatch& batch) {
    std::size_t refused = 0;
    for (std::size_t i = 0; i < batch.count; ++i) {
        batch.refused[i] = sendDatagram(socket, batch.slot(i), batch.lengths[i], batch.addresses[i]) < 0;
        if (batch.refused[i]) ++refused;
    }
    return refused;
}

void pauseToGatherDatagrams(double) {}

std::optional<std::uint32_t> systemDropCount(SocketHandle) {
    return std::nullopt;
}

}  // namespace brassmoor
