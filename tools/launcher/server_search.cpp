// Looking for games over UDP: the queries out, the answers in, until the time is up.
#include "server_search.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

#include "local_networks.h"
#include "monotonic_clock.h"
#include "net/socket_layer.h"
#include "server_info.h"
#include "socket_address.h"

namespace brassmoor {

namespace {

constexpr std::uint32_t Loopback = 0x7F000001;
constexpr std::uint32_t LimitedBroadcast = 0xFFFFFFFF;
// A lost query or answer is asked again once, this far into the search.
constexpr double RepeatAfterFraction = 0.4;

std::uint32_t drawNonce() {
    std::random_device device;
    const auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return device() ^ static_cast<std::uint32_t>(ticks) ^ static_cast<std::uint32_t>(ticks >> 32);
}

std::vector<std::uint32_t> queryTargets() {
    std::vector<std::uint32_t> targets{Loopback};
    for (const LocalNetwork& network : localNetworks()) targets.push_back(network.broadcast);
    targets.push_back(LimitedBroadcast);
    std::sort(targets.begin() + 1, targets.end());
    targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
    return targets;
}

void sendQueries(SocketHandle socket, const std::vector<std::uint32_t>& targets, std::uint32_t nonce) {
    // The longer query: a server of this version answers with its name, an older one without.
    const auto query = encodeNamedInfoQuery(nonce);
    for (const std::uint32_t target : targets) {
        // A network without a route (255.255.255.255 where there is no default route) refuses at
        // once: nothing to do but ask the others.
        sendDatagram(socket, query.data(), static_cast<int>(query.size()),
                     toSocketAddress(Ipv4Endpoint{target, GamePort}));
    }
}

void receiveAnswers(SocketHandle socket, std::uint32_t nonce, std::vector<FoundServer>& found) {
    std::uint8_t buffer[512];
    while (true) {
        sockaddr_in from{};
        const int length = receiveDatagramFrom(socket, buffer, static_cast<int>(sizeof buffer), from);
        // Nothing more, or a refusal from a port where nothing listens, which was all it had to say.
        if (length < 0) return;
        noteAnswer(found, toIpv4Endpoint(from), std::span<const std::uint8_t>(buffer, std::size_t(length)), nonce);
    }
}

}  // namespace

SearchResult searchForServers(double seconds) {
    SearchResult result;
    if (!startSocketLibrary()) {
        result.error = "cannot start the sockets library";
        return result;
    }
    const SocketHandle socket = openUdpSocket();
    if (socket == InvalidSocketHandle) {
        result.error = "cannot create a UDP socket: " + lastSocketError();
        stopSocketLibrary();
        return result;
    }
    makeNonBlocking(socket);
    sockaddr_in anyPort = toSocketAddress(Ipv4Endpoint{0, 0});
    if (!enableBroadcast(socket) || !bindUdpSocket(socket, anyPort)) {
        result.error = "cannot prepare a UDP socket to search: " + lastSocketError();
        closeSocket(socket);
        stopSocketLibrary();
        return result;
    }

    const std::uint32_t nonce = drawNonce();
    const std::vector<std::uint32_t> targets = queryTargets();
    const double start = monotonicSeconds();
    const double repeatAt = start + seconds * RepeatAfterFraction;
    const double end = start + seconds;
    bool repeated = false;
    sendQueries(socket, targets, nonce);
    for (double now = start; now < end; now = monotonicSeconds()) {
        if (!repeated && now >= repeatAt) {
            sendQueries(socket, targets, nonce);
            repeated = true;
        }
        const double until = repeated ? end : repeatAt;
        const int waitMilliseconds = static_cast<int>(std::ceil(std::max(0.0, until - now) * 1000.0));
        bool readable[1] = {false};
        const int ready = waitForDatagrams(std::span<const SocketHandle>(&socket, 1), waitMilliseconds, readable);
        if (ready < 0) {
            result.error = "waiting for answers failed: " + lastSocketError();
            closeSocket(socket);
            stopSocketLibrary();
            return result;
        }
        if (ready > 0) receiveAnswers(socket, nonce, result.found);
    }
    closeSocket(socket);
    stopSocketLibrary();
    result.ok = true;
    return result;
}

}  // namespace brassmoor
