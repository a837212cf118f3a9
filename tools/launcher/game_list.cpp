// Reading a list server's games: the nesting scanned first, then nlohmann-json without exceptions
// (built with -fno-exceptions: a call that would throw ends the program, so every type is checked
// before a value is taken).
#include "game_list.h"

#include <charconv>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "ipv4_endpoint.h"
#include "launcher_options.h"
#include "server_name.h"

namespace brassmoor {
namespace {

using nlohmann::json;

// The deepest the brackets go outside strings; stops counting past `most`.
std::size_t nestingDepth(std::string_view text, std::size_t most) {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > most) return deepest;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

bool wholeField(const json& entry, const char* name, std::uint64_t most, std::uint64_t& value) {
    const auto field = entry.find(name);
    if (field == entry.end() || !field->is_number_unsigned()) return false;
    value = field->get<std::uint64_t>();
    return value <= most;
}

const std::string* textField(const json& entry, const char* name) {
    const auto field = entry.find(name);
    return field != entry.end() && field->is_string() ? &field->get_ref<const std::string&>() : nullptr;
}

// "MAJOR.MINOR.PATCH", each 0 to 255, as an info answer carries it.
bool isVersion(std::string_view text) {
    for (int part = 0; part < 3; ++part) {
        unsigned value = 0;
        const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (failure != std::errc() || end == text.data() || value > 255) return false;
        text.remove_prefix(std::size_t(end - text.data()));
        if (part < 2) {
            if (!text.starts_with('.')) return false;
            text.remove_prefix(1);
        }
    }
    return text.empty();
}

// One entry of the list, when every field is as the list documents it.
bool readEntry(const json& entry, ListedGame& game) {
    if (!entry.is_object()) return false;
    const std::string* address = textField(entry, "address");
    const std::string* name = textField(entry, "name");
    const std::string* version = textField(entry, "version");
    std::uint64_t port = 0;
    std::uint64_t players = 0;
    std::uint64_t clients = 0;
    std::uint64_t bots = 0;
    std::uint64_t maxClients = 0;
    if (address == nullptr || name == nullptr || version == nullptr || !isVersion(*version) ||
        !wholeField(entry, "port", 65535, port) || port != GamePort ||
        !wholeField(entry, "players", 65535, players) || !wholeField(entry, "clients", 65535, clients) ||
        !wholeField(entry, "bots", 65535, bots) || !wholeField(entry, "max_clients", 65535, maxClients)) {
        return false;
    }
    if (!parseIpv4Address(*address, game.address) || !isListableAddress(game.address)) return false;
    game.players = static_cast<std::uint16_t>(players);
    game.name = sanitiseServerName(*name);
    return true;
}

GameListRead failed(std::string error) {
    GameListRead read;
    read.error = std::move(error);
    return read;
}

}  // namespace

std::string gamesUrl(std::string_view url) {
    while (url.ends_with('/'))
        url.remove_suffix(1);
    return std::string(url) + "/v1/games";
}

bool isListableAddress(std::uint32_t address) {
    const std::uint32_t first = address >> 24;
    return first != 0 && first != 127 && first < 224;
}

GameListRead readGameList(std::string_view body) {
    if (nestingDepth(body, MaxListNesting) > MaxListNesting) {
        return failed("its answer is nested deeper than " + std::to_string(MaxListNesting) + " levels");
    }
    const json root = json::parse(body, nullptr, false);
    if (root.is_discarded()) return failed("its answer is not JSON");
    const auto games = root.is_object() ? root.find("games") : root.end();
    if (!root.is_object() || games == root.end() || !games->is_array()) {
        return failed("its answer has no \"games\" list");
    }
    GameListRead read;
    read.ok = true;
    std::unordered_set<std::uint32_t> seen;
    for (const json& entry : *games) {
        ListedGame game;
        if (read.games.size() < MaxGamesRead && readEntry(entry, game) && seen.insert(game.address).second) {
            read.games.push_back(std::move(game));
        } else {
            ++read.leftOut;
        }
    }
    return read;
}

GameListRead readGameListAnswer(const HttpResponse& response) {
    if (!response.answered) return failed(response.error);
    if (response.status == 304) {
        GameListRead read;
        read.ok = true;
        read.unchanged = true;
        read.etag = response.etag;
        return read;
    }
    if (response.status < 200 || response.status > 299) {
        return failed("it answered with HTTP status " + std::to_string(response.status));
    }
    GameListRead read = readGameList(response.body);
    read.etag = response.etag;
    return read;
}

}  // namespace brassmoor
