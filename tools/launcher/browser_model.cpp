// The list of games the launcher shows: merging, ageing, filtering, sorting and selecting rows.
#include "browser_model.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

#include "listed_games.h"

namespace brassmoor {

namespace {

constexpr std::uint64_t UnansweredKey = std::uint64_t(1) << 32;
// A ping column sorted ascending puts the games that have not answered last.
constexpr double NoPing = 1e12;

std::uint32_t versionKey(const ServerInfo& info) {
    return (std::uint32_t(info.versionMajor) << 16) | (std::uint32_t(info.versionMinor) << 8) |
           info.versionPatch;
}

std::vector<BrowserRow>::iterator findRow(BrowserModel& model, std::uint64_t key) {
    return std::find_if(model.rows.begin(), model.rows.end(),
                        [&](const BrowserRow& row) { return rowKey(row) == key; });
}

void sortAgain(BrowserModel& model) {
    sortRows(model, model.sortColumn, model.sortDescending);
}

std::size_t rowsFrom(const BrowserModel& model, std::uint32_t address) {
    return std::size_t(std::count_if(model.rows.begin(), model.rows.end(),
                                     [&](const BrowserRow& row) { return row.from.address == address; }));
}

std::size_t searchedRows(const BrowserModel& model) {
    return std::size_t(std::count_if(model.rows.begin(), model.rows.end(),
                                     [](const BrowserRow& row) { return row.found != FoundOn::Internet; }));
}

// The text rowName shows, without a copy: an unnamed row's address is written into `spare`.
std::string_view shownName(const BrowserRow& row, std::array<char, 16>& spare) {
    if (!row.info.name.empty()) return row.info.name;
    char* end = spare.data();
    for (int shift = 24; shift >= 0; shift -= 8) {
        end = std::to_chars(end, spare.data() + spare.size(), (row.from.address >> shift) & 0xFF).ptr;
        if (shift > 0) *end++ = '.';
    }
    return {spare.data(), std::size_t(end - spare.data())};
}

bool holdsInAnyCase(std::string_view text, std::string_view part) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

double columnNumber(const BrowserRow& row, BrowserColumn column) {
    switch (column) {
        case BrowserColumn::Found:
            return double(row.found);
        case BrowserColumn::Players:
            return row.info.players;
        case BrowserColumn::Ping:
            return row.answered && !isUnreachable(row) ? row.pingMilliseconds : NoPing;
        case BrowserColumn::Version:
            return versionKey(row.info);
        case BrowserColumn::Name:
            break;
    }
    return 0.0;  // sorted by the text alone
}

// Whether `a` is shown above `b`. Equals keep one order whichever way they came in: by name, then by
// key. It runs for every row a new one passes, so it copies nothing.
bool shownBefore(const BrowserRow& a, const BrowserRow& b, BrowserColumn column, bool descending) {
    const double numberA = columnNumber(a, column);
    const double numberB = columnNumber(b, column);
    if (numberA != numberB) {
        // Where a game was found reads best in its own order, this computer first.
        const bool reversed = descending && column != BrowserColumn::Found;
        return reversed ? numberB < numberA : numberA < numberB;
    }
    std::array<char, 16> spareA;
    std::array<char, 16> spareB;
    const std::string_view nameA = shownName(a, spareA);
    const std::string_view nameB = shownName(b, spareB);
    if (nameA != nameB) return column == BrowserColumn::Name && descending ? nameB < nameA : nameA < nameB;
    return rowKey(a) < rowKey(b);
}

// The shown row nearest to `index` (itself, the ones after it, then before it); none when none is shown.
std::optional<std::uint64_t> nearestShown(const BrowserModel& model, std::size_t index) {
    for (std::size_t i = index; i < model.rows.size(); ++i) {
        if (rowShown(model, model.rows[i])) return rowKey(model.rows[i]);
    }
    for (std::size_t i = std::min(index, model.rows.size()); i-- > 0;) {
        if (rowShown(model, model.rows[i])) return rowKey(model.rows[i]);
    }
    return std::nullopt;
}

}  // namespace

std::uint64_t rowKey(const BrowserRow& row) {
    return row.answered ? row.info.instance : UnansweredKey | row.from.address;
}

void startRound(BrowserModel& model, std::uint32_t nonce, double now) {
    model.previousNonce = model.nonce;
    model.previousSentAt = model.sentAt;
    model.nonce = nonce;
    model.sentAt = now;
    ++model.round;
    std::vector<bool> gone;
    for (const BrowserRow& row : model.rows) {
        gone.push_back(!row.hostedHere && row.found != FoundOn::Internet &&
                       model.round - row.round > RoundsBeforeGone);
    }
    if (!dropRows(model, gone)) return;
    restoreTwins(model);
    sortAgain(model);
}

bool takeAnswer(BrowserModel& model, const Ipv4Endpoint& from, std::span<const std::uint8_t> bytes,
                double now, FoundOn found) {
    std::uint32_t answered = 0;
    ServerInfo info;
    if (!decodeInfoAnswer(bytes, answered, info)) return false;
    if (from.address == Loopback) found = FoundOn::ThisComputer;
    double sentAt = 0.0;
    if (model.round > 0 && answered == model.nonce) {
        sentAt = model.sentAt;
    } else if (model.round > 1 && answered == model.previousNonce) {
        sentAt = model.previousSentAt;
    } else {
        return takeListedAnswer(model, from, answered, std::move(info), now);
    }
    const double ping = std::max(0.0, (now - sentAt) * 1000.0);
    auto row = std::find_if(model.rows.begin(), model.rows.end(), [&](const BrowserRow& known) {
        return known.answered && known.info.instance == info.instance;
    });
    const bool senderHasRoom = rowsFrom(model, from.address) < RowsPerSender;
    if (row == model.rows.end()) {
        if (searchedRows(model) >= MaxRows || !senderHasRoom) return false;
        placeRow(model, BrowserRow{from, std::move(info), ping, model.round, false, found});
    } else if (row->found == FoundOn::Internet) {
        // A listed game heard here too: the row is this way's from now on, and the listed address its twin.
        if (!senderHasRoom) return false;
        model.twins.push_back(ListedTwin{row->from.address, info.instance});
        *row = BrowserRow{from, std::move(info), ping, model.round, row->hostedHere, found};
    } else {
        // The quickest answer of a round is its ping: a server heard on loopback and by broadcast
        // answers twice, and the loopback answer is what a game here would meet.
        if (row->round != model.round || ping < row->pingMilliseconds) row->pingMilliseconds = ping;
        row->round = model.round;
        row->info = std::move(info);
        if (found < row->found && senderHasRoom) {
            row->from = from;
            row->found = found;
        }
    }
    if (!model.playerChose && (!model.filledInRound || *model.filledInRound == model.round)) {
        model.filledInRound = model.round;
        selectBusiest(model);
    }
    return true;
}

void selectBusiest(BrowserModel& model) {
    const BrowserRow* busiest = nullptr;
    for (const BrowserRow& row : model.rows) {
        if (isJoinable(model, row) && rowShown(model, row) &&
            (busiest == nullptr || row.info.players > busiest->info.players)) {
            busiest = &row;
        }
    }
    if (busiest != nullptr) model.selected = rowKey(*busiest);
}

void addHostedGame(BrowserModel& model, const Ipv4Endpoint& from, const ServerInfo& info) {
    auto row = findRow(model, info.instance);
    if (row == model.rows.end()) {
        placeRow(model, BrowserRow{from, info, 0.0, model.round, true, FoundOn::ThisComputer});
    } else {
        row->hostedHere = true;
        row->found = FoundOn::ThisComputer;
    }
    model.selected = info.instance;
    model.playerChose = true;
}

void sortRows(BrowserModel& model, BrowserColumn column, bool descending) {
    model.sortColumn = column;
    model.sortDescending = descending;
    std::sort(model.rows.begin(), model.rows.end(), [&](const BrowserRow& a, const BrowserRow& b) {
        return shownBefore(a, b, column, descending);
    });
}

// Before the first row it is shown above. Refreshed rows keep their place, so the rows need not be in
// order any more and a binary search would have no answer; the insertion walks the rows anyway.
void placeRow(BrowserModel& model, BrowserRow row) {
    const auto at = std::find_if(model.rows.begin(), model.rows.end(), [&](const BrowserRow& other) {
        return shownBefore(row, other, model.sortColumn, model.sortDescending);
    });
    model.rows.insert(at, std::move(row));
}

bool dropRows(BrowserModel& model, const std::vector<bool>& gone) {
    std::size_t selectedAt = model.rows.size();
    bool selectedGone = false;
    std::vector<BrowserRow> kept;
    for (std::size_t i = 0; i < model.rows.size(); ++i) {
        const bool drop = i < gone.size() && gone[i];
        if (model.selected && rowKey(model.rows[i]) == *model.selected) {
            selectedAt = kept.size();
            selectedGone = drop;
        }
        if (!drop) kept.push_back(std::move(model.rows[i]));
    }
    const bool dropped = kept.size() != model.rows.size();
    model.rows = std::move(kept);
    if (selectedGone) model.selected = nearestShown(model, selectedAt);
    return dropped;
}

bool isJoinable(const BrowserModel& model, const BrowserRow& row) {
    return row.answered && row.info.versionMajor == model.own.major &&
           row.info.versionMinor == model.own.minor;
}

bool rowShown(const BrowserModel& model, const BrowserRow& row) {
    const BrowserFilter& filter = model.filter;
    std::array<char, 16> spare;
    if (!filter.name.empty() && !holdsInAnyCase(shownName(row, spare), filter.name)) return false;
    if (!row.answered) return true;
    if (filter.hideEmpty && row.info.players == 0) return false;
    if (filter.hideFull && row.info.clients >= row.info.maxClients) return false;
    return !filter.hideOtherVersions || isJoinable(model, row);
}

void setFilter(BrowserModel& model, BrowserFilter filter) {
    model.filter = std::move(filter);
    if (!model.selected) return;
    const auto at = findRow(model, *model.selected);
    if (at == model.rows.end() || !rowShown(model, *at)) {
        model.selected = nearestShown(model, std::size_t(at - model.rows.begin()));
    }
}

std::string countLine(const BrowserModel& model) {
    const std::size_t total = model.rows.size();
    const std::size_t shown = std::size_t(std::count_if(
        model.rows.begin(), model.rows.end(), [&](const BrowserRow& row) { return rowShown(model, row); }));
    std::string line =
        std::to_string(total) + (total == 1 ? " game, " : " games, ") + std::to_string(shown) + " shown";
    if (model.listedTotal > model.listed.size()) {
        line += "; the lists name " + std::to_string(model.listedTotal) + ", of which the busiest " +
                std::to_string(model.listed.size()) + " are asked";
    }
    return line;
}

void selectRow(BrowserModel& model, std::uint64_t key) {
    const auto at = findRow(model, key);
    if (at == model.rows.end() || !rowShown(model, *at)) return;
    model.selected = key;
    model.playerChose = true;
}

void moveSelection(BrowserModel& model, int step) {
    std::vector<std::uint64_t> shown;
    long at = -1;
    for (const BrowserRow& row : model.rows) {
        if (!rowShown(model, row)) continue;
        if (model.selected && rowKey(row) == *model.selected) at = long(shown.size());
        shown.push_back(rowKey(row));
    }
    if (shown.empty()) return;
    if (at < 0) at = step > 0 ? -1 : long(shown.size());
    selectRow(model, shown[std::size_t(std::clamp(at + step, 0L, long(shown.size()) - 1))]);
}

const BrowserRow* selectedRow(const BrowserModel& model) {
    if (!model.selected) return nullptr;
    for (const BrowserRow& row : model.rows) {
        if (rowKey(row) == *model.selected) return rowShown(model, row) ? &row : nullptr;
    }
    return nullptr;
}

std::string rowName(const BrowserRow& row) {
    const std::string& name = row.info.name;
    return name.empty() ? formatIpv4Address(row.from.address) : name;
}

std::string rowFound(const BrowserRow& row) {
    switch (row.found) {
        case FoundOn::ThisComputer:
            return "This computer";
        case FoundOn::Lan:
            return "LAN";
        case FoundOn::Remembered:
            return "Remembered";
        case FoundOn::Internet:
            break;
    }
    return "Internet";
}

std::string rowPlayers(const BrowserRow& row) {
    if (!row.answered) return "";
    return std::to_string(row.info.players) + " / " + std::to_string(row.info.maxClients);
}

std::string rowPing(const BrowserRow& row) {
    if (row.hostedHere) return "here";
    if (isUnreachable(row)) return "unreachable";
    if (!row.answered) return "asking...";
    return row.pingMilliseconds < 0.5 ? "<1 ms" : std::to_string(std::lround(row.pingMilliseconds)) + " ms";
}

std::string rowVersion(const BrowserRow& row) {
    if (!row.answered) return "";
    return std::to_string(row.info.versionMajor) + "." + std::to_string(row.info.versionMinor) + "." +
           std::to_string(row.info.versionPatch);
}

bool isUnreachable(const BrowserRow& row) {
    return row.found == FoundOn::Internet && row.asking.missed >= PingTries;
}

std::string describeRow(const BrowserRow& row) {
    static constexpr std::array<const char*, 4> FoundWords{"local", "lan", "remembered", "internet"};
    const std::string found = std::string(" found=") + FoundWords[std::size_t(row.found)];
    const ServerInfo& info = row.info;
    if (!row.answered) {
        return formatIpv4Address(row.from.address) + (isUnreachable(row) ? "  unreachable" : "  asking") +
               found;
    }
    return formatIpv4Address(row.from.address) + "  players=" + std::to_string(info.players) +
           " clients=" + std::to_string(info.clients) + " bots=" + std::to_string(info.bots) +
           " max-clients=" + std::to_string(info.maxClients) + " version=" + rowVersion(row) +
           " ping=" + std::to_string(std::lround(row.pingMilliseconds)) + "ms" +
           (info.name.empty() ? "" : " name=" + info.name) + found;
}

}  // namespace brassmoor
