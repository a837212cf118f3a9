// The info query and answer on the wire, the server's allowance, and how a search's answers are kept.
#include <gtest/gtest.h>

#include <vector>

#include "found_servers.h"
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

TEST(FoundServers, OneEntryPerServerUnderLoopbackWhenHeardThere) {
    std::vector<FoundServer> found;
    const Ipv4Endpoint lan{0x0A000005, 40123};
    const Ipv4Endpoint loopback{0x7F000001, 40123};
    EXPECT_TRUE(noteAnswer(found, lan, encodeInfoAnswer(77, sampleInfo(1, 3)), 77));
    EXPECT_TRUE(noteAnswer(found, loopback, encodeInfoAnswer(77, sampleInfo(1, 4)), 77));
    EXPECT_TRUE(noteAnswer(found, lan, encodeInfoAnswer(77, sampleInfo(1, 4)), 77));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].from, loopback);
    EXPECT_EQ(found[0].info.players, 4);

    EXPECT_FALSE(noteAnswer(found, lan, encodeInfoAnswer(76, sampleInfo(2, 9)), 77)) << "another search's answer";
    EXPECT_TRUE(noteAnswer(found, lan, encodeInfoAnswer(77, sampleInfo(2, 9)), 77));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(describeServer(found[1]), "10.0.0.5  players=9 clients=1 bots=8 max-clients=64 version=0.3.1");
}

TEST(FoundServers, TheBusiestIsChosenAndTheFirstHeardOfEquals) {
    std::vector<FoundServer> found;
    EXPECT_EQ(busiestServer(found), nullptr);
    found.push_back(FoundServer{{1, 40123}, sampleInfo(1, 5)});
    found.push_back(FoundServer{{2, 40123}, sampleInfo(2, 7)});
    found.push_back(FoundServer{{3, 40123}, sampleInfo(3, 7)});
    EXPECT_EQ(busiestServer(found), &found[1]);
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
    for (const auto& wrong : std::vector<std::vector<const char*>>{
             {"--bots", "3"}, {"--host", "--list"}, {"10.0.0.1", "10.0.0.2"}, {"010.0.0.1"}, {"--host", "--bots", "x"}}) {
        EXPECT_EQ(parse(wrong).action, CommandLineAction::Error) << wrong[0];
    }
}

}  // namespace
}  // namespace brassmoor
