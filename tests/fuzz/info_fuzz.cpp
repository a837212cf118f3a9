// Fuzz target: received bytes through the info query on the server's side and the answer on the
// launcher's, checked against what the byte layout alone says.
//
// The input is a script of datagrams: each starts with a control byte (bit 0: heard on loopback;
// bits 1-7: tenths of a second since the one before) and a length byte, then that many bytes (as many
// as are left when fewer). Every datagram goes to the server's query path and to a search's answer
// collection; any disagreement aborts so that libFuzzer keeps the input as a crash.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "browser_model.h"
#include "info_answers.h"
#include "server_info.h"

namespace {

using namespace brassmoor;

constexpr std::uint32_t SearchNonce = 0x5EA4C401;

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
        std::uint32_t nonce = 0;
        ServerInfo told;
        require(decodeInfoAnswer(answer.view(), nonce, told), "the answer decodes");
        require(nonce == readU32(bytes.data() + 5), "the answer echoes the query's nonce");
        require(told.instance == server.info.instance && told.players == server.info.players, "the answer tells");
    }
    // A bucket of QueryAnswersPerSecond refilled at that rate since time 0.
    require(static_cast<double>(server.counters.queriesAnswered) <= QueryAnswersPerSecond * (1.0 + now) + 1e-6,
            "answers stay within the allowance");
}

void checkSearch(BrowserModel& model, std::span<const std::uint8_t> bytes, bool loopback, double now) {
    const std::size_t before = model.rows.size();
    const Ipv4Endpoint from{loopback ? 0x7F000001u : 0x0A000002u, 40123};
    const bool taken = takeAnswer(model, from, bytes, now);
    const bool expected =
        startsWith(bytes, InfoAnswerType) && bytes.size() >= InfoAnswerSize && readU32(bytes.data() + 5) == SearchNonce;
    require(taken == expected, "an answer is taken exactly when it is this search's and whole");
    require(model.rows.size() == before || (taken && model.rows.size() == before + 1), "at most one row is added");
    for (std::size_t i = 0; i < model.rows.size(); ++i) {
        require(model.rows[i].pingMilliseconds >= 0.0, "a ping is never negative");
        for (std::size_t j = i + 1; j < model.rows.size(); ++j) {
            require(model.rows[i].info.instance != model.rows[j].info.instance, "one row per server");
        }
    }
    const BrowserRow* chosen = selectedRow(model);
    require(chosen == nullptr || isJoinable(model, *chosen), "only a joinable game is chosen");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ServerSide server;
    server.info.instance = 0x01020304;
    server.info.players = 7;
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
        now += (control >> 1) * 0.1;
        checkServer(server, bytes, now);
        checkSearch(model, bytes, (control & 1) != 0, now);
    }
    return 0;
}
