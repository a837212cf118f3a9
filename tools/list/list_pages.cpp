// Rendering the list: JSON through nlohmann-json, the page with every text escaped.
#include "list_pages.h"

#include <algorithm>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "ipv4_endpoint.h"
#include "option_values.h"

namespace brassmoor {
namespace {

// Fields in the order the API documents them.
using json = nlohmann::ordered_json;

std::string entityTag(std::string_view bytes) {
    // FNV-1a: cheap, and the same bytes give the same tag on every instance.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 1099511628211ull;
    }
    static constexpr char Digits[] = "0123456789abcdef";
    std::string tag = "\"";
    for (int shift = 60; shift >= 0; shift -= 4)
        tag += Digits[(hash >> shift) & 0xFu];
    return tag + "\"";
}

std::string renderJson(std::span<const GameEntry> games) {
    json list = json::array();
    for (const GameEntry& game : games) {
        list.push_back({{"address", formatIpv4Address(game.address)},
                        {"port", GamePort},
                        {"name", game.name},
                        {"players", game.players},
                        {"clients", game.clients},
                        {"bots", game.bots},
                        {"max_clients", game.maxClients},
                        {"version", formatGameVersion(game)}});
    }
    return json{{"games", std::move(list)}}.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string renderRow(const GameEntry& game) {
    const std::string name = game.name.empty() ? "<td class=\"name unnamed\">(no name)</td>"
                                               : "<td class=\"name\">" + escapeHtml(game.name) + "</td>";
    return "<tr>" + name + "<td data-label=\"Players\">" + std::to_string(game.players) + " of " +
           std::to_string(game.maxClients) + "</td><td data-label=\"Version\">" +
           escapeHtml(formatGameVersion(game)) + "</td><td data-label=\"Address\"><code>" +
           escapeHtml(formatIpv4Address(game.address)) + "</code></td></tr>\n";
}

std::string renderHtml(std::span<const GameEntry> games) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Brassmoor games</title>\n<link rel=\"stylesheet\" "
        "href=\"/list.css\">\n</head>\n<body>\n<main>\n"
        "<h1>Brassmoor games</h1>\n";
    if (games.empty()) {
        page += "<p>No games are listed right now.</p>\n";
    } else {
        const std::size_t shown = std::min(games.size(), MaxGamesOnPage);
        page += "<p>" + plural(games.size(), "game is", "games are") +
                " listed, busiest first. To join one, give its address to the launcher.";
        if (shown < games.size()) page += " The " + std::to_string(shown) + " busiest are shown here.";
        page +=
            "</p>\n<table>\n<thead><tr><th>Name</th><th>Players</th><th>Version</th><th>Address</th></tr></"
            "thead>\n"
            "<tbody>\n";
        for (std::size_t i = 0; i < shown; ++i)
            page += renderRow(games[i]);
        page += "</tbody>\n</table>\n";
    }
    return page + "</main>\n</body>\n</html>\n";
}

}  // namespace

RenderedList renderList(std::span<const GameEntry> games) {
    RenderedList rendered;
    rendered.games = games.size();
    rendered.json = renderJson(games);
    rendered.jsonTag = entityTag(rendered.json);
    rendered.html = renderHtml(games);
    rendered.htmlTag = entityTag(rendered.html);
    return rendered;
}

std::string_view listStylesheet() {
    return "body { margin: 0; font: 16px/1.4 system-ui, sans-serif; color: #222; background: #f6f4ef; }\n"
           "main { max-width: 56rem; margin: 0 auto; padding: 1rem; }\n"
           "h1 { font-size: 1.6rem; margin: 0.5rem 0; color: #6b4e16; }\n"
           "table { width: 100%; border-collapse: collapse; background: #fff; }\n"
           "th, td { text-align: left; padding: 0.5rem 0.6rem; border-bottom: 1px solid #e2ddd2; }\n"
           "th { background: #efe9dc; font-weight: 600; }\n"
           "td.name { font-weight: 600; overflow-wrap: anywhere; }\n"
           "td.unnamed { color: #888; font-weight: normal; }\n"
           "code { font-size: 0.95rem; }\n"
           "@media (max-width: 36rem) {\n"
           "  thead { display: none; }\n"
           "  tr { display: block; padding: 0.5rem 0; border-bottom: 1px solid #e2ddd2; }\n"
           "  td { display: block; border: 0; padding: 0.1rem 0.6rem; }\n"
           "  td[data-label]::before { content: attr(data-label) \": \"; color: #666; }\n"
           "}\n";
}

std::string escapeHtml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

bool tagMatches(std::string_view ifNoneMatch, std::string_view tag) {
    while (!ifNoneMatch.empty()) {
        const std::size_t comma = ifNoneMatch.find(',');
        std::string_view item = trimBlanks(ifNoneMatch.substr(0, comma));
        ifNoneMatch = comma == std::string_view::npos ? std::string_view{} : ifNoneMatch.substr(comma + 1);
        if (item == "*") return true;
        if (item.starts_with("W/")) item.remove_prefix(2);
        if (item == tag) return true;
    }
    return false;
}

}  // namespace brassmoor
