// The replayer's command line: parsed into plain values, with a message for anything it cannot take.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ipv4_endpoint.h"
#include "program_entry.h"

namespace brassmoor {

inline constexpr std::uint16_t DefaultReplayPort = 40123;  // the port the client sends to
inline constexpr double SlowestReplaySpeed = 0.01;
inline constexpr double FastestReplaySpeed = 100.0;

struct ReplayOptions {
    std::string capturePath;
    double speed = 1.0;  // 2: twice as fast as recorded
    bool loop = false;   // start again from the first datagram after the last, until stopped
    // The capture's server side: its datagrams from this port are the ones replayed.
    std::uint16_t serverPort = DefaultReplayPort;
    std::optional<Ipv4Endpoint> client;  // which of the server's clients to replay; none: the first
    Ipv4Endpoint listen{0, DefaultReplayPort};  // where it waits for the client; port 0: any free one
};

struct ReplayOptionsResult {
    CommandLineAction action;  // Run: replay with these options
    ReplayOptions options;
    std::string error;  // one line, without the program name or a newline
};

// `args` is the whole argv, program name first. Takes "--name value" and "--name=value".
ReplayOptionsResult parseReplayOptions(std::span<const char* const> args);

// The text printed for --help, ending in a newline.
std::string replayUsageText();

}  // namespace brassmoor
