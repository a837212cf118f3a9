// The launcher window's list of games, without the window: answers merged into one row a server, rows
// aged out, sorted by a column, one selected; what the window and --list/--quick show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ipv4_endpoint.h"
#include "program_entry.h"
#include "server_info.h"

namespace brassmoor {

// A row whose server has not answered for this many refresh rounds is taken out.
inline constexpr std::uint32_t RoundsBeforeGone = 3;
// Whatever answers is bounded: every host on the LAN hears a broadcast query with its nonce and may
// answer under as many instances as it likes. One address fills at most RowsPerSender rows, the list
// at most MaxRows answered rows (a game hosted here is always put in); answers beyond are ignored.
inline constexpr std::size_t RowsPerSender = 4;
inline constexpr std::size_t MaxRows = 512;

struct BrowserRow {
    Ipv4Endpoint from;  // where it is joined: 127.0.0.1 once heard there, else the address it answered from
    ServerInfo info;    // its latest answer
    double pingMilliseconds = 0.0;  // the quickest round trip of the latest round it answered
    std::uint32_t round = 0;        // the refresh round of its latest answer
    bool hostedHere = false;        // served by this launcher
};

enum class BrowserColumn { Name, Players, Ping, Version };

struct BrowserModel {
    ProjectVersion own{};  // games of another major.minor are shown but not joined
    std::vector<BrowserRow> rows;  // in the order shown
    std::optional<std::uint32_t> selected;  // the selected row's instance
    BrowserColumn sortColumn = BrowserColumn::Players;
    bool sortDescending = true;
    bool playerChose = false;  // once the player picks a row, the busiest is no longer chosen for them
    std::optional<std::uint32_t> filledInRound;  // the round in which the first answer came
    std::uint32_t round = 0;
    std::uint32_t nonce = 0;  // this round's query
    double sentAt = 0.0;      // seconds, when this round's queries left
    std::uint32_t previousNonce = 0;  // an answer to the previous round's query still counts
    double previousSentAt = 0.0;
};

// A new refresh round, its queries sent at `now` with `nonce`: rows silent for RoundsBeforeGone
// rounds go (the rows are sorted again then, and a selection that went moves to its neighbour).
void startRound(BrowserModel& model, std::uint32_t nonce, double now);

// Takes one datagram heard at `now`: an answer to this round's or the previous round's query
// refreshes its server's row in place, or adds one where it sorts, the others keeping their place,
// while its sender and the list have room. False for anything else, an answer ignored included.
bool takeAnswer(BrowserModel& model, const Ipv4Endpoint& from, std::span<const std::uint8_t> bytes, double now);

// Puts a server this launcher hosts into the list at once, selected.
void addHostedGame(BrowserModel& model, const Ipv4Endpoint& from, const ServerInfo& info);

// Sorts by `column` (a header click): players and version busiest/newest first when descending.
void sortRows(BrowserModel& model, BrowserColumn column, bool descending);

bool isJoinable(const BrowserModel& model, const BrowserRow& row);

// The player picks a row, or moves the selection by `step` rows (arrow keys), staying in the list.
void selectRow(BrowserModel& model, std::uint32_t instance);
void moveSelection(BrowserModel& model, int step);
const BrowserRow* selectedRow(const BrowserModel& model);

// What the columns show: the server's name, or its address when it has none; "3 / 64"; "12 ms"; "0.3.0".
std::string rowName(const BrowserRow& row);
std::string rowPlayers(const BrowserRow& row);
std::string rowPing(const BrowserRow& row);
std::string rowVersion(const BrowserRow& row);

// One line for --list and --quick:
// "192.168.1.20  players=9 clients=3 bots=6 max-clients=64 version=0.3.0 ping=2ms name=Friday LAN", the
// name last (it may hold spaces) and left out when the server told none.
std::string describeRow(const BrowserRow& row);

}  // namespace brassmoor
