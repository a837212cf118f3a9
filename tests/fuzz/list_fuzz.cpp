// Fuzz target: bytes from outside the list through what reads them. The same input is an announcement's
// body and a value found in the store under a game's key; whatever it is, nothing aborts (the list is
// built without exceptions, so a wrong JSON access would), a stored entry read is one the list could
// have written, and its name is escaped on the page and carried as it is in the JSON.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "announcement.h"
#include "list_pages.h"

namespace {

using namespace brassmoor;

constexpr std::uint32_t Game = 0xC6336414;  // 198.51.100.20

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "list fuzz: invariant broken: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string reason;
    const bool taken = checkAnnouncementBody(text, reason);
    require(taken ? size <= MaxAnnouncementBytes : !reason.empty(),
            "a body taken is bounded, a refusal says why");

    GameEntry game;
    if (!decodeStoredEntry(Game, text, game, reason)) return 0;
    require(text.size() <= MaxStoredEntryBytes && game.address == Game, "only a bounded value is read");
    require(game.name.size() <= MaxServerNameBytes && sanitiseServerName(game.name) == game.name,
            "names are sanitised");
    const std::string written = encodeStoredEntry(game);
    GameEntry again;
    require(written.size() <= MaxStoredEntryBytes && decodeStoredEntry(Game, written, again, reason) &&
                again == game,
            "what is read is written back the same");
    const RenderedList list = renderList({&game, 1});
    const std::string shown = escapeHtml(game.name);
    require(shown.find_first_of("<>\"'") == std::string::npos && list.html.find(shown) != std::string::npos,
            "the page shows the name escaped");
    const auto json = nlohmann::json::parse(list.json, nullptr, false);
    require(!json.is_discarded() && json["games"][0]["name"] == game.name,
            "the JSON carries the name as it is");
    return 0;
}
