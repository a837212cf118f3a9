// The server's socket on Linux: recvmmsg and sendmmsg for batches, SO_MEMINFO for the drop count.
#include "server_socket.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <linux/sock_diag.h>
#include <sys/socket.h>

namespace brassmoor {

std::optional<int> enlargeReceiveBuffer(SocketHandle socket, int wantedBytes) {
    // Refused requests are not an error: the size read back says what there is.
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &wantedBytes, sizeof wantedBytes);
    int granted = 0;
    socklen_t length = sizeof granted;
    if (::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0) return std::nullopt;
    return granted;
}

int receiveBatch(SocketHandle socket, DatagramBatch& batch) {
    std::array<mmsghdr, DatagramBatchCapacity> messages{};
    std::array<iovec, DatagramBatchCapacity> pieces{};
    for (std::size_t i = 0; i < DatagramBatchCapacity; ++i) {
        pieces[i] = iovec{batch.slot(i), ReceiveBufferSize};
        messages[i].msg_hdr.msg_name = &batch.addresses[i];
        messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        messages[i].msg_hdr.msg_iov = &pieces[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    int received = 0;
    do {
        received = ::recvmmsg(socket, messages.data(), DatagramBatchCapacity, MSG_DONTWAIT, nullptr);
    } while (received < 0 && errno == EINTR);
    if (received < 0) {
        batch.count = 0;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
    batch.count = static_cast<std::size_t>(received);
    for (std::size_t i = 0; i < batch.count; ++i)
        batch.lengths[i] = static_cast<int>(messages[i].msg_len);
    return received;
}

std::size_t sendBatch(SocketHandle socket, DatagramBatch& batch) {
    std::array<mmsghdr, DatagramBatchCapacity> messages{};
    std::array<iovec, DatagramBatchCapacity> pieces{};
    for (std::size_t i = 0; i < batch.count; ++i) {
        pieces[i] = iovec{const_cast<std::uint8_t*>(batch.slot(i)), static_cast<std::size_t>(batch.lengths[i])};
        messages[i].msg_hdr.msg_name = const_cast<sockaddr_in*>(&batch.addresses[i]);
        messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        messages[i].msg_hdr.msg_iov = &pieces[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    // sendmmsg stops at the first datagram the system refuses: count it and go on with the next,
    // as a loop of sendto would.
    batch.refused.fill(false);
    std::size_t refused = 0;
    std::size_t done = 0;
    while (done < batch.count) {
        const int sent = ::sendmmsg(socket, messages.data() + done, static_cast<unsigned>(batch.count - done), 0);
        if (sent > 0) {
            done += static_cast<std::size_t>(sent);
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else {
            batch.refused[done++] = true;
            ++refused;
        }
    }
    return refused;
}

void pauseToGatherDatagrams(double seconds) {
    if (!(seconds > 0.0)) return;
    timespec pause{0, static_cast<long>(std::min(seconds, 0.5) * 1e9)};
    // A signal (a stop request) ends the pause early, which is what the caller wants.
    ::nanosleep(&pause, nullptr);
}

std::optional<std::uint32_t> systemDropCount(SocketHandle socket) {
    std::uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    if (::getsockopt(socket, SOL_SOCKET, SO_MEMINFO, memory, &length) != 0 ||
        length < (SK_MEMINFO_DROPS + 1) * sizeof(std::uint32_t)) {
        return std::nullopt;
    }
    return memory[SK_MEMINFO_DROPS];
}

}  // namespace brassmoor
