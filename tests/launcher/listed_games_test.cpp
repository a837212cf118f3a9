// The lists' games without a window or a network: two lists and the LAN merged into one row a game,
// filters and the count, the games asked and given up on, and hostile lists read within bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "list_sources.h"
#include "listed_games.h"

namespace brassmoor {
namespace {

constexpr std::uint32_t Far = 0xC6336414;      // 198.51.100.20
constexpr std::uint32_t Farther = 0xC633641E;  // 198.51.100.30
constexpr std::uint32_t Lan = 0x0A000005;      // 10.0.0.5

std::string entry(const std::string& address, const std::string& name = "listed",
                  const std::string& port = "40123") {
    return R"({"address": ")" + address + R"(", "port": )" + port + R"(, "name": ")" + name +
           R"(", "players": 9, "clients": 0, "bots": 9, "max_clients": 64, "version": "0.3.0"})";
}

ListRead listRead(const std::string& url, const std::string& games) {
    return ListRead{
        url, readGameListAnswer(HttpResponse{true, 200, R"({"games": [)" + games + "]}", "\"t\"", 0, ""})};
}

std::vector<std::uint8_t> answer(std::uint32_t nonce, std::uint32_t instance, std::uint16_t players,
                                 std::uint16_t clients = 0, std::uint8_t minor = 3) {
    ServerInfo info{instance, players, clients, std::uint16_t(players - clients),  2,
                    0,        minor,   0,       "game " + std::to_string(instance)};
    const InfoAnswerBytes bytes = encodeInfoAnswerFor(NamedInfoQuerySize, nonce, info);
    return {bytes.bytes.begin(), bytes.bytes.begin() + bytes.size};
}

std::vector<std::string> shown(const BrowserModel& model) {
    std::vector<std::string> lines;
    for (const BrowserRow& row : model.rows)
        if (rowShown(model, row)) lines.push_back(rowName(row) + " " + rowFound(row) + " " + rowPing(row));
    return lines;
}

TEST(ListedGames, TwoListsAndTheLanAreOneRowAGameFilledFromItsOwnAnswer) {
    BrowserModel model;
    model.own = ProjectVersion{0, 3, 0};
    std::vector<ListSource> lists =
        listSourcesFor({{"http://a", ListOrigin::User}, {"http://b", ListOrigin::System}});
    startRound(model, 1, 0.0);
    ASSERT_TRUE(takeAnswer(model, {Lan, 40123}, answer(1, 5, 2), 0.002));
    const std::vector<std::string> problems =
        takeListReads(lists,
                      {listRead("http://a", entry("198.51.100.20") + "," + entry("10.0.0.5")),
                       listRead("http://b", entry("198.51.100.20") + "," + entry("198.51.100.30"))},
                      model);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(shown(model), (std::vector<std::string>{"game 5 LAN 2 ms", "10.0.0.5 Internet asking...",
                                                      "198.51.100.20 Internet asking...",
                                                      "198.51.100.30 Internet asking..."}));
    EXPECT_EQ(describeRow(model.rows[3]), "198.51.100.30  asking found=internet");

    const std::vector<std::uint32_t> nonces{11, 12, 13, 14};
    const std::vector<ListedQuery> asked =
        startListedQueries(model, 1.0, nonces, std::vector<std::uint64_t>{rowKey(model.rows[3])});
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ((std::vector<std::uint32_t>{asked[0].address, asked[1].address, asked[2].address}),
              (std::vector<std::uint32_t>{Farther, Lan, Far}))
        << "the rows on the screen first";
    EXPECT_TRUE(startListedQueries(model, 1.5, nonces).empty()) << "each waits for its answer";
    EXPECT_FALSE(takeAnswer(model, {Far, 40123}, answer(11, 7, 30), 1.02)) << "another game's nonce";
    EXPECT_TRUE(takeAnswer(model, {Far, 40123}, answer(asked[2].nonce, 7, 30), 1.02));
    EXPECT_TRUE(takeAnswer(model, {Lan, 40123}, answer(asked[1].nonce, 5, 2), 1.03))
        << "listed, and heard on the LAN";
    // The list said 9 players; the game's answer says 30, and that is what is shown, where it sorts.
    EXPECT_EQ(shown(model), (std::vector<std::string>{"game 7 Internet 20 ms", "game 5 LAN 2 ms",
                                                      "198.51.100.30 Internet asking..."}));
    for (double now = 2.0; now < 5.0; now += 1.0)
        startListedQueries(model, now, nonces);
    startListedQueries(model, 5.0, {});
    EXPECT_EQ(shown(model).back(), "198.51.100.30 Internet unreachable")
        << "given up after three, never hidden";
    EXPECT_FALSE(listedStillAsked(model));
    EXPECT_EQ(startListedQueries(model, 3.0 + ReaskSeconds, nonces).size(), 2u) << "asked again later";

    // The LAN game goes: its listed address gets a row of its own again. A list that drops a game drops its
    // row.
    for (std::uint32_t round = 2; round <= 2 + RoundsBeforeGone; ++round)
        startRound(model, round, 40.0 + round);
    EXPECT_EQ(shown(model), (std::vector<std::string>{"game 7 Internet 20 ms", "10.0.0.5 Internet asking...",
                                                      "198.51.100.30 Internet unreachable"}));
    takeListReads(lists, {listRead("http://b", "")}, model);
    EXPECT_EQ(model.rows.size(), 2u) << "198.51.100.30 is no longer listed";
    EXPECT_EQ(takeListReads(lists, {listRead("http://a", "{")}, model),
              std::vector<std::string>{"the list at http://a could not be read: its answer is not JSON"});
    EXPECT_TRUE(takeListReads(lists, {listRead("http://a", "{")}, model).empty()) << "said once";
    EXPECT_EQ(model.rows.size(), 2u) << "what it listed before stays";
}

TEST(ListedGames, FiltersHideWhatIsKnownAndTheCountSaysHowMany) {
    BrowserModel model;
    model.own = ProjectVersion{0, 3, 0};
    startRound(model, 1, 0.0);
    takeAnswer(model, {Lan, 40123}, answer(1, 1, 0), 0.001);            // empty
    takeAnswer(model, {Lan + 1, 40123}, answer(1, 2, 3, 2), 0.001);     // full: 2 clients of 2
    takeAnswer(model, {Lan + 2, 40123}, answer(1, 3, 5, 1, 2), 0.001);  // version 0.2
    takeAnswer(model, {Lan + 3, 40123}, answer(1, 4, 5, 1), 0.001);     // joinable, room
    showListedGames(model, readGameList(R"({"games": [)" + entry("198.51.100.20") + "]}").games);
    EXPECT_EQ(countLine(model), "5 games, 5 shown");
    selectRow(model, 1);
    setFilter(model, BrowserFilter{"", true, true, true});
    EXPECT_EQ(countLine(model), "5 games, 2 shown") << "a game not yet answered is not hidden by the toggles";
    EXPECT_EQ(rowName(*selectedRow(model)), "198.51.100.20")
        << "the selection moves to the nearest row shown";
    setFilter(model, BrowserFilter{"GAME", false, false, false});
    EXPECT_EQ(countLine(model), "5 games, 4 shown");
    moveSelection(model, -1);
    EXPECT_EQ(rowName(*selectedRow(model)), "game 2") << "the arrows move over shown rows only";
}

TEST(ListedGames, HostileListsAreReadWithinBounds) {
    EXPECT_EQ(readGameList(std::string(200000, '[') + std::string(200000, ']')).error,
              "its answer is nested deeper than 16 levels");
    EXPECT_TRUE(readGameList(R"({"games": [{"s": "[[[[[[[[[[[[[[[[[[[[[["}]})").ok)
        << "brackets in a string are text";
    EXPECT_EQ(readGameList("[]").error, "its answer has no \"games\" list");
    EXPECT_EQ(readGameList("{\"games\": [\"\xff\"]}").error, "its answer is not JSON");
    const GameListRead wrong = readGameList(
        R"({"games": [)" + entry("127.0.0.1") + "," + entry("224.0.0.1") + "," +
        entry("198.51.100.20", "x", "40124") + "," + entry("198.51.100.20", "x", "\"40123\"") + "," +
        entry("198.51.100.20", "x", "-1") + "," + entry("198.51.100.300") +
        R"(, {"address": "198.51.100.20", "port": 40123, "name": 5, "players": 1, "clients": 0, "bots": 1, "max_clients": 64, "version": "0.3.0"},)" +
        R"({"address": "198.51.100.20", "port": 40123, "name": "n", "players": 70000, "clients": 0, "bots": 1, "max_clients": 64, "version": "0.3"}, 7, null,)" +
        entry("198.51.100.20", "Evil\\u001b[2J\\u202e\\nname") + "," + entry("198.51.100.20") + "]}");
    ASSERT_EQ(wrong.games.size(), 1u);
    EXPECT_EQ(wrong.games[0].name, "Evil[2J name") << "sanitised as an info answer's name is";
    EXPECT_EQ(wrong.leftOut, 11u);
    std::string many = R"({"games": [)";
    for (int i = 0; i < 12000; ++i)
        many +=
            (i ? "," : "") + entry("10." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".1");
    const GameListRead read = readGameList(many + "]}");
    EXPECT_EQ(read.games.size(), MaxGamesRead);
    EXPECT_EQ(read.leftOut, 2000u);
    BrowserModel model;
    showListedGames(model, read.games);
    EXPECT_EQ(model.rows.size(), MaxListedRows);
    EXPECT_EQ(countLine(model),
              "1000 games, 1000 shown; the lists name 10000, of which the busiest 1000 are asked");
    EXPECT_EQ(readGameListAnswer(HttpResponse{true, 503, "", "", 0, ""}).error,
              "it answered with HTTP status 503");
}

}  // namespace
}  // namespace brassmoor
