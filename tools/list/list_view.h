// The list this instance serves: the games it last read from the store, rendered once per change, and
// their addresses for the rechecks. Readers take the rendered bodies under the lock only to copy a pointer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "game_entry.h"
#include "list_pages.h"

namespace brassmoor {

struct ListView {
    std::mutex lock;
    std::vector<GameEntry> games;  // busiest first
    std::shared_ptr<const RenderedList> rendered = std::make_shared<const RenderedList>(renderList({}));
    std::shared_ptr<const std::vector<std::uint32_t>> addresses =
        std::make_shared<const std::vector<std::uint32_t>>();
    // Counts changes made here (a game's removal) since the start, so that a read of the store begun
    // before one is not shown over it.
    std::uint64_t localChanges = 0;
};

// Shows `games` (in any order) unless the view changed here since `localChangesBefore`; renders only
// when the list differs from what is shown. The games no longer shown are added to `gone`. False when
// the read was older than a local change and so not shown.
bool showGames(ListView& view, std::vector<GameEntry> games, std::uint64_t localChangesBefore,
               std::vector<GameEntry>& gone);

// Takes the game at `address` out of the list shown, at once, when it is there.
void hideGame(ListView& view, std::uint32_t address);

std::shared_ptr<const RenderedList> shownList(ListView& view);
std::shared_ptr<const std::vector<std::uint32_t>> shownAddresses(ListView& view);
std::uint64_t localChangeCount(ListView& view);

}  // namespace brassmoor
