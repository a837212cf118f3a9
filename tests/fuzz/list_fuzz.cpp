// Fuzz target: bytes from outside the list through what reads them. The same input is an
// announcement's body, a value found in the store under a game's key, and an X-Forwarded-For line
// from a trusted proxy; whatever it is, nothing aborts (the list is built without exceptions, so a
// wrong JSON access would), a stored entry read is one the list could have written, its name is
// escaped on the page, and only the proxy's last address is ever taken.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "announcement.h"
#include "game_entry.h"
#include "ipv4_endpoint.h"
#include "list_pages.h"

namespace {

using namespace brassmoor;

constexpr std::uint32_t Game = 0xC6336414;   // 198.51.100.20
constexpr std::uint32_t Proxy = 0x7F000001;  // 127.0.0.1

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "list fuzz: invariant broken: %s\n", what);
        std::abort();
    }
}

void checkStoredEntry(std::string_view text) {
    GameEntry game;
    std::string error;
    if (!decodeStoredEntry(Game, text, game, error)) {
        require(!error.empty(), "a refusal says why");
        return;
    }
    require(game.address == Game && text.size() <= MaxStoredEntryBytes, "only a bounded value is read");
    require(game.name.size() <= MaxServerNameBytes && sanitiseServerName(game.name) == game.name,
            "names are sanitised");
    const std::string written = encodeStoredEntry(game);
    GameEntry again;
    require(written.size() <= MaxStoredEntryBytes && decodeStoredEntry(Game, written, again, error) &&
                again == game,
            "what is read is written back the same");
    const RenderedList list = renderList({&game, 1});
    const std::string shown = escapeHtml(game.name);
    require(shown.find_first_of("<>\"'") == std::string::npos && list.html.find(shown) != std::string::npos,
            "the page shows the name escaped");
    const auto json = nlohmann::json::parse(list.json, nullptr, false);
    require(!json.is_discarded() && json["games"][0]["name"] == game.name,
            "the JSON carries the name as it is");
}

void checkForwardedFor(std::string_view line) {
    std::uint32_t address = 0;
    std::string reason;
    const std::string_view lines[] = {"192.0.2.66", line};  // a forged first line is never read
    const std::uint32_t trusted[] = {Proxy};
    if (announcedAddress(Proxy, lines, trusted, address, reason)) {
        std::string_view last =
            line.substr(line.rfind(',') == std::string_view::npos ? 0 : line.rfind(',') + 1);
        while (!last.empty() && (last.front() == ' ' || last.front() == '\t'))
            last.remove_prefix(1);
        while (!last.empty() && (last.back() == ' ' || last.back() == '\t'))
            last.remove_suffix(1);
        require(isUnicastAddress(address) && last == formatIpv4Address(address),
                "a proxied game is the last address the proxy appended");
    }
    const std::uint32_t peer = 0xCB007105;  // 203.0.113.5, not trusted: its header counts for nothing
    require(announcedAddress(peer, lines, trusted, address, reason) && address == peer,
            "an untrusted peer is itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string reason;
    if (checkAnnouncementBody(text, reason)) {
        require(size <= MaxAnnouncementBytes, "a body taken is bounded");
    } else {
        require(!reason.empty(), "a refused body says why");
    }
    checkStoredEntry(text);
    checkForwardedFor(text);
    return 0;
}
