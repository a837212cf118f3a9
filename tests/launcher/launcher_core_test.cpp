// The info query and answer on the wire (the name, hostile names), the server's allowance, and the launcher's command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "info_answers.h"
#include "launcher_options.h"
#include "server_info.h"

namespace brassmoor {
namespace {

ServerInfo sampleInfo(std::uint32_t instance, std::uint16_t players) {
    ServerInfo info;
    info.instance = instance;
    info.players = players;
    info.clients = 1;
    info.bots = static_cast<std::uint16_t>(players - 1);
    info.maxClients = 64;
    info.versionMajor = 0;
    info.versionMinor = 3;
    info.versionPatch = 1;
    return info;
}

TEST(InfoDatagrams, QueryAndAnswerBytesAreLittleEndianAtFixedOffsets) {
    const auto query = encodeInfoQuery(0x04030201);
    const std::vector<std::uint8_t> expectedQuery = {'K', 'V', '0', '1', 3, 1, 2, 3, 4, 0, 0, 0,
                                                     0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(query.begin(), query.end()), expectedQuery);

    ServerInfo info;
    info.instance = 0xA0B0C0D0;
    info.players = 0x0102;
    info.clients = 3;
    info.bots = 0x00FF;
    info.maxClients = 4000;
    info.versionMajor = 1;
    info.versionMinor = 2;
    info.versionPatch = 3;
    const auto answer = encodeInfoAnswer(0x11223344, info);
    const std::vector<std::uint8_t> expectedAnswer = {'K',  'V',  '0',  '1',  4,    0x44, 0x33, 0x22,
                                                      0x11, 0xD0, 0xC0, 0xB0, 0xA0, 0x02, 0x01, 3,
                                                      0,    0xFF, 0,    0xA0, 0x0F, 1,    2,    3};
    EXPECT_EQ(std::vector<std::uint8_t>(answer.begin(), answer.end()), expectedAnswer);
}

TEST(InfoDatagrams, DecodersRefuseShortWrongTypeAndWrongMagic) {
    std::uint32_t nonce = 7;
    ServerInfo info;
    auto query = encodeInfoQuery(99);
    EXPECT_FALSE(decodeInfoQuery(std::span(query).first(InfoQuerySize - 1), nonce));
    std::vector<std::uint8_t> longer(query.begin(), query.end());
    longer.resize(100, 0xEE);  // padding beyond the minimum is any value and is ignored
    ASSERT_TRUE(decodeInfoQuery(longer, nonce));
    EXPECT_EQ(nonce, 99u);
    query[0] = 'k';
    EXPECT_FALSE(decodeInfoQuery(query, nonce));

    auto answer = encodeInfoAnswer(5, sampleInfo(1, 4));
    EXPECT_FALSE(decodeInfoAnswer(std::span(answer).first(InfoAnswerSize - 1), nonce, info));
    EXPECT_FALSE(decodeInfoAnswer(encodeInfoQuery(5), nonce, info));
    answer[4] = 2;
    EXPECT_FALSE(decodeInfoAnswer(answer, nonce, info));
    EXPECT_EQ(nonce, 99u) << "a refused answer leaves the nonce alone";
}

TEST(InfoDatagrams, TheNameFollowsOnlyForALongerQueryCutToFitAtACharactersBoundary) {
    ServerInfo info = sampleInfo(0xA0B0C0D0, 4);
    info.name = "Caf\xC3\xA9 du Port";  // the e-acute takes bytes 3 and 4
    const auto old = encodeInfoAnswer(7, info);
    auto tail = [&](std::size_t querySize) {
        const InfoAnswerBytes answer = encodeInfoAnswerFor(querySize, 7, info);
        EXPECT_TRUE(std::equal(old.begin(), old.end(), answer.bytes.begin())) << querySize;
        return std::vector<std::uint8_t>(answer.view().begin() + InfoAnswerSize, answer.view().end());
    };
    EXPECT_EQ(tail(24), std::vector<std::uint8_t>{}) << "a 24-byte query gets the 24 bytes it always got";
    EXPECT_EQ(tail(25), std::vector<std::uint8_t>{0});
    EXPECT_EQ(tail(29), (std::vector<std::uint8_t>{3, 'C', 'a', 'f'})) << "never half a character";
    EXPECT_EQ(tail(30), (std::vector<std::uint8_t>{5, 'C', 'a', 'f', 0xC3, 0xA9}));
    EXPECT_EQ(tail(4000).size(), 1u + 13u);

    std::uint32_t nonce = 0;
    ServerInfo heard;
    ASSERT_TRUE(decodeInfoAnswer(encodeInfoAnswerFor(encodeNamedInfoQuery(7).size(), 7, info).view(), nonce, heard));
    EXPECT_EQ(heard.name, info.name);
    ASSERT_TRUE(decodeInfoAnswer(old, nonce, heard));
    EXPECT_EQ(heard.name, "") << "an old server's answer tells no name";
}

TEST(InfoDatagrams, HostileNamesAreReadSanitised) {
    auto told = [](const std::string& name) { return static_cast<char>(name.size()) + name; };
    const std::vector<std::pair<std::string, std::string>> tails = {
        {told("a\x01" "b\x7F\x1B[31mc\xC2\x85" "d"), "ab[31mcd"},  // C0, DEL, escape, C1
        {told("\xC3\x28ok\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE2\x82"), "(ok"},  // broken, overlong, surrogate, too high, cut
        {told("\xE2\x80\xAE" "exe.txt\xE2\x81\xA6\xE2\x80\x8B\xEF\xBB\xBF"), "exe.txt"},  // bidi, zero width, BOM
        {told(" \t two\n\r  words \xC2\xA0"), "two words"},
        {told(std::string(60, 'x') + "\xC3\xA9"), std::string(48, 'x')},
        {told(std::string(47, 'x') + "\xC3\xA9"), std::string(47, 'x')},  // the e-acute would end past 48 bytes
        {"\xC8" "abc", "abc"},  // 200 bytes told, 3 there
        // Characters that draw nothing: Hangul fillers, the Braille blank, the Mongolian vowel
        // separator, the grapheme joiner; a name of them alone is empty, so the address is shown.
        {told("\xE1\x85\x9F\xE1\x85\xA0\xE3\x85\xA4\xEF\xBE\xA0\xE2\xA0\x80\xE1\xA0\x8E\xCD\x8F"), ""},
        {told("a\xE3\x85\xA4" "b\xE2\xA0\x80" "c"), "abc"},
        // Marks with nothing to sit on go; after a letter they stay; wide spaces are spaces.
        {told("\xCC\x81\xCC\x88\xD2\x88"), ""},
        {told("\xCC\x81" "e\xCC\x81\xE3\x80\x80\xCC\x88x"), "e\xCC\x81 x"},
    };
    const auto base = encodeInfoAnswer(1, sampleInfo(1, 2));
    for (const auto& [tail, expected] : tails) {
        const std::string bytes = std::string(base.begin(), base.end()) + tail;
        const std::vector<std::uint8_t> answer(bytes.begin(), bytes.end());
        std::uint32_t nonce = 0;
        ServerInfo info;
        ASSERT_TRUE(decodeInfoAnswer(answer, nonce, info));
        EXPECT_EQ(info.name, expected) << tail;
        EXPECT_EQ(sanitiseServerName(tail.substr(1)), expected) << "the same where a name is set";
    }
}

TEST(InfoAnswers, AllowanceAnswersABucketThenRefillsAtTheRate) {
    TrafficCounters counters;
    QueryAllowance allowance = makeQueryAllowance(100.0);
    InfoAnswerBytes answer;
    const auto query = encodeInfoQuery(42);
    int answered = 0;
    for (int i = 0; i < 200; ++i) {
        if (takeInfoQuery(allowance, counters, query, 100.0, sampleInfo(9, 3), answer) == QueryOutcome::Answered)
            ++answered;
    }
    EXPECT_EQ(answered, static_cast<int>(QueryAnswersPerSecond));
    EXPECT_EQ(counters.queriesRefused, 200u - counters.queriesAnswered);
    // Half a second later half the bucket is available again, and not more.
    answered = 0;
    for (int i = 0; i < 200; ++i) {
        if (takeInfoQuery(allowance, counters, query, 100.5, sampleInfo(9, 3), answer) == QueryOutcome::Answered)
            ++answered;
    }
    EXPECT_EQ(answered, static_cast<int>(QueryAnswersPerSecond / 2));

    std::uint32_t nonce = 0;
    ServerInfo decoded;
    ASSERT_TRUE(decodeInfoAnswer(answer.view(), nonce, decoded));
    EXPECT_EQ(nonce, 42u);
    EXPECT_EQ(decoded.players, 3);
}

TEST(InfoAnswers, OnlyQueriesAreTakenAndShortOnesAreDroppedUnanswered) {
    TrafficCounters counters;
    QueryAllowance allowance = makeQueryAllowance(0.0);
    InfoAnswerBytes answer;
    const std::uint8_t pose[25] = {'K', 'V', '0', '1', 1};
    EXPECT_EQ(takeInfoQuery(allowance, counters, pose, 0.0, {}, answer), QueryOutcome::NotAQuery);
    EXPECT_EQ(counters.datagramsIn, 0u) << "the pose path counts its own";
    const auto query = encodeInfoQuery(1);
    EXPECT_EQ(takeInfoQuery(allowance, counters, std::span(query).first(9), 0.0, {}, answer), QueryOutcome::Dropped);
    EXPECT_EQ(counters.datagramsIn, 1u);
    EXPECT_EQ(counters.dropped, 1u);
    EXPECT_EQ(counters.queriesAnswered + counters.queriesRefused, 0u);
}

TEST(LauncherOptions, OneModeAtATimeAndBotsOnlyWhenHosting) {
    auto parse = [](std::vector<const char*> args) {
        args.insert(args.begin(), "brassmoor-play");
        return parseLauncherOptions(args);
    };
    const LauncherOptionsResult host = parse({"--host", "--bots=12"});
    ASSERT_EQ(host.action, CommandLineAction::Run) << host.error;
    EXPECT_EQ(host.options.mode, LaunchMode::Host);
    EXPECT_EQ(host.options.bots, 12u);
    EXPECT_EQ(parse({"192.168.1.20"}).options.address, "192.168.1.20");
    EXPECT_EQ(parse({}).options.mode, LaunchMode::Window);
    EXPECT_EQ(parse({"--quick"}).options.mode, LaunchMode::FindOrPractice);
    EXPECT_EQ(parse({"--host", "--name", "\x07 Up\nstairs "}).options.name, "Up stairs");
    for (const auto& wrong : std::vector<std::vector<const char*>>{
             {"--bots", "3"}, {"--host", "--list"}, {"--quick", "--list"}, {"10.0.0.1", "10.0.0.2"}, {"010.0.0.1"},
             {"--host", "--bots", "x"}, {"--name", "x"}, {"--host", "--name", "\x01\t"}}) {
        EXPECT_EQ(parse(wrong).action, CommandLineAction::Error) << wrong[0];
    }
}

}  // namespace
}  // namespace brassmoor
