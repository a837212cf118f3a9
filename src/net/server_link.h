// The client's only tie to the server: one non-blocking UDP socket, no handshake.
#pragma once

#include <cstdint>

#include "net/datagram.h"
#include "net/peer_table.h"
#include "net/socket_layer.h"

namespace brassmoor {

inline constexpr std::uint16_t ServerPort = 40123;

struct ServerLink {
    SocketHandle socketHandle = InvalidSocketHandle;
    sockaddr_in serverEndpoint{};
    double sendAccumulator = 0.0;  // seconds gathered since the last pose
    // False when the address text was not an IPv4 address: then nothing is ever
    // sent, rather than poses going to whatever the failed conversion left behind.
    bool hasServerAddress = false;

    // Starts the socket library, creates the socket and prints the connecting line.
    // False (with nothing printed) when the library or the socket cannot be had.
    bool open(const char* serverAddressText);
    // Sends one pose when the send interval has run out; failures are ignored.
    void sendPoseIfDue(float dt, const PoseDatagram& pose);
    // Reads every queued datagram; the last accepted snapshot replaces `table`.
    void drainSnapshots(PeerTable& table);
    void close();
};

}  // namespace brassmoor
