// The server's command line: parsed into plain values, with a message for anything it cannot take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ipv4_endpoint.h"
#include "net/datagram.h"
#include "program_entry.h"
#include "registry.h"

namespace brassmoor {

struct ServerOptions {
    std::string bindAddress = "0.0.0.0";  // dotted-decimal IPv4
    std::uint16_t port = 40123;
    double rate = 30.0;           // snapshots per second to each client
    std::uint32_t bots = 0;       // simulated players
    double timeoutSeconds = 5.0;  // a client silent this long is forgotten
    std::uint64_t seed = 1;       // for the bots' walks
    float arena = 60.0f;          // bots wander within +-this many units of the centre
    // Clients served at once; a pose from a new address beyond this is refused.
    std::size_t maxClients = DefaultMaxClients;
    // Entries one snapshot lists at most (the nearest players); fewer keep a snapshot inside one
    // Ethernet frame.
    std::size_t maxEntries = MaxSnapshotEntries;
    double statusSeconds = 5.0;  // between status lines
    std::string capturePath;     // every datagram received and sent goes there as pcap; empty: none
    // Where /metrics and /healthz are served over HTTP (brassmoor-server alone); none: not served.
    std::optional<Ipv4Endpoint> metrics;
    // Once a client has been served, the server ends when none has been heard this long; 0: never.
    double endWhenEmptySeconds = 0.0;
    std::string name;  // told in info answers, sanitised; empty: the computer's host name
    // List servers the game is announced to (brassmoor-server alone), each an http:// or https://
    // URL, in the order given.
    std::vector<std::string> listServers;
};

// --list-server may name this many lists at most: each costs a request every 30 s.
inline constexpr std::size_t MaxListServers = 8;

// The metrics port the container image and the service's options file use: the one after the
// game's UDP port (the exporters' range 9100-9999 is allocated to the last number).
inline constexpr std::uint16_t DefaultMetricsPort = 40124;

struct OptionsResult {
    CommandLineAction action;  // Run: start the server with these options
    ServerOptions options;
    std::string error;  // one line, without the program name or a newline
};

// `args` is the whole argv, program name first. Takes "--name value" and "--name=value".
OptionsResult parseServerOptions(std::span<const char* const> args);

// The text printed for --help, ending in a newline.
std::string serverUsageText();

// True for exactly four dot-separated decimal numbers 0 to 255, with no leading zeros.
bool isDottedIpv4(const std::string& text);

}  // namespace brassmoor
