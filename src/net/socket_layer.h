// A thin layer over the platform's UDP sockets: Winsock on Windows, POSIX elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

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
// Lets the socket send to broadcast addresses (the launcher's search for servers).
bool enableBroadcast(SocketHandle socket);
// Binds to a local address and port (the server's side; the client never binds).
bool bindUdpSocket(SocketHandle socket, const sockaddr_in& local);
void closeSocket(SocketHandle socket);
// The address and port the socket is bound to (the port the system chose after binding port 0).
bool localEndpoint(SocketHandle socket, sockaddr_in& local);
// The local address this machine sends from towards `peer` (what a socket bound to every address
// uses to answer it), found by routing a throwaway socket there; no datagram is sent.
bool localAddressTowards(const sockaddr_in& peer, sockaddr_in& local);

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

// What the last failed socket call on this thread reported, as text for a message: the
// system's description and, on Winsock, the error number. Read it before any other socket call.
std::string lastSocketError();

// The most sockets one wait can watch.
inline constexpr std::size_t MaxWaitedSockets = 256;

// Waits until a datagram is queued on at least one of `sockets` or `timeoutMilliseconds` have
// passed (0 only looks). Sets readable[i] for every socket that has something queued (an error
// waiting to be reported counts too, so that the next receive takes it off). Returns how many are
// ready, 0 on timeout or when a signal interrupted the wait, and a negative value on failure or
// when more than MaxWaitedSockets are given. `readable` must be as long as `sockets`.
int waitForDatagrams(std::span<const SocketHandle> sockets, int timeoutMilliseconds, std::span<bool> readable);

}  // namespace brassmoor
