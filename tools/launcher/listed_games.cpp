// The lists' games as rows, and the schedule of the launcher's own queries to them.
#include "listed_games.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "launcher_options.h"

namespace brassmoor {

namespace {

bool isListedRow(const BrowserRow& row) {
    return row.found == FoundOn::Internet;
}

bool hasListedRow(const BrowserModel& model, std::uint32_t address) {
    return std::any_of(model.rows.begin(), model.rows.end(), [&](const BrowserRow& row) {
        return isListedRow(row) && row.from.address == address;
    });
}

bool hasTwin(const BrowserModel& model, std::uint32_t address) {
    return std::any_of(model.twins.begin(), model.twins.end(),
                       [&](const ListedTwin& twin) { return twin.address == address; });
}

// A row for a listed address that has none: its address, being asked.
void addListedRow(BrowserModel& model, std::uint32_t address) {
    BrowserRow row;
    row.from = Ipv4Endpoint{address, GamePort};
    row.round = model.round;
    row.found = FoundOn::Internet;
    row.answered = false;
    placeRow(model, std::move(row));
}

bool due(const BrowserRow& row, double now) {
    if (!isListedRow(row) || row.asking.waiting) return false;
    const ListedAsking& asking = row.asking;
    return asking.sentAt < 0.0 || (asking.missed > 0 && asking.missed < PingTries) ||
           now - asking.sentAt >= ReaskSeconds;
}

}  // namespace

void showListedGames(BrowserModel& model, std::span<const ListedGame> games) {
    std::vector<const ListedGame*> busiest;
    for (const ListedGame& game : games)
        busiest.push_back(&game);
    std::stable_sort(busiest.begin(), busiest.end(),
                     [](const ListedGame* a, const ListedGame* b) { return a->players > b->players; });
    busiest.resize(std::min(busiest.size(), MaxListedRows));
    model.listedTotal = games.size();
    model.listed.clear();
    std::unordered_set<std::uint32_t> listed;
    for (const ListedGame* game : busiest) {
        if (listed.insert(game->address).second) model.listed.push_back(game->address);
    }
    std::erase_if(model.twins, [&](const ListedTwin& twin) { return !listed.contains(twin.address); });
    std::vector<bool> gone;
    for (const BrowserRow& row : model.rows)
        gone.push_back(isListedRow(row) && !listed.contains(row.from.address));
    dropRows(model, gone);
    for (const std::uint32_t address : model.listed) {
        if (!hasListedRow(model, address) && !hasTwin(model, address)) addListedRow(model, address);
    }
}

std::vector<ListedQuery> startListedQueries(BrowserModel& model, double now,
                                            std::span<const std::uint32_t> nonces,
                                            std::span<const std::uint64_t> shownFirst) {
    for (BrowserRow& row : model.rows) {
        if (isListedRow(row) && row.asking.waiting && now - row.asking.sentAt >= PingWaitSeconds) {
            row.asking.waiting = false;
            ++row.asking.missed;
        }
    }
    std::vector<ListedQuery> queries;
    const auto ask = [&](BrowserRow& row) {
        if (queries.size() >= nonces.size() || !due(row, now)) return;
        row.asking.nonce = nonces[queries.size()];
        row.asking.sentAt = now;
        row.asking.waiting = true;
        queries.push_back(ListedQuery{row.from.address, row.asking.nonce});
    };
    for (const std::uint64_t key : shownFirst) {
        const auto row = std::find_if(model.rows.begin(), model.rows.end(),
                                      [&](const BrowserRow& known) { return rowKey(known) == key; });
        if (row != model.rows.end()) ask(*row);
    }
    for (BrowserRow& row : model.rows)
        ask(row);
    return queries;
}

bool takeListedAnswer(BrowserModel& model, const Ipv4Endpoint& from, std::uint32_t nonce, ServerInfo info,
                      double now) {
    const auto row = std::find_if(model.rows.begin(), model.rows.end(), [&](const BrowserRow& known) {
        return isListedRow(known) && known.from == from && known.asking.waiting &&
               known.asking.nonce == nonce;
    });
    if (row == model.rows.end()) return false;
    const std::uint64_t oldKey = rowKey(*row);
    const bool wasSelected = model.selected == oldKey;
    const auto twin = std::find_if(model.rows.begin(), model.rows.end(), [&](const BrowserRow& known) {
        return &known != &*row && known.answered && known.info.instance == info.instance;
    });
    if (twin != model.rows.end()) {
        // Already shown, heard on the LAN or listed at another address: that row stands for it.
        model.twins.push_back(ListedTwin{from.address, info.instance});
        model.rows.erase(row);
        if (wasSelected) model.selected = info.instance;
        return true;
    }
    BrowserRow answered = std::move(*row);
    answered.pingMilliseconds = std::max(0.0, (now - answered.asking.sentAt) * 1000.0);
    answered.asking.waiting = false;
    answered.asking.missed = 0;
    answered.info = std::move(info);
    if (answered.answered) {
        *row = std::move(answered);
    } else {
        // Its first answer is when it arrives in the list: it goes where it sorts, as a new row does.
        answered.answered = true;
        const std::uint64_t newKey = rowKey(answered);
        model.rows.erase(row);
        placeRow(model, std::move(answered));
        if (wasSelected) model.selected = newKey;
    }
    if (!model.playerChose && !model.selected) selectBusiest(model);
    return true;
}

bool listedStillAsked(const BrowserModel& model) {
    return std::any_of(model.rows.begin(), model.rows.end(), [](const BrowserRow& row) {
        return isListedRow(row) && !row.answered && row.asking.missed < PingTries;
    });
}

void askListedAgain(BrowserModel& model) {
    for (BrowserRow& row : model.rows) {
        if (isListedRow(row) && !row.asking.waiting) row.asking.sentAt = -1.0;
    }
}

void restoreTwins(BrowserModel& model) {
    std::vector<std::uint32_t> freed;
    std::erase_if(model.twins, [&](const ListedTwin& twin) {
        const bool shown = std::any_of(model.rows.begin(), model.rows.end(), [&](const BrowserRow& row) {
            return row.answered && row.info.instance == twin.instance;
        });
        if (!shown) freed.push_back(twin.address);
        return !shown;
    });
    for (const std::uint32_t address : freed) {
        const bool listed =
            std::find(model.listed.begin(), model.listed.end(), address) != model.listed.end();
        if (listed && !hasListedRow(model, address) && !hasTwin(model, address)) addListedRow(model, address);
    }
}

}  // namespace brassmoor
