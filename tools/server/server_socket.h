// What the server asks of its socket beyond the shared socket layer: a receive queue sized for
// bursts, the count of datagrams the system dropped because the queue was full, and datagrams
// taken and sent many at a time. Linux does these with recvmmsg, sendmmsg and SO_MEMINFO
// (server_socket_linux.cpp); Windows with plain loops, and it does not say what it dropped
// (server_socket_windows.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "net/datagram.h"
#include "net/socket_layer.h"

namespace brassmoor {

// Datagrams one batch holds. sendmmsg of 64 snapshots against 64 sendto calls: see bench/RESULTS.md.
inline constexpr std::size_t DatagramBatchCapacity = 64;

// The receive queue the server asks for: on Linux about 10 000 poses (a small datagram takes some
// 830 bytes of it), many ticks' worth of thousands of clients, with a flood on top. The system may
// grant less (Linux: at most net.core.rmem_max, then doubled).
inline constexpr int WantedReceiveBufferBytes = 8 * 1024 * 1024;

// Datagrams received together, or to be sent together: datagram i is bytes[i * ReceiveBufferSize]
// onwards, lengths[i] long; addresses[i] is where it came from, or where it goes; refused[i] says,
// after sending, whether the system refused it.
struct DatagramBatch {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(DatagramBatchCapacity * ReceiveBufferSize);
    std::array<int, DatagramBatchCapacity> lengths{};
    std::array<sockaddr_in, DatagramBatchCapacity> addresses{};
    std::array<bool, DatagramBatchCapacity> refused{};
    std::size_t count = 0;

    std::uint8_t* slot(std::size_t i) {
        return bytes.data() + i * ReceiveBufferSize;
    }
    const std::uint8_t* slot(std::size_t i) const {
        return bytes.data() + i * ReceiveBufferSize;
    }
};

// Asks for a receive queue of `wantedBytes`; returns the size the system reports afterwards, or
// nothing when it cannot be read.
std::optional<int> enlargeReceiveBuffer(SocketHandle socket, int wantedBytes);

// Fills `batch` with datagrams already queued (a longer one is cut to ReceiveBufferSize bytes, or
// lost on Windows), without waiting: their number, 0 when none is queued, negative on an error.
int receiveBatch(SocketHandle socket, DatagramBatch& batch);

// Sends every datagram of the batch; marks and counts those the system refused.
std::size_t sendBatch(SocketHandle socket, DatagramBatch& batch);

// Sleeps about `seconds` (a millisecond or so) so that datagrams gather for the next batch; where
// sleeps are much coarser than that (Windows: 15.6 ms by default), returns at once.
void pauseToGatherDatagrams(double seconds);

// How many datagrams the system has dropped on this socket since it was opened (its queue was
// full), as a count that wraps at 2^32; nothing where the system does not say.
std::optional<std::uint32_t> systemDropCount(SocketHandle socket);

}  // namespace brassmoor
