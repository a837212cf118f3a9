// The server's batched socket calls against plain loops of the same datagrams, over loopback:
// snapshots sent with sendmmsg against sendto one by one, poses taken with recvmmsg against
// recvfrom one by one. Prints CPU time per datagram (the system's delivery on loopback runs in the
// sender's time, so it is counted); speeds are measured, never asserted.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <time.h>
#include <vector>

#include "net/datagram.h"
#include "net/socket_layer.h"
#include "server_socket.h"

namespace brassmoor {
namespace {

constexpr std::size_t Receivers = 256;
constexpr std::size_t DatagramsPerRound = 2048;  // 8 per receiver: well within a default queue
constexpr int Rounds = 25;

double threadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

SocketHandle boundSocket(sockaddr_in& local) {
    const SocketHandle socket = openUdpSocket();
    sockaddr_in any{};
    makeIpv4Endpoint("127.0.0.1", 0, any);
    if (socket == InvalidSocketHandle || !bindUdpSocket(socket, any) || !localEndpoint(socket, local)) {
        std::fprintf(stderr, "brassmoor_bench_batch_io: cannot open a loopback socket: %s\n", lastSocketError().c_str());
        std::exit(1);
    }
    makeNonBlocking(socket);
    return socket;
}

void drain(SocketHandle socket) {
    std::uint8_t buffer[ReceiveBufferSize];
    while (receiveDatagram(socket, buffer, static_cast<int>(sizeof buffer)) >= 0) {
    }
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace
}  // namespace brassmoor

int main() {
    using namespace brassmoor;
    std::vector<SocketHandle> receivers;
    std::vector<sockaddr_in> addresses;
    for (std::size_t i = 0; i < Receivers; ++i) {
        sockaddr_in local{};
        receivers.push_back(boundSocket(local));
        addresses.push_back(local);
    }
    sockaddr_in serverAddress{};
    const SocketHandle server = boundSocket(serverAddress);
    enlargeReceiveBuffer(server, WantedReceiveBufferBytes);

    std::vector<SnapshotEntry> entries;
    for (std::uint32_t id = 1; id <= MaxSnapshotEntries; ++id)
        entries.push_back(SnapshotEntry{id, PeerState{static_cast<float>(id), 2.0f, 1.7f, 0.5f}});
    std::vector<std::uint8_t> snapshot(ReceiveBufferSize);
    snapshot.resize(encodeSnapshotDatagram(7, entries, snapshot));

    // Sending: the same datagrams to the same receivers, one way or the other, rounds interleaved.
    const std::function<std::size_t()> sendOneByOne = [&] {
        std::size_t refused = 0;
        for (std::size_t i = 0; i < DatagramsPerRound; ++i) {
            if (sendDatagram(server, snapshot.data(), static_cast<int>(snapshot.size()), addresses[i % Receivers]) < 0)
                ++refused;
        }
        return refused;
    };
    DatagramBatch batch;
    const std::function<std::size_t()> sendInBatches = [&] {
        std::size_t refused = 0;
        for (std::size_t i = 0; i < DatagramsPerRound;) {
            for (batch.count = 0; batch.count < DatagramBatchCapacity && i < DatagramsPerRound; ++batch.count, ++i) {
                std::memcpy(batch.slot(batch.count), snapshot.data(), snapshot.size());
                batch.lengths[batch.count] = static_cast<int>(snapshot.size());
                batch.addresses[batch.count] = addresses[i % Receivers];
            }
            refused += sendBatch(server, batch);
        }
        return refused;
    };

    // Receiving: poses queued on the server's socket beforehand, then taken one way or the other.
    sockaddr_in any{};
    const SocketHandle poser = boundSocket(any);
    const auto pose = encodePoseDatagram(PoseDatagram{1.0f, 2.0f, 1.7f, 0.0f, 0.0f});
    const std::function<std::size_t()> takeOneByOne = [&] {
        std::uint8_t buffer[ReceiveBufferSize];
        std::size_t taken = 0;
        sockaddr_in from{};
        while (receiveDatagramFrom(server, buffer, static_cast<int>(sizeof buffer), from) >= 0)
            ++taken;
        return taken;
    };
    DatagramBatch incoming;
    const std::function<std::size_t()> takeInBatches = [&] {
        std::size_t taken = 0;
        while (receiveBatch(server, incoming) > 0)
            taken += incoming.count;
        return taken;
    };

    std::vector<double> times[4];
    std::size_t problems = 0;
    for (int round = 0; round < Rounds; ++round) {
        for (int way = 0; way < 2; ++way) {
            const double start = threadCpuSeconds();
            problems += (way == 0 ? sendOneByOne : sendInBatches)();
            times[way].push_back((threadCpuSeconds() - start) / DatagramsPerRound);
            for (const SocketHandle receiver : receivers)
                drain(receiver);
        }
        for (int way = 0; way < 2; ++way) {
            for (std::size_t i = 0; i < DatagramsPerRound; ++i)
                sendDatagram(poser, pose.data(), static_cast<int>(pose.size()), serverAddress);
            const double start = threadCpuSeconds();
            const std::size_t taken = (way == 0 ? takeOneByOne : takeInBatches)();
            times[2 + way].push_back((threadCpuSeconds() - start) / DatagramsPerRound);
            if (taken != DatagramsPerRound) ++problems;
        }
    }
    std::printf("| %zu datagrams a round, %d rounds, CPU time per datagram | one by one | batches of %zu | batched / one by one |\n",
                DatagramsPerRound, Rounds, DatagramBatchCapacity);
    std::printf("|---|---|---|---|\n");
    const char* names[2] = {"send a 4091-byte snapshot (256 receivers)", "take a 25-byte pose"};
    for (int kind = 0; kind < 2; ++kind) {
        const double plain = median(times[2 * kind]);
        const double batched = median(times[2 * kind + 1]);
        std::printf("| %s | %.2f µs | %.2f µs | %.2f |\n", names[kind], plain * 1e6, batched * 1e6, batched / plain);
    }
    if (problems != 0) std::printf("\n%zu datagrams refused or rounds short: the figures are suspect\n", problems);
    for (const SocketHandle receiver : receivers)
        closeSocket(receiver);
    closeSocket(server);
    closeSocket(poser);
    return 0;
}
