// The launcher window's list of games, without the window: answers merged into one row a server
// wherever it was found (this computer, a LAN, a remembered address, a list on the Internet), rows
// aged out, filtered, sorted by a column, one selected; what the window and --list/--quick show.
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

// A row whose server has not answered for this many refresh rounds is taken out (an Internet row
// stays while a list names it).
inline constexpr std::uint32_t RoundsBeforeGone = 3;
// Whatever answers is bounded: every host on the LAN hears a broadcast query with its nonce and may
// answer under as many instances as it likes. One address fills at most RowsPerSender rows, the list
// at most MaxRows answered rows (a game hosted here is always put in); answers beyond are ignored.
inline constexpr std::size_t RowsPerSender = 4;
inline constexpr std::size_t MaxRows = 512;
// The lists' games shown (and asked), the busiest by the lists' word first: a few thousand rows
// would slow every frame and take minutes to ask at 200 queries a second.
inline constexpr std::size_t MaxListedRows = 1000;

// Where a game was found, best first: a game found several ways is shown as the best of them.
enum class FoundOn { ThisComputer, Lan, Remembered, Internet };

// How a listed game is asked with the launcher's own info query (see listed_games.h).
struct ListedAsking {
    std::uint32_t nonce = 0;   // the latest query's
    double sentAt = -1.0;      // seconds, when it left; negative: not asked yet
    bool waiting = false;      // no answer to it yet, and its wait not over
    std::uint32_t missed = 0;  // queries in a row left unanswered
};

struct BrowserRow {
    Ipv4Endpoint from;  // where it is joined: 127.0.0.1 once heard there, else the address it answered from
    ServerInfo info;    // its latest answer; nothing yet for a listed game still being asked
    double pingMilliseconds = 0.0;  // the quickest round trip of the latest round it answered
    std::uint32_t round = 0;        // the refresh round of its latest answer
    bool hostedHere = false;        // served by this launcher
    FoundOn found = FoundOn::Lan;
    bool answered = true;   // false for a listed game that has not answered yet
    ListedAsking asking{};  // an Internet row's queries
};

enum class BrowserColumn { Name, Found, Players, Ping, Version };

// Which rows are shown. A listed game that has not answered is never hidden by the toggles: whether
// it is empty, full or of this version is not known yet.
struct BrowserFilter {
    std::string name;                // shown when its shown name holds this, letters in any case
    bool hideEmpty = false;          // no players
    bool hideFull = false;           // as many clients as it takes
    bool hideOtherVersions = false;  // a version this launcher cannot join
};

// A listed address whose game answered with the instance of a game already in a row (heard on the
// LAN, or listed at another address too): shown by that row, not twice.
struct ListedTwin {
    std::uint32_t address;
    std::uint32_t instance;
};

struct BrowserModel {
    ProjectVersion own{};          // games of another major.minor are shown but not joined
    std::vector<BrowserRow> rows;  // in the order shown, hidden ones too
    BrowserFilter filter;
    std::optional<std::uint64_t> selected;  // the selected row's key (rowKey)
    BrowserColumn sortColumn = BrowserColumn::Players;
    bool sortDescending = true;
    bool playerChose = false;  // once the player picks a row, the busiest is no longer chosen for them
    std::optional<std::uint32_t> filledInRound;  // the round in which the first answer came
    std::uint32_t round = 0;
    std::uint32_t nonce = 0;          // this round's query
    double sentAt = 0.0;              // seconds, when this round's queries left
    std::uint32_t previousNonce = 0;  // an answer to the previous round's query still counts
    double previousSentAt = 0.0;
    std::vector<std::uint32_t> listed;  // the listed addresses shown, at most MaxListedRows
    std::size_t listedTotal = 0;        // how many addresses the lists named
    std::vector<ListedTwin> twins;
};

// What names a row in the selection and the window: its instance once its game answered, otherwise
// (a listed game) its address above any instance.
std::uint64_t rowKey(const BrowserRow& row);

// A new refresh round, its queries sent at `now` with `nonce`: rows silent for RoundsBeforeGone
// rounds go (the rows are sorted again then, and a selection that went moves to its neighbour).
void startRound(BrowserModel& model, std::uint32_t nonce, double now);

// Takes one datagram heard at `now`: an answer to this round's or the previous round's query
// refreshes its server's row in place, or adds one where it sorts, the others keeping their place,
// while its sender and the list have room; `found` says how the sender was reached (an answer from
// 127.0.0.1 is this computer's whatever it says). An answer to a listed game's own query goes to its
// row (listed_games.h). False for anything else, an answer ignored included.
bool takeAnswer(BrowserModel& model, const Ipv4Endpoint& from, std::span<const std::uint8_t> bytes,
                double now, FoundOn found = FoundOn::Lan);

// Selects the busiest game of this version shown (of equals, the one shown first), when there is one.
void selectBusiest(BrowserModel& model);

// Puts a server this launcher hosts into the list at once, selected.
void addHostedGame(BrowserModel& model, const Ipv4Endpoint& from, const ServerInfo& info);

// Sorts by `column` (a header click): players and version busiest/newest first when descending.
void sortRows(BrowserModel& model, BrowserColumn column, bool descending);
// Puts `row` in where it sorts, the others keeping their place.
void placeRow(BrowserModel& model, BrowserRow row);
// Takes out the rows `gone` names, moving a selection among them to its neighbour; true when any went.
bool dropRows(BrowserModel& model, const std::vector<bool>& gone);

bool isJoinable(const BrowserModel& model, const BrowserRow& row);
bool rowShown(const BrowserModel& model, const BrowserRow& row);
// A new filter; a selection it hides moves to the nearest row shown.
void setFilter(BrowserModel& model, BrowserFilter filter);
// "12 games, 3 shown"; with more listed games than rows, how many the lists named too.
std::string countLine(const BrowserModel& model);

// The player picks a row, or moves the selection by `step` shown rows (arrow keys), staying in the list.
void selectRow(BrowserModel& model, std::uint64_t key);
void moveSelection(BrowserModel& model, int step);
// The selected row while it is shown; null otherwise.
const BrowserRow* selectedRow(const BrowserModel& model);

// What the columns show: the server's name, or its address when it has none; "This computer", "LAN",
// "Remembered", "Internet"; "3 / 64"; "12 ms", "asking...", "unreachable"; "0.3.0".
std::string rowName(const BrowserRow& row);
std::string rowFound(const BrowserRow& row);
std::string rowPlayers(const BrowserRow& row);
std::string rowPing(const BrowserRow& row);
std::string rowVersion(const BrowserRow& row);
// A listed game given up on for now: it has not answered its latest queries.
bool isUnreachable(const BrowserRow& row);

// One line for --list and --quick, how it was found last ("local", "lan", "remembered", "internet"):
// "192.168.1.20  players=9 clients=3 bots=6 max-clients=64 version=0.3.0 ping=2ms name=Friday LAN found=lan",
// the name left out when the server told none; a listed game that never answered:
// "198.51.100.7  unreachable found=internet".
std::string describeRow(const BrowserRow& row);

}  // namespace brassmoor
