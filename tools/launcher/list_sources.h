// The list servers the launcher reads and what each last said: the games of all of them together
// for the list of games, and one line for each change in how a list fails. Pure: the reads come
// from the list fetcher.
#pragma once

#include <string>
#include <vector>

#include "browser_model.h"
#include "game_list.h"
#include "list_servers.h"

namespace brassmoor {

struct ListSource {
    ListServer server;
    std::vector<ListedGame> games;  // as last read well; kept while the list fails
    bool heard = false;             // it answered, or failed, since it was added
    std::string problem;            // the latest failure's line; empty while it reads well
};

// One list's answer, as the fetcher read it.
struct ListRead {
    std::string url;
    GameListRead read;
};

std::vector<ListSource> listSourcesFor(const std::vector<ListServer>& servers);

// Takes `reads` into their lists and shows the games of all lists in `model` (each address once).
// Returns the lines to report: "the list at URL could not be read: REASON" (once, until it reads
// well again) and what a list named that could not be used.
std::vector<std::string> takeListReads(std::vector<ListSource>& sources, const std::vector<ListRead>& reads,
                                       BrowserModel& model);

// The games of every list, each address once, in the lists' order.
std::vector<ListedGame> allListedGames(const std::vector<ListSource>& sources);

// True once every list has answered or failed at least once.
bool allListsHeard(const std::vector<ListSource>& sources);

std::vector<std::string> listUrls(const std::vector<ListSource>& sources);

}  // namespace brassmoor
