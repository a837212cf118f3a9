// Readings from Linux's /proc and getrusage for the load generator's report: the CPU time a process
// has used, and the datagrams the system dropped on each UDP socket.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "ipv4_endpoint.h"

namespace brassmoor {

// User and system CPU seconds the process has used, from /proc/PID/stat; nothing when it is gone.
std::optional<double> processCpuSeconds(std::uint32_t pid);

// User and system CPU seconds this process has used.
double ownCpuSeconds();

struct UdpSocketDrops {
    Ipv4Endpoint local;
    std::uint64_t drops;
};

// Every IPv4 UDP socket of this network namespace (/proc/net/udp), with its drop count.
std::vector<UdpSocketDrops> readUdpDrops();

}  // namespace brassmoor
