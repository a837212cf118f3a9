// The lists' states: each read taken in, the games of all lists shown together.
#include "list_sources.h"

#include <algorithm>
#include <unordered_set>

#include "listed_games.h"

namespace brassmoor {

std::vector<ListSource> listSourcesFor(const std::vector<ListServer>& servers) {
    std::vector<ListSource> sources;
    for (const ListServer& server : servers)
        sources.push_back(ListSource{server, {}, false, {}});
    return sources;
}

std::vector<std::string> takeListReads(std::vector<ListSource>& sources, const std::vector<ListRead>& reads,
                                       BrowserModel& model) {
    std::vector<std::string> lines;
    bool changed = false;
    for (const ListRead& read : reads) {
        const auto source = std::find_if(sources.begin(), sources.end(), [&](const ListSource& known) {
            return known.server.url == read.url;
        });
        if (source == sources.end()) continue;  // removed while it was read
        source->heard = true;
        std::string problem;
        if (!read.read.ok) {
            problem = "the list at " + read.url + " could not be read: " + read.read.error;
        } else if (!read.read.unchanged) {
            source->games = read.read.games;
            changed = true;
            if (read.read.leftOut > 0) {
                problem = "the list at " + read.url + " named " + std::to_string(read.read.leftOut) +
                          " games that are left out (a field missing or wrong, an address named twice, or "
                          "past the " +
                          std::to_string(MaxGamesRead) + " read)";
            }
        }
        if (read.read.unchanged) continue;  // still as read before, failures included
        if (!problem.empty() && problem != source->problem) lines.push_back(problem);
        source->problem = problem;
    }
    if (changed) showListedGames(model, allListedGames(sources));
    return lines;
}

std::vector<ListedGame> allListedGames(const std::vector<ListSource>& sources) {
    std::vector<ListedGame> games;
    std::unordered_set<std::uint32_t> seen;
    for (const ListSource& source : sources) {
        for (const ListedGame& game : source.games) {
            if (seen.insert(game.address).second) games.push_back(game);
        }
    }
    return games;
}

bool allListsHeard(const std::vector<ListSource>& sources) {
    return std::all_of(sources.begin(), sources.end(), [](const ListSource& source) { return source.heard; });
}

std::vector<std::string> listUrls(const std::vector<ListSource>& sources) {
    std::vector<std::string> urls;
    for (const ListSource& source : sources)
        urls.push_back(source.server.url);
    return urls;
}

}  // namespace brassmoor
