// The socket layer on POSIX systems (BSD sockets); the library start and stop have nothing to do.
#include "net/socket_layer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace brassmoor {

bool startSocketLibrary() {
    return true;
}

void stopSocketLibrary() {}

SocketHandle openUdpSocket() {
    // Close-on-exec: a program started by this one (the launcher's game) must not hold a server's port.
    const int handle = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return handle < 0 ? InvalidSocketHandle : handle;
}

void makeNonBlocking(SocketHandle socket) {
    const int flags = ::fcntl(socket, F_GETFL, 0);
    ::fcntl(socket, F_SETFL, (flags < 0 ? 0 : flags) | O_NONBLOCK);
}

bool enableBroadcast(SocketHandle socket) {
    const int on = 1;
    return ::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

bool bindUdpSocket(SocketHandle socket, const sockaddr_in& local) {
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof(sockaddr_in)) == 0;
}

void closeSocket(SocketHandle socket) {
    ::close(socket);
}

bool localEndpoint(SocketHandle socket, sockaddr_in& local) {
    socklen_t length = sizeof(local);
    return ::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) == 0;
}

bool localAddressTowards(const sockaddr_in& peer, sockaddr_in& local) {
    const SocketHandle handle = openUdpSocket();
    if (handle == InvalidSocketHandle) return false;
    // Connecting a UDP socket only chooses its route and source address.
    const bool found = ::connect(handle, reinterpret_cast<const sockaddr*>(&peer), sizeof(sockaddr_in)) == 0 &&
                       localEndpoint(handle, local);
    closeSocket(handle);
    return found;
}

int sendDatagram(SocketHandle socket, const std::uint8_t* bytes, int length, const sockaddr_in& to) {
    const ssize_t sent = ::sendto(socket, bytes, static_cast<std::size_t>(length), 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof(sockaddr_in));
    return static_cast<int>(sent);
}

int receiveDatagram(SocketHandle socket, std::uint8_t* buffer, int capacity) {
    ssize_t received = 0;
    do {
        received = ::recvfrom(socket, buffer, static_cast<std::size_t>(capacity), 0, nullptr, nullptr);
    } while (received < 0 && errno == EINTR);
    return static_cast<int>(received);
}

int receiveDatagramFrom(SocketHandle socket, std::uint8_t* buffer, int capacity, sockaddr_in& from) {
    ssize_t received = 0;
    do {
        socklen_t fromLength = sizeof(from);
        received = ::recvfrom(socket, buffer, static_cast<std::size_t>(capacity), 0,
                              reinterpret_cast<sockaddr*>(&from), &fromLength);
    } while (received < 0 && errno == EINTR);
    return static_cast<int>(received);
}

std::string lastSocketError() {
    return std::strerror(errno);
}

int waitForDatagrams(std::span<const SocketHandle> sockets, int timeoutMilliseconds, std::span<bool> readable) {
    if (sockets.size() > MaxWaitedSockets || readable.size() < sockets.size()) {
        return -1;
    }
    pollfd watched[MaxWaitedSockets];
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        watched[i] = pollfd{sockets[i], POLLIN, 0};
    }
    const int ready = ::poll(watched, static_cast<nfds_t>(sockets.size()), timeoutMilliseconds);
    if (ready < 0) {
        // A signal is how a stop request arrives: the caller looks at its flag and waits again.
        return errno == EINTR ? 0 : -1;
    }
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        readable[i] = (watched[i].revents & (POLLIN | POLLERR)) != 0;
    }
    return ready;
}

}  // namespace brassmoor
