// The list of games the launcher shows: merging, ageing, sorting and selecting rows.
#include "browser_model.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

namespace brassmoor {

namespace {

std::uint32_t versionKey(const ServerInfo& info) {
    return (std::uint32_t(info.versionMajor) << 16) | (std::uint32_t(info.versionMinor) << 8) | info.versionPatch;
}

std::vector<BrowserRow>::iterator findRow(BrowserModel& model, std::uint32_t instance) {
    return std::find_if(model.rows.begin(), model.rows.end(),
                        [&](const BrowserRow& row) { return row.info.instance == instance; });
}

// The busiest joinable game; of equals, the one shown first.
void chooseBusiest(BrowserModel& model) {
    const BrowserRow* busiest = nullptr;
    for (const BrowserRow& row : model.rows) {
        if (isJoinable(model, row) && (busiest == nullptr || row.info.players > busiest->info.players)) busiest = &row;
    }
    if (busiest != nullptr) model.selected = busiest->info.instance;
}

void sortAgain(BrowserModel& model) { sortRows(model, model.sortColumn, model.sortDescending); }

std::size_t rowsFrom(const BrowserModel& model, std::uint32_t address) {
    return std::size_t(std::count_if(model.rows.begin(), model.rows.end(),
                                     [&](const BrowserRow& row) { return row.from.address == address; }));
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

double columnNumber(const BrowserRow& row, BrowserColumn column) {
    switch (column) {
        case BrowserColumn::Players:
            return row.info.players;
        case BrowserColumn::Ping:
            return row.pingMilliseconds;
        case BrowserColumn::Version:
            return versionKey(row.info);
        case BrowserColumn::Name:
            break;
    }
    return 0.0;  // sorted by the text alone
}

// Whether `a` is shown above `b`. Equals keep one order whichever way they came in: by name, then by
// instance. It runs for every row a new one passes, so it copies nothing.
bool shownBefore(const BrowserRow& a, const BrowserRow& b, BrowserColumn column, bool descending) {
    const double numberA = columnNumber(a, column);
    const double numberB = columnNumber(b, column);
    if (numberA != numberB) return descending ? numberB < numberA : numberA < numberB;
    std::array<char, 16> spareA;
    std::array<char, 16> spareB;
    const std::string_view nameA = shownName(a, spareA);
    const std::string_view nameB = shownName(b, spareB);
    if (nameA != nameB) return column == BrowserColumn::Name && descending ? nameB < nameA : nameA < nameB;
    return a.info.instance < b.info.instance;
}

// Before the first row it is shown above. Refreshed rows keep their place, so the rows need not be in
// order any more and a binary search would have no answer; the insertion walks the rows anyway.
void insertRow(BrowserModel& model, BrowserRow row) {
    const auto at = std::find_if(model.rows.begin(), model.rows.end(), [&](const BrowserRow& other) {
        return shownBefore(row, other, model.sortColumn, model.sortDescending);
    });
    model.rows.insert(at, std::move(row));
}

}  // namespace

void startRound(BrowserModel& model, std::uint32_t nonce, double now) {
    model.previousNonce = model.nonce;
    model.previousSentAt = model.sentAt;
    model.nonce = nonce;
    model.sentAt = now;
    ++model.round;
    std::size_t selectedAt = model.rows.size();
    for (std::size_t i = 0; i < model.rows.size(); ++i) {
        if (model.selected && model.rows[i].info.instance == *model.selected) selectedAt = i;
    }
    const std::size_t before = model.rows.size();
    std::erase_if(model.rows, [&](const BrowserRow& row) {
        return !row.hostedHere && model.round - row.round > RoundsBeforeGone;
    });
    if (model.rows.size() == before) return;
    if (model.selected && findRow(model, *model.selected) == model.rows.end()) {
        model.selected.reset();
        if (!model.rows.empty()) model.selected = model.rows[std::min(selectedAt, model.rows.size() - 1)].info.instance;
    }
    sortAgain(model);
}

bool takeAnswer(BrowserModel& model, const Ipv4Endpoint& from, std::span<const std::uint8_t> bytes, double now) {
    std::uint32_t answered = 0;
    ServerInfo info;
    if (!decodeInfoAnswer(bytes, answered, info)) return false;
    double sentAt = 0.0;
    if (model.round > 0 && answered == model.nonce) {
        sentAt = model.sentAt;
    } else if (model.round > 1 && answered == model.previousNonce) {
        sentAt = model.previousSentAt;
    } else {
        return false;
    }
    const double ping = std::max(0.0, (now - sentAt) * 1000.0);
    auto row = findRow(model, info.instance);
    if (row == model.rows.end()) {
        if (model.rows.size() >= MaxRows || rowsFrom(model, from.address) >= RowsPerSender) return false;
        insertRow(model, BrowserRow{from, std::move(info), ping, model.round, false});
    } else {
        // The quickest answer of a round is its ping: a server heard on loopback and by broadcast
        // answers twice, and the loopback answer is what a game here would meet.
        if (row->round != model.round || ping < row->pingMilliseconds) row->pingMilliseconds = ping;
        row->round = model.round;
        row->info = std::move(info);
        if (from.address == Loopback && row->from.address != Loopback &&
            rowsFrom(model, Loopback) < RowsPerSender) {
            row->from = from;
        }
    }
    if (!model.playerChose && (!model.filledInRound || *model.filledInRound == model.round)) {
        model.filledInRound = model.round;
        chooseBusiest(model);
    }
    return true;
}

void addHostedGame(BrowserModel& model, const Ipv4Endpoint& from, const ServerInfo& info) {
    auto row = findRow(model, info.instance);
    if (row == model.rows.end()) {
        insertRow(model, BrowserRow{from, info, 0.0, model.round, true});
    } else {
        row->hostedHere = true;
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

bool isJoinable(const BrowserModel& model, const BrowserRow& row) {
    return row.info.versionMajor == model.own.major && row.info.versionMinor == model.own.minor;
}

void selectRow(BrowserModel& model, std::uint32_t instance) {
    if (findRow(model, instance) == model.rows.end()) return;
    model.selected = instance;
    model.playerChose = true;
}

void moveSelection(BrowserModel& model, int step) {
    if (model.rows.empty()) return;
    const auto at = model.selected ? findRow(model, *model.selected) : model.rows.end();
    long index = at == model.rows.end() ? (step > 0 ? -1 : long(model.rows.size())) : long(at - model.rows.begin());
    index = std::clamp(index + step, 0L, long(model.rows.size()) - 1);
    selectRow(model, model.rows[std::size_t(index)].info.instance);
}

const BrowserRow* selectedRow(const BrowserModel& model) {
    if (!model.selected) return nullptr;
    for (const BrowserRow& row : model.rows) {
        if (row.info.instance == *model.selected) return &row;
    }
    return nullptr;
}

std::string rowName(const BrowserRow& row) {
    const std::string& name = row.info.name;
    return name.empty() ? formatIpv4Address(row.from.address) : name;
}

std::string rowPlayers(const BrowserRow& row) {
    return std::to_string(row.info.players) + " / " + std::to_string(row.info.maxClients);
}

std::string rowPing(const BrowserRow& row) {
    if (row.hostedHere) return "here";
    return row.pingMilliseconds < 0.5 ? "<1 ms" : std::to_string(std::lround(row.pingMilliseconds)) + " ms";
}

std::string rowVersion(const BrowserRow& row) {
    return std::to_string(row.info.versionMajor) + "." + std::to_string(row.info.versionMinor) + "." +
           std::to_string(row.info.versionPatch);
}

std::string describeRow(const BrowserRow& row) {
    const ServerInfo& info = row.info;
    return formatIpv4Address(row.from.address) + "  players=" + std::to_string(info.players) +
           " clients=" + std::to_string(info.clients) + " bots=" + std::to_string(info.bots) +
           " max-clients=" + std::to_string(info.maxClients) + " version=" + rowVersion(row) +
           " ping=" + std::to_string(std::lround(row.pingMilliseconds)) + "ms" +
           (info.name.empty() ? "" : " name=" + info.name);
}

}  // namespace brassmoor
