// The announcement's body and the announcing game's address, checked apart from HTTP.
#include "announcement.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "game_entry.h"
#include "ipv4_endpoint.h"
#include "option_values.h"

namespace brassmoor {

bool checkAnnouncementBody(std::string_view body, std::string& reason) {
    if (body.size() > MaxAnnouncementBytes) {
        reason = "the announcement is longer than 1024 bytes";
        return false;
    }
    const nlohmann::json value = nlohmann::json::parse(body, nullptr, false);
    if (value.is_discarded() || !value.is_object()) {
        reason = "the announcement must be a JSON object, such as {}";
        return false;
    }
    const auto port = value.find("port");
    if (port != value.end() && !(port->is_number_unsigned() && port->get<std::uint64_t>() == GamePort)) {
        reason = "a listed game is always on UDP port 40123; \"port\" may only be 40123";
        return false;
    }
    return true;
}

bool isUnicastAddress(std::uint32_t address) {
    const std::uint32_t first = address >> 24;
    return first != 0 && first < 224;
}

bool announcedAddress(std::uint32_t peer, std::span<const std::string_view> forwardedFor,
                      std::span<const std::uint32_t> trustedProxies, std::uint32_t& address,
                      std::string& reason) {
    std::uint32_t chosen = peer;
    if (std::find(trustedProxies.begin(), trustedProxies.end(), peer) != trustedProxies.end()) {
        const std::string_view line = forwardedFor.empty() ? std::string_view{} : forwardedFor.back();
        const std::size_t comma = line.rfind(',');
        const std::string_view last =
            trimBlanks(comma == std::string_view::npos ? line : line.substr(comma + 1));
        if (!parseIpv4Address(last, chosen)) {
            reason = "the trusted proxy " + formatIpv4Address(peer) +
                     " did not append the game's IPv4 address to X-Forwarded-For";
            return false;
        }
    }
    if (!isUnicastAddress(chosen)) {
        reason = formatIpv4Address(chosen) + " is not an address a game can have";
        return false;
    }
    address = chosen;
    return true;
}

std::string listedReply(const GameEntry& game) {
    const nlohmann::ordered_json reply = {{"listed", true},
                                          {"address", formatIpv4Address(game.address)},
                                          {"port", GamePort},
                                          {"name", game.name},
                                          {"players", game.players},
                                          {"clients", game.clients},
                                          {"bots", game.bots},
                                          {"max_clients", game.maxClients},
                                          {"version", formatGameVersion(game)}};
    return reply.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string notListedReply(std::string_view reason) {
    const nlohmann::ordered_json reply = {{"listed", false}, {"reason", reason}};
    return reply.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string removedReply(bool removed) {
    return nlohmann::ordered_json{{"listed", false}, {"removed", removed}}.dump() + "\n";
}

}  // namespace brassmoor
