// Fuzz target: arbitrary bytes as a list server's answer, read by the launcher and shown in its list.
// Whatever comes, the read is bounded, every game kept is one the launcher may ask, its name is
// sanitised, and the list it makes holds a row a listed address at most; any breach aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unordered_set>

#include "game_list.h"
#include "listed_games.h"

namespace {

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "game list fuzz: invariant broken: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brassmoor;
    const GameListRead read = readGameList(std::string_view(reinterpret_cast<const char*>(data), size));
    require(read.ok || (read.games.empty() && !read.error.empty()),
            "a failed read keeps nothing and says why");
    require(read.games.size() <= MaxGamesRead, "the games read are bounded");
    std::unordered_set<std::uint32_t> addresses;
    for (const ListedGame& game : read.games) {
        require(isListableAddress(game.address) && addresses.insert(game.address).second,
                "each address once, askable");
        require(sanitiseServerName(game.name) == game.name, "names are sanitised");
    }
    BrowserModel model;
    showListedGames(model, read.games);
    require(model.rows.size() == std::min(addresses.size(), MaxListedRows),
            "one row a listed address, bounded");
    return 0;
}
