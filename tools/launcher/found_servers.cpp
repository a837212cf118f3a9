// The games a search found.
#include "found_servers.h"

#include <algorithm>

namespace brassmoor {

namespace {

constexpr std::uint32_t Loopback = 0x7F000001;

}  // namespace

bool noteAnswer(std::vector<FoundServer>& found, const Ipv4Endpoint& from, std::span<const std::uint8_t> bytes,
                std::uint32_t nonce) {
    std::uint32_t answered = 0;
    ServerInfo info;
    if (!decodeInfoAnswer(bytes, answered, info) || answered != nonce) return false;
    auto same = std::find_if(found.begin(), found.end(), [&](const FoundServer& known) {
        return known.info.instance == info.instance && known.from.port == from.port;
    });
    if (same == found.end()) {
        found.push_back(FoundServer{from, info});
    } else {
        // The latest counts are the truest; the address stays loopback once heard there.
        same->info = info;
        if (from.address == Loopback) same->from = from;
    }
    return true;
}

const FoundServer* busiestServer(const std::vector<FoundServer>& found) {
    const FoundServer* busiest = nullptr;
    for (const FoundServer& server : found) {
        if (busiest == nullptr || server.info.players > busiest->info.players) busiest = &server;
    }
    return busiest;
}

std::string describeServer(const FoundServer& server) {
    const ServerInfo& info = server.info;
    return formatIpv4Address(server.from.address) + "  players=" + std::to_string(info.players) +
           " clients=" + std::to_string(info.clients) + " bots=" + std::to_string(info.bots) +
           " max-clients=" + std::to_string(info.maxClients) + " version=" + std::to_string(info.versionMajor) +
           "." + std::to_string(info.versionMinor) + "." + std::to_string(info.versionPatch) +
           (info.name.empty() ? "" : " name=" + info.name);
}

}  // namespace brassmoor
