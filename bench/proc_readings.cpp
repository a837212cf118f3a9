// Readings from /proc and getrusage: CPU time of a process, drops of each UDP socket.
#include "proc_readings.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace brassmoor {

std::optional<double> processCpuSeconds(std::uint32_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(file, text)) return std::nullopt;
    // The command name is in parentheses and may hold spaces: the fields are counted after it.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    unsigned long long user = 0;
    unsigned long long system = 0;
    // After the name: state (3), ppid, pgrp, session, tty, tpgid, flags, minflt, cminflt, majflt,
    // cmajflt, then utime (14) and stime (15).
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) user = std::stoull(field);
        if (index == 15) system = std::stoull(field);
    }
    if (!fields) return std::nullopt;
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double ownCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::vector<UdpSocketDrops> readUdpDrops() {
    std::vector<UdpSocketDrops> sockets;
    std::FILE* file = std::fopen("/proc/net/udp", "r");
    if (file == nullptr) return sockets;
    char line[512];
    std::fgets(line, sizeof line, file);  // the heading
    while (std::fgets(line, sizeof line, file) != nullptr) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode ref pointer drops
        unsigned address = 0;
        unsigned port = 0;
        unsigned long long drops = 0;
        if (std::sscanf(line, " %*d: %x:%x %*x:%*x %*x %*x:%*x %*x:%*x %*x %*u %*u %*u %*u %*x %llu", &address,
                        &port, &drops) == 3) {
            // The address is printed as the 32-bit word in memory: network order read as host order.
            const std::uint32_t hostOrder = ((address & 0xFFu) << 24) | ((address & 0xFF00u) << 8) |
                                            ((address >> 8) & 0xFF00u) | (address >> 24);
            sockets.push_back({Ipv4Endpoint{hostOrder, static_cast<std::uint16_t>(port)}, drops});
        }
    }
    std::fclose(file);
    return sockets;
}

}  // namespace brassmoor
