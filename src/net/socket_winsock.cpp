// The socket layer on Windows, over Windows Sockets 2.
#include "net/socket_layer.h"

#include <windows.h>

namespace brassmoor {

bool startSocketLibrary() {
    WSADATA data;
    // The version actually granted is not looked at: anything that starts at all will do.
    return WSAStartup(0x0202, &data) == 0;
}

void stopSocketLibrary() {
    WSACleanup();
}

SocketHandle openUdpSocket() {
    return ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
}

void makeNonBlocking(SocketHandle socket) {
    u_long nonBlocking = 1;
    ::ioctlsocket(socket, static_cast<long>(FIONBIO), &nonBlocking);
}

bool enableBroadcast(SocketHandle socket) {
    const BOOL on = TRUE;
    return ::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                        static_cast<int>(sizeof on)) == 0;
}

bool bindUdpSocket(SocketHandle socket, const sockaddr_in& local) {
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&local), static_cast<int>(sizeof(sockaddr_in))) ==
           0;
}

void closeSocket(SocketHandle socket) {
    ::closesocket(socket);
}

bool localEndpoint(SocketHandle socket, sockaddr_in& local) {
    int length = static_cast<int>(sizeof(local));
    return ::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) == 0;
}

bool localAddressTowards(const sockaddr_in& peer, sockaddr_in& local) {
    const SocketHandle handle = openUdpSocket();
    if (handle == InvalidSocketHandle) return false;
    // Connecting a UDP socket only chooses its route and source address.
    const bool found =
        ::connect(handle, reinterpret_cast<const sockaddr*>(&peer), static_cast<int>(sizeof(sockaddr_in))) == 0 &&
        localEndpoint(handle, local);
    closeSocket(handle);
    return found;
}

int sendDatagram(SocketHandle socket, const std::uint8_t* bytes, int length, const sockaddr_in& to) {
    return ::sendto(socket, reinterpret_cast<const char*>(bytes), length, 0,
                    reinterpret_cast<const sockaddr*>(&to), static_cast<int>(sizeof(sockaddr_in)));
}

// Winsock reports an error (WSAEMSGSIZE) for a datagram longer than the buffer, where POSIX
// truncates; either way the caller sees a negative value or at most `capacity` bytes.
int receiveDatagram(SocketHandle socket, std::uint8_t* buffer, int capacity) {
    return ::recvfrom(socket, reinterpret_cast<char*>(buffer), capacity, 0, nullptr, nullptr);
}

int receiveDatagramFrom(SocketHandle socket, std::uint8_t* buffer, int capacity, sockaddr_in& from) {
    int fromLength = static_cast<int>(sizeof(from));
    return ::recvfrom(socket, reinterpret_cast<char*>(buffer), capacity, 0,
                      reinterpret_cast<sockaddr*>(&from), &fromLength);
}

std::string lastSocketError() {
    const int code = WSAGetLastError();
    char text[256];
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, static_cast<DWORD>(sizeof text), nullptr);
    std::string description(text, length);
    // System messages end in a full stop and CR LF; the caller adds its own line end.
    while (!description.empty() && (description.back() == '\n' || description.back() == '\r' ||
                                    description.back() == '.' || description.back() == ' ')) {
        description.pop_back();
    }
    // The number alone when the system has no text for it (wine has none for Winsock's errors).
    const std::string number = "Winsock error " + std::to_string(code);
    return description.empty() ? number : description + " (" + number + ")";
}

int waitForDatagrams(std::span<const SocketHandle> sockets, int timeoutMilliseconds, std::span<bool> readable) {
    if (sockets.size() > MaxWaitedSockets || readable.size() < sockets.size()) {
        return -1;
    }
    WSAPOLLFD watched[MaxWaitedSockets];
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        watched[i] = WSAPOLLFD{sockets[i], POLLRDNORM, 0};
    }
    // WSAPoll is never interrupted: a console control handler runs on a thread of its own, so a
    // caller that must notice a stop request keeps its waits short.
    const int ready = ::WSAPoll(watched, static_cast<ULONG>(sockets.size()), timeoutMilliseconds);
    if (ready < 0) {
        return -1;
    }
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        readable[i] = (watched[i].revents & (POLLRDNORM | POLLERR | POLLHUP)) != 0;
    }
    return ready;
}

}  // namespace brassmoor
