// The launcher's list of games without a window: answers merged, aged, sorted, and one selected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser_model.h"

namespace brassmoor {
namespace {

constexpr Ipv4Endpoint Loopback{0x7F000001, 40123};
constexpr Ipv4Endpoint Lan5{0x0A000005, 40123};
constexpr Ipv4Endpoint Lan6{0x0A000006, 40123};

std::vector<std::uint8_t> answer(std::uint32_t nonce, std::uint32_t instance, std::uint16_t players,
                                 const std::string& name = "", std::uint8_t minor = 3) {
    ServerInfo info;
    info.instance = instance;
    info.players = players;
    info.bots = players;
    info.maxClients = 64;
    info.versionMinor = minor;
    info.name = name;
    const InfoAnswerBytes bytes = encodeInfoAnswerFor(NamedInfoQuerySize, nonce, info);
    return {bytes.bytes.begin(), bytes.bytes.begin() + bytes.size};
}

BrowserModel model03() {
    BrowserModel model;
    model.own = ProjectVersion{0, 3, 0};
    return model;
}

std::vector<std::string> names(const BrowserModel& model) {
    std::vector<std::string> shown;
    for (const BrowserRow& row : model.rows) shown.push_back(rowName(row));
    return shown;
}

TEST(BrowserModel, OneRowPerServerHeardOnSeveralAddressesAndRoundsUnderLoopbackWithTheQuickestPing) {
    BrowserModel model = model03();
    startRound(model, 77, 10.0);
    EXPECT_TRUE(takeAnswer(model, Lan5, answer(77, 1, 3, "hall"), 10.004));
    EXPECT_TRUE(takeAnswer(model, Loopback, answer(77, 1, 3, "hall"), 10.001));
    EXPECT_FALSE(takeAnswer(model, Lan6, answer(76, 2, 9), 10.002)) << "another search's answer";
    EXPECT_FALSE(takeAnswer(model, Lan6, std::vector<std::uint8_t>{1, 2, 3}, 10.002));
    ASSERT_EQ(model.rows.size(), 1u);
    EXPECT_EQ(model.rows[0].from, Loopback);
    EXPECT_EQ(rowPing(model.rows[0]), "1 ms");

    startRound(model, 78, 13.0);
    EXPECT_TRUE(takeAnswer(model, Lan5, answer(77, 1, 4, "hall"), 13.020)) << "late for its round, still counted";
    EXPECT_TRUE(takeAnswer(model, Lan5, answer(78, 1, 5, "hall"), 13.0002));
    ASSERT_EQ(model.rows.size(), 1u);
    EXPECT_EQ(model.rows[0].info.players, 5);
    EXPECT_EQ(model.rows[0].from, Loopback);
    EXPECT_EQ(rowPing(model.rows[0]), "<1 ms");
    EXPECT_EQ(describeRow(model.rows[0]),
              "127.0.0.1  players=5 clients=0 bots=5 max-clients=64 version=0.3.0 ping=0ms name=hall found=local");
}

TEST(BrowserModel, OldAnswersWithoutANameAndHostileNamesAreShownSafely) {
    BrowserModel model = model03();
    startRound(model, 7, 0.0);
    std::vector<std::uint8_t> old = answer(7, 1, 2);
    old.resize(InfoAnswerSize);  // a server of the last version: 24 bytes, no name
    EXPECT_TRUE(takeAnswer(model, Lan6, old, 0.01));
    // A name that claims more bytes than it has, with control characters, a reordering mark and a
    // broken sequence: what is shown is printable and bounded.
    std::vector<std::uint8_t> hostile = answer(7, 2, 1);
    hostile.resize(InfoNameOffset);
    hostile[InfoNameLengthOffset] = 255;
    for (const char c : std::string("Evil\n\x1b[2J\xe2\x80\xae" "name\xff") + std::string(300, 'x')) hostile.push_back(std::uint8_t(c));
    EXPECT_TRUE(takeAnswer(model, Lan5, hostile, 0.01));
    ASSERT_EQ(model.rows.size(), 2u);
    sortRows(model, BrowserColumn::Name, false);
    EXPECT_EQ(rowName(model.rows[0]), "10.0.0.6") << "no name: its address";
    const std::string shown = rowName(model.rows[1]);
    EXPECT_TRUE(shown.starts_with("Evil")) << shown;
    EXPECT_LE(shown.size(), MaxServerNameBytes);
    for (const char c : shown) EXPECT_FALSE(std::uint8_t(c) < 0x20 || std::uint8_t(c) == 0x7f || std::uint8_t(c) == 0xff);
    EXPECT_EQ(shown.find("\xe2\x80\xae"), std::string::npos);
}

TEST(BrowserModel, TheBusiestJoinableIsChosenOnceAndRowsKeepTheirPlaceUntilRowsGo) {
    BrowserModel model = model03();
    startRound(model, 1, 0.0);
    takeAnswer(model, Lan5, answer(1, 5, 2, "small"), 0.01);
    takeAnswer(model, Lan6, answer(1, 6, 40, "other version", 2), 0.01);
    takeAnswer(model, Loopback, answer(1, 7, 9, "busy"), 0.01);
    EXPECT_EQ(names(model), (std::vector<std::string>{"other version", "busy", "small"}));
    ASSERT_NE(selectedRow(model), nullptr);
    EXPECT_EQ(rowName(*selectedRow(model)), "busy") << "the busiest of this version";
    EXPECT_FALSE(isJoinable(model, model.rows[0]));

    // A later round: a busier game does not take the selection, and rows refreshed keep their place.
    startRound(model, 2, 3.0);
    takeAnswer(model, Lan5, answer(2, 5, 30, "small"), 3.01);
    takeAnswer(model, Loopback, answer(2, 7, 9, "busy"), 3.01);
    EXPECT_EQ(names(model), (std::vector<std::string>{"other version", "busy", "small"}));
    EXPECT_EQ(rowName(*selectedRow(model)), "busy");
    // A new row goes above the first it outranks; the others stay.
    takeAnswer(model, Loopback, answer(2, 8, 20, "new"), 3.01);
    EXPECT_EQ(names(model), (std::vector<std::string>{"other version", "new", "busy", "small"}));

    // The arrow keys move the selection and stop at the ends.
    moveSelection(model, 1);
    EXPECT_EQ(rowName(*selectedRow(model)), "small");
    moveSelection(model, 1);
    EXPECT_EQ(rowName(*selectedRow(model)), "small");
    moveSelection(model, -3);
    EXPECT_EQ(rowName(*selectedRow(model)), "other version");

    // Headers: by name, by ping, by version (newest first).
    sortRows(model, BrowserColumn::Name, false);
    EXPECT_EQ(names(model), (std::vector<std::string>{"busy", "new", "other version", "small"}));
    model.rows[2].pingMilliseconds = 0.5;
    sortRows(model, BrowserColumn::Ping, true);
    EXPECT_EQ(names(model).back(), "other version");
    sortRows(model, BrowserColumn::Version, false);
    EXPECT_EQ(names(model).front(), "other version");
}

TEST(BrowserModel, SilentServersGoAfterAFewRoundsAndTheSelectionMovesToTheirNeighbour) {
    BrowserModel model = model03();
    startRound(model, 1, 0.0);
    takeAnswer(model, Lan5, answer(1, 5, 2, "a"), 0.01);
    takeAnswer(model, Lan6, answer(1, 6, 1, "b"), 0.01);
    ServerInfo hosted;
    hosted.instance = 9;
    addHostedGame(model, Loopback, hosted);
    EXPECT_EQ(rowName(*selectedRow(model)), "127.0.0.1") << "a game hosted here is listed and selected at once";
    selectRow(model, 5);
    for (std::uint32_t round = 2; round <= 1 + RoundsBeforeGone; ++round) {
        startRound(model, round, round * 3.0);
        takeAnswer(model, Lan6, answer(round, 6, 1, "b"), round * 3.0);
    }
    EXPECT_EQ(model.rows.size(), 3u) << "silent for fewer rounds than it takes";
    startRound(model, 99, 100.0);
    EXPECT_EQ(names(model), (std::vector<std::string>{"b", "127.0.0.1"}));
    EXPECT_EQ(rowName(*selectedRow(model)), "b");
}

}  // namespace
}  // namespace brassmoor
