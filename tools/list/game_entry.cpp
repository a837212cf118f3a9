// A listed game, its key and JSON value in the store, and the order the list shows games in.
#include "game_entry.h"

#include <algorithm>
#include <limits>

#include <nlohmann/json.hpp>

#include "ipv4_endpoint.h"

namespace brassmoor {
namespace {

using nlohmann::json;

// A whole number 0 to `limit`, or false; never a conversion that would abort.
bool readCount(const json& object, const char* field, std::uint32_t limit, std::uint32_t& value) {
    const auto found = object.find(field);
    if (found == object.end() || !found->is_number_unsigned()) return false;
    const auto number = found->get<std::uint64_t>();
    if (number > limit) return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}

// "major.minor.patch", each 0 to 255 without leading zeros.
bool parseVersion(std::string_view text, GameEntry& game) {
    std::uint32_t parts[3] = {};
    for (int i = 0; i < 3; ++i) {
        const std::size_t end = i < 2 ? text.find('.') : text.size();
        if (end == std::string_view::npos || end == 0 || end > 3 || (end > 1 && text[0] == '0')) return false;
        std::uint32_t value = 0;
        for (std::size_t j = 0; j < end; ++j) {
            if (text[j] < '0' || text[j] > '9') return false;
            value = value * 10 + static_cast<std::uint32_t>(text[j] - '0');
        }
        if (value > 255) return false;
        parts[i] = value;
        text.remove_prefix(i < 2 ? end + 1 : end);
    }
    game.versionMajor = static_cast<std::uint8_t>(parts[0]);
    game.versionMinor = static_cast<std::uint8_t>(parts[1]);
    game.versionPatch = static_cast<std::uint8_t>(parts[2]);
    return true;
}

}  // namespace

GameEntry gameFromAnswer(std::uint32_t address, const ServerInfo& info) {
    return GameEntry{address,           sanitiseServerName(info.name),
                     info.players,      info.clients,
                     info.bots,         info.maxClients,
                     info.versionMajor, info.versionMinor,
                     info.versionPatch};
}

std::string formatGameVersion(const GameEntry& game) {
    return std::to_string(game.versionMajor) + "." + std::to_string(game.versionMinor) + "." +
           std::to_string(game.versionPatch);
}

std::string gameKey(std::uint32_t address) {
    return std::string(GameKeyPrefix) + formatIpv4Address(address);
}

bool addressFromGameKey(std::string_view key, std::uint32_t& address) {
    return key.starts_with(GameKeyPrefix) && parseIpv4Address(key.substr(GameKeyPrefix.size()), address);
}

std::string encodeStoredEntry(const GameEntry& game) {
    const json value = {
        {"name", game.name}, {"players", game.players},        {"clients", game.clients},
        {"bots", game.bots}, {"max_clients", game.maxClients}, {"version", formatGameVersion(game)}};
    // The name is sanitised UTF-8; "replace" keeps a dump from ever failing on anything else.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool decodeStoredEntry(std::uint32_t address, std::string_view text, GameEntry& game, std::string& error) {
    if (text.size() > MaxStoredEntryBytes) {
        error = "longer than " + std::to_string(MaxStoredEntryBytes) + " bytes";
        return false;
    }
    const json value = json::parse(text, nullptr, false);
    if (value.is_discarded() || !value.is_object()) {
        error = "not a JSON object";
        return false;
    }
    GameEntry read;
    read.address = address;
    constexpr std::uint32_t U16 = std::numeric_limits<std::uint16_t>::max();
    std::uint32_t players = 0, clients = 0, bots = 0, maxClients = 0;
    if (!readCount(value, "players", U16, players) || !readCount(value, "clients", U16, clients) ||
        !readCount(value, "bots", U16, bots) || !readCount(value, "max_clients", U16, maxClients)) {
        error = "players, clients, bots and max_clients must be whole numbers from 0 to 65535";
        return false;
    }
    const auto name = value.find("name");
    const auto version = value.find("version");
    if (name == value.end() || !name->is_string() || version == value.end() || !version->is_string() ||
        !parseVersion(version->get_ref<const std::string&>(), read)) {
        error = "name must be text and version MAJOR.MINOR.PATCH";
        return false;
    }
    read.name = sanitiseServerName(name->get_ref<const std::string&>());
    read.players = static_cast<std::uint16_t>(players);
    read.clients = static_cast<std::uint16_t>(clients);
    read.bots = static_cast<std::uint16_t>(bots);
    read.maxClients = static_cast<std::uint16_t>(maxClients);
    game = std::move(read);
    return true;
}

void sortBusiestFirst(std::vector<GameEntry>& games) {
    std::sort(games.begin(), games.end(), [](const GameEntry& a, const GameEntry& b) {
        if (a.players != b.players) return a.players > b.players;
        if (a.clients != b.clients) return a.clients > b.clients;
        return a.address < b.address;
    });
}

}  // namespace brassmoor
