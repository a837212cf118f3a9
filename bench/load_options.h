// The load generator's command line: how many simulated clients, against what, for how long, and
// the floods to add.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "ipv4_endpoint.h"
#include "program_entry.h"

namespace brassmoor {

struct LoadOptions {
    Ipv4Endpoint server{0x7F000001, 40123};
    std::uint32_t clients = 64;
    double seconds = 10.0;       // measured
    double warmUpSeconds = 2.0;  // before measuring: every client has joined and the server settled
    double rate = 30.0;          // poses per second per client
    std::uint32_t firstAddress = 0x7F000002;  // clients bind here and on the following addresses
    std::uint32_t clientsPerAddress = 10000;  // an address has about 28 000 ephemeral ports
    float spacing = 2.0f;                     // units between neighbours on the clients' square
    std::uint32_t watchPid = 0;               // a process whose CPU use is reported too; 0: none
    double garbageRate = 0.0;                 // datagrams per second that are not poses
    double forgedRate = 0.0;                  // poses per second from ports no client reads
    std::uint32_t forgedPorts = 2000;         // each forged pose comes from the next of these
};

struct LoadOptionsResult {
    CommandLineAction action;
    LoadOptions options;
    std::string error;
};

LoadOptionsResult parseLoadOptions(std::span<const char* const> args);

std::string loadUsageText();

}  // namespace brassmoor
