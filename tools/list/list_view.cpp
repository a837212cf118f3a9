// The served list: replaced by what the store holds, rendered only when that differs, and rendered
// outside the lock so that readers never wait for a render.
#include "list_view.h"

#include <algorithm>
#include <unordered_set>

namespace brassmoor {
namespace {

struct Published {
    std::shared_ptr<const RenderedList> rendered;
    std::shared_ptr<const std::vector<std::uint32_t>> addresses;
};

Published render(const std::vector<GameEntry>& games) {
    auto addresses = std::make_shared<std::vector<std::uint32_t>>();
    addresses->reserve(games.size());
    for (const GameEntry& game : games)
        addresses->push_back(game.address);
    return Published{std::make_shared<const RenderedList>(renderList(games)), std::move(addresses)};
}

}  // namespace

bool showGames(ListView& view, std::vector<GameEntry> games, std::uint64_t localChangesBefore,
               std::vector<GameEntry>& gone) {
    sortBusiestFirst(games);
    {
        std::lock_guard<std::mutex> held(view.lock);
        if (view.localChanges != localChangesBefore) return false;
        if (games == view.games) return true;
    }
    Published published = render(games);
    std::lock_guard<std::mutex> held(view.lock);
    // A removal made here while rendering is newer than this read.
    if (view.localChanges != localChangesBefore) return false;
    std::unordered_set<std::uint32_t> kept;
    for (const GameEntry& game : games)
        kept.insert(game.address);
    for (const GameEntry& game : view.games) {
        if (!kept.contains(game.address)) gone.push_back(game);
    }
    view.games = std::move(games);
    view.rendered = std::move(published.rendered);
    view.addresses = std::move(published.addresses);
    return true;
}

void hideGame(ListView& view, std::uint32_t address) {
    std::vector<GameEntry> games;
    std::uint64_t change = 0;
    {
        std::lock_guard<std::mutex> held(view.lock);
        const auto before = view.games.size();
        std::erase_if(view.games, [address](const GameEntry& game) { return game.address == address; });
        if (view.games.size() == before) return;
        change = ++view.localChanges;
        games = view.games;
    }
    Published published = render(games);
    std::lock_guard<std::mutex> held(view.lock);
    // A later removal renders a list without this game too, and shows it instead.
    if (view.localChanges != change) return;
    view.rendered = std::move(published.rendered);
    view.addresses = std::move(published.addresses);
}

std::shared_ptr<const RenderedList> shownList(ListView& view) {
    std::lock_guard<std::mutex> held(view.lock);
    return view.rendered;
}

std::shared_ptr<const std::vector<std::uint32_t>> shownAddresses(ListView& view) {
    std::lock_guard<std::mutex> held(view.lock);
    return view.addresses;
}

std::uint64_t localChangeCount(ListView& view) {
    std::lock_guard<std::mutex> held(view.lock);
    return view.localChanges;
}

}  // namespace brassmoor
