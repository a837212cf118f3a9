// The relay's command line: parsed into plain values, with a message for anything it cannot take.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ipv4_endpoint.h"
#include "impairment.h"
#include "program_entry.h"

namespace brassmoor {

inline constexpr std::uint16_t DefaultRelayPort = 40123;  // the port the client sends to
// Every client has a socket of its own and the wait watches at most 256: one is the listening socket.
inline constexpr std::uint32_t MostRelayClients = 255;
inline constexpr std::uint32_t MostHeldDatagrams = 16384;
inline constexpr double MostDelayMs = 10000.0;

struct RelayOptions {
    Ipv4Endpoint listen{0, DefaultRelayPort};  // where clients send; port 0 lets the system choose
    Ipv4Endpoint server{};                     // the game server; required
    Impairment up;                             // client to server
    Impairment down;                           // server to client
    std::uint64_t seed = 1;
    std::optional<double> impairForSeconds;  // after this long every impairment is off; none: never
    double statusEverySeconds = 5.0;         // between status lines
    std::uint32_t maxClients = 64;           // clients relayed at once
    double idleSeconds = 30.0;               // a client silent this long is forgotten
    std::uint32_t maxHeld = 1024;            // datagrams held back at once, both directions together
    std::string capturePath;  // every datagram received and sent goes there as pcap; empty: none
};

struct RelayOptionsResult {
    CommandLineAction action;  // Run: start relaying with these options
    RelayOptions options;
    std::string error;  // one line, without the program name or a newline
};

// `args` is the whole argv, program name first. Takes "--name value" and "--name=value"; the last of
// a repeated option counts, and an --up- or --down- option beats the one for both directions
// whatever their order.
RelayOptionsResult parseRelayOptions(std::span<const char* const> args);

// The text printed for --help, ending in a newline.
std::string relayUsageText();

}  // namespace brassmoor
