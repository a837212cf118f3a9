// Fuzz target: received bytes through the info query on the server's side and the answer on the
// launcher's, checked against what the byte layout alone says, and every datagram's bytes taken as
// a name through the sanitiser.
//
// The input is a script of datagrams: each starts with a control byte (bit 0: heard on loopback;
// bits 1-6: tenths of a second since the one before; bit 7: a flood, see below) and a length byte,
// then that many bytes (as many as are left when fewer). Every datagram goes to the server's query
// path and to a search's answer collection; any disagreement aborts so that libFuzzer keeps the input
// as a crash. A flood hands the search that datagram FloodCopies times instead, its instance one more
// each time, FloodCopiesPerSender copies from each address of a run: each sender sends more than its
// share, and all together more than the list holds.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "browser_model.h"
#include "info_answers.h"
#include "server_info.h"

namespace {

using namespace brassmoor;

constexpr std::uint32_t SearchNonce = 0x5EA4C401;
constexpr std::uint32_t LanSender = 0x0A000002;
constexpr std::uint32_t FloodCopies = 660;
constexpr std::uint32_t FloodCopiesPerSender = 5;

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "info fuzz: invariant broken: %s\n", what);
        std::abort();
    }
}

std::uint32_t readU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

bool startsWith(std::span<const std::uint8_t> bytes, std::uint8_t type) {
    return bytes.size() >= 5 && std::memcmp(bytes.data(), "KV01", 4) == 0 && bytes[4] == type;
}

// A name shows nothing that hides or reorders text: no control byte, no bidi control, no byte
// that cannot start or continue a character, within the bound; and sanitising it again changes nothing.
void requireSanitised(const std::string& name) {
    require(name.size() <= MaxServerNameBytes, "a name is bounded");
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(name[i]);
        require(byte >= 0x20 && byte != 0x7F && byte != 0xC0 && byte != 0xC1 && byte < 0xF5, "no control or bad byte");
        if (byte == 0xE2 && i + 2 < name.size()) {
            const unsigned mark = (static_cast<unsigned>(static_cast<std::uint8_t>(name[i + 1])) << 8) |
                                  static_cast<std::uint8_t>(name[i + 2]);
            require(!(mark >= 0x80AA && mark <= 0x80AE) && !(mark >= 0x81A6 && mark <= 0x81A9) && mark != 0x808E &&
                        mark != 0x808F,
                    "no bidi control");
        }
    }
    require(name.empty() || (name.front() != ' ' && name.back() != ' '), "no spaces at the ends");
    require(sanitiseServerName(name) == name, "a sanitised name stays as it is");
}

struct ServerSide {
    QueryAllowance allowance = makeQueryAllowance(0.0);
    TrafficCounters counters;
    ServerInfo info;
};

void checkServer(ServerSide& server, std::span<const std::uint8_t> bytes, double now) {
    const TrafficCounters before = server.counters;
    InfoAnswerBytes answer;
    const QueryOutcome outcome = takeInfoQuery(server.allowance, server.counters, bytes, now, server.info, answer);
    if (!startsWith(bytes, InfoQueryType)) {
        require(outcome == QueryOutcome::NotAQuery, "only type 3 is taken");
        require(server.counters.datagramsIn == before.datagramsIn, "a datagram not taken is not counted");
        return;
    }
    require(server.counters.datagramsIn == before.datagramsIn + 1, "a query is counted in");
    if (bytes.size() < InfoAnswerSize) {
        require(outcome == QueryOutcome::Dropped, "a query shorter than the answer is dropped");
        return;
    }
    require(outcome == QueryOutcome::Answered || outcome == QueryOutcome::Refused, "a whole query is decided");
    if (outcome == QueryOutcome::Answered) {
        require(answer.size <= bytes.size(), "an answer is never longer than its query");
        const auto old = encodeInfoAnswer(readU32(bytes.data() + 5), server.info);
        require(std::equal(old.begin(), old.end(), answer.bytes.begin()), "the first 24 bytes are the old answer");
        if (bytes.size() == InfoQuerySize) {
            require(answer.size == InfoAnswerSize, "a 24-byte query gets the 24-byte answer");
        } else {
            require(answer.size == InfoNameOffset + answer.bytes[InfoNameLengthOffset], "the name's length is told");
        }
        std::uint32_t nonce = 0;
        ServerInfo told;
        require(decodeInfoAnswer(answer.view(), nonce, told), "the answer decodes");
        require(nonce == readU32(bytes.data() + 5), "the answer echoes the query's nonce");
        require(told.instance == server.info.instance && told.players == server.info.players, "the answer tells");
        require(server.info.name.starts_with(told.name), "the name is told whole or cut, never altered");
        const std::size_t room = std::min(bytes.size(), MaxInfoAnswerSize) - std::min(bytes.size(), InfoNameOffset);
        // At most a character cut in three of its four bytes, and the space before it.
        require(told.name.size() + 5 > std::min(room, server.info.name.size()), "a cut loses less than a character");
    }
    // A bucket of QueryAnswersPerSecond refilled at that rate since time 0.
    require(static_cast<double>(server.counters.queriesAnswered) <= QueryAnswersPerSecond * (1.0 + now) + 1e-6,
            "answers stay within the allowance");
}

std::size_t rowsFrom(const BrowserModel& model, std::uint32_t sender) {
    return std::size_t(std::count_if(model.rows.begin(), model.rows.end(),
                                     [&](const BrowserRow& row) { return row.from.address == sender; }));
}

// One answer: of all the senders, only its own can gain a row.
void checkSearch(BrowserModel& model, std::span<const std::uint8_t> bytes, std::uint32_t sender, double now) {
    const std::size_t before = model.rows.size();
    const bool known = bytes.size() >= 13 &&
                       std::any_of(model.rows.begin(), model.rows.end(),
                                   [&](auto& row) { return row.info.instance == readU32(bytes.data() + 9); });
    const bool room = before < MaxRows && rowsFrom(model, sender) < RowsPerSender;
    const bool taken = takeAnswer(model, Ipv4Endpoint{sender, 40123}, bytes, now);
    const bool expected = startsWith(bytes, InfoAnswerType) && bytes.size() >= InfoAnswerSize &&
                          readU32(bytes.data() + 5) == SearchNonce && (known || room);
    require(taken == expected, "an answer is taken exactly when it is this search's, whole, and has room");
    require(model.rows.size() == before || (taken && model.rows.size() == before + 1), "at most one row is added");
    require(model.rows.size() <= MaxRows && rowsFrom(model, sender) <= RowsPerSender, "the list is bounded");
}

// The whole list, after each datagram of the script.
void checkList(const BrowserModel& model) {
    std::vector<std::uint32_t> senders;
    std::vector<std::uint32_t> instances;
    for (const BrowserRow& row : model.rows) {
        require(row.pingMilliseconds >= 0.0, "a ping is never negative");
        requireSanitised(row.info.name);
        senders.push_back(row.from.address);
        instances.push_back(row.info.instance);
    }
    std::sort(senders.begin(), senders.end());
    std::sort(instances.begin(), instances.end());
    require(std::adjacent_find(instances.begin(), instances.end()) == instances.end(), "one row per server");
    for (std::size_t i = RowsPerSender; i < senders.size(); ++i) {
        require(senders[i] != senders[i - RowsPerSender], "a sender fills a bounded number of rows");
    }
    // A server may change its version under the same instance, so a chosen row need not stay joinable;
    // but the selection always names a row that is there.
    require(!model.selected || selectedRow(model) != nullptr, "the selection is a row of the list");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ServerSide server;
    server.info.instance = 0x01020304;
    server.info.players = 7;
    // Characters of one to four bytes, so that every query length cuts the name somewhere new.
    server.info.name = sanitiseServerName("Z\xC3\xBCrich \xE2\x80\x93 \xE5\x8C\x97 \xF0\x9F\x8E\xAE LAN");
    BrowserModel model;
    model.own = projectVersion();
    startRound(model, SearchNonce, 0.0);
    double now = 0.0;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t control = data[at];
        const std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
        const std::span<const std::uint8_t> bytes(data + at + 2, length);
        at += 2 + length;
        now += ((control >> 1) & 0x3F) * 0.1;
        checkServer(server, bytes, now);
        const std::uint32_t heardFrom = (control & 1) != 0 ? Loopback : LanSender;
        const bool flood = (control & 0x80) != 0 && bytes.size() >= 13;
        std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
        for (std::uint32_t i = 0; i < (flood ? FloodCopies : 1); ++i) {
            for (int k = 0; flood && k < 4; ++k)
                copy[9 + k] = std::uint8_t((readU32(bytes.data() + 9) + i) >> (8 * k));
            checkSearch(model, copy, flood ? LanSender + i / FloodCopiesPerSender : heardFrom, now);
        }
        checkList(model);
        requireSanitised(sanitiseServerName(std::string_view(reinterpret_cast<const char*>(bytes.data()), length)));
    }
    return 0;
}
