// The socket layer on Windows, over Windows Sockets 2.
#include "net/socket_layer.h"


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

bool bindUdpSocket(SocketHandle socket, const sockaddr_in& local) {
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&local), static_cast<int>(sizeof(sockaddr_in))) ==
           0;
}

void closeSocket(SocketHandle socket) {
    ::closesocket(socket);
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

}  // namespace brassmoor
