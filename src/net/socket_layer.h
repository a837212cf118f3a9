// A thin layer over the platform's UDP sockets: Winsock on Windows, POSIX elsewhere.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#endif

namespace brassmoor {

#ifdef _WIN32
using SocketHandle = SOCKET;
inline constexpr SocketHandle InvalidSocketHandle = INVALID_SOCKET;
#else
using SocketHandle = int;
inline constexpr SocketHandle InvalidSocketHandle = -1;
#endif

// WSAStartup for version 2.2; nothing to do on POSIX.
bool startSocketLibrary();
// WSACleanup; nothing to do on POSIX.
void stopSocketLibrary();

// A new IPv4 UDP socket, or InvalidSocketHandle.
SocketHandle openUdpSocket();
// From now on sends and receives return at once instead of waiting.
void makeNonBlocking(SocketHandle socket);
// Binds to a local address and port (the server's side; the client never binds).
bool bindUdpSocket(SocketHandle socket, const sockaddr_in& local);
void closeSocket(SocketHandle socket);

// Fills family, port (network order) and zero padding; true when `text` is a
// dotted-decimal IPv4 address, whose bytes then go into the address field.
bool makeIpv4Endpoint(const char* text, std::uint16_t port, sockaddr_in& endpoint);

// Sends one datagram; the byte count sent, or a negative value on failure.
int sendDatagram(SocketHandle socket, const std::uint8_t* bytes, int length, const sockaddr_in& to);
// Takes the next queued datagram: its length (0 for an empty one), or a negative
// value on any error, including "nothing queued" on a non-blocking socket.
int receiveDatagram(SocketHandle socket, std::uint8_t* buffer, int capacity);
// As receiveDatagram, and tells where the datagram came from.
int receiveDatagramFrom(SocketHandle socket, std::uint8_t* buffer, int capacity, sockaddr_in& from);

}  // namespace brassmoor
