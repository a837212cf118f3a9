// The replayer's pure parts: which streams a capture holds, the schedule of one, its text and options.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "datagram_text.h"
#include "replay_options.h"
#include "replay_plan.h"

namespace brassmoor {
namespace {

const Ipv4Endpoint Server{0x7F000001u, 40123};
const Ipv4Endpoint Relay{0x7F000001u, 40124};
const Ipv4Endpoint Alice{0x7F000001u, 5001};
const Ipv4Endpoint Bob{0x7F000002u, 5002};

const std::array<std::uint8_t, 11> EmptySnapshot = {'K', 'V', '0', '1', 2, 7, 0, 0, 0, 0, 0};
const std::array<std::uint8_t, 3> Scrap = {1, 2, 3};

CaptureContents captureOf(std::vector<CapturedDatagram> datagrams) {
    CaptureContents contents;
    contents.datagrams = std::move(datagrams);
    return contents;
}

TEST(ReplayPlan, StreamsFromTheServerPortInOrderOfFirstDatagram) {
    const CaptureContents contents = captureOf({
        {10.0, Alice, Server, Scrap},          // a pose's way: not from the server port
        {10.1, Server, Alice, EmptySnapshot},  //
        {10.2, Relay, Bob, EmptySnapshot},     // another port
        {10.3, Server, Bob, Scrap},            //
        {10.5, Server, Alice, Scrap},
    });
    const std::vector<ReplayStream> streams = findStreams(contents, 40123);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].client, Alice);
    EXPECT_EQ(streams[0].server, Server);
    EXPECT_EQ(streams[0].datagrams, 2u);
    EXPECT_DOUBLE_EQ(streams[0].firstSeconds, 10.1);
    EXPECT_DOUBLE_EQ(streams[0].lastSeconds, 10.5);
    EXPECT_EQ(streams[1].client, Bob);
    EXPECT_EQ(streams[1].datagrams, 1u);
    EXPECT_TRUE(findStreams(contents, 9).empty());
    EXPECT_EQ(portsSendingSnapshots(contents), (std::vector<std::uint16_t>{40123, 40124}));
}

TEST(ReplayPlan, ScheduleKeepsTheRecordedSpacingDividedBySpeed) {
    const CaptureContents contents = captureOf({
        {100.0, Server, Alice, EmptySnapshot},
        {100.5, Server, Bob, Scrap},
        {101.0, Server, Alice, Scrap},
        {100.8, Server, Alice, EmptySnapshot},  // a clock set back: sent right after the one before
        {102.0, Server, Alice, Scrap},
    });
    const ReplayPlan plan = planReplay(contents, findStreams(contents, 40123)[0], 2.0);
    ASSERT_EQ(plan.datagrams.size(), 4u);
    EXPECT_DOUBLE_EQ(plan.datagrams[0].atSeconds, 0.0);
    EXPECT_DOUBLE_EQ(plan.datagrams[1].atSeconds, 0.5);
    EXPECT_DOUBLE_EQ(plan.datagrams[2].atSeconds, 0.5);
    EXPECT_DOUBLE_EQ(plan.datagrams[3].atSeconds, 1.0);
    EXPECT_EQ(plan.datagrams[1].bytes.data(), Scrap.data());
    EXPECT_DOUBLE_EQ(plan.roundSeconds, 1.0 + 1.0 / 3.0);  // one mean interval after the last
}

TEST(ReplayPlan, LoneDatagramLoopsNoFasterThanTheShortestGap) {
    const CaptureContents contents = captureOf({{5.0, Server, Alice, Scrap}, {5.0, Server, Bob, Scrap},
                                                {5.0, Server, Bob, Scrap}});
    EXPECT_DOUBLE_EQ(planReplay(contents, findStreams(contents, 40123)[0], 1.0).roundSeconds, ShortestLoopGapSeconds);
    EXPECT_DOUBLE_EQ(planReplay(contents, findStreams(contents, 40123)[1], 1.0).roundSeconds, ShortestLoopGapSeconds);
}

TEST(ReplayPlan, CursorEndsAfterTheLastOrStartsTheNextRound) {
    ReplayPlan plan;
    plan.datagrams = {{0.0, Scrap}, {0.25, Scrap}};
    plan.roundSeconds = 0.5;
    ReplayCursor once;
    EXPECT_DOUBLE_EQ(dueAt(plan, once), 0.0);
    ASSERT_TRUE(advanceCursor(plan, once, false));
    EXPECT_DOUBLE_EQ(dueAt(plan, once), 0.25);
    EXPECT_FALSE(advanceCursor(plan, once, false));

    ReplayCursor looping;
    const double expected[] = {0.25, 0.5, 0.75, 1.0, 1.25};
    for (double due : expected) {
        ASSERT_TRUE(advanceCursor(plan, looping, true));
        EXPECT_DOUBLE_EQ(dueAt(plan, looping), due);
    }
    EXPECT_EQ(looping.round, 2u);
    ReplayCursor none;
    EXPECT_FALSE(advanceCursor(ReplayPlan{}, none, true));
}

TEST(DatagramText, SaysWhatTheClientMakesOfIt) {
    EXPECT_EQ(describeDatagram(EmptySnapshot), "snapshot self=7, 0 players");
    std::vector<std::uint8_t> two = {'K', 'V', '0', '1', 2, 9, 0, 0, 0, 3, 0};
    two.resize(11 + 2 * 20 + 5);
    EXPECT_EQ(describeDatagram(two), "snapshot self=9, 2 of 3 players");
    two[9] = 1;
    EXPECT_EQ(describeDatagram(two), "snapshot self=9, 1 player");
    EXPECT_EQ(describeDatagram(Scrap), "no header (the client rejects it)");
    EXPECT_EQ(describeDatagram(std::span(EmptySnapshot).first(10)),
              "snapshot shorter than its header (the client rejects it)");
    const std::array<std::uint8_t, 5> unknown = {'K', 'V', '0', '1', 9};
    EXPECT_EQ(describeDatagram(unknown), "unknown type 9 (the client rejects it)");
}

ReplayOptionsResult parse(std::vector<const char*> args) {
    args.insert(args.begin(), "brassmoor-replay");
    return parseReplayOptions(args);
}

TEST(ReplayOptions, TakesTheCaptureAndItsOptions) {
    const ReplayOptionsResult result =
        parse({"--speed=2.5", "--loop", "game.pcap", "--server-port", "40124", "--client", "127.0.0.1:5001"});
    ASSERT_EQ(result.action, CommandLineAction::Run) << result.error;
    EXPECT_EQ(result.options.capturePath, "game.pcap");
    EXPECT_DOUBLE_EQ(result.options.speed, 2.5);
    EXPECT_TRUE(result.options.loop);
    EXPECT_EQ(result.options.serverPort, 40124);
    EXPECT_EQ(result.options.client, Alice);
    EXPECT_EQ(result.options.listen, (Ipv4Endpoint{0, 40123}));
}

TEST(ReplayOptions, RefusesWhatItCannotTake) {
    EXPECT_EQ(parse({}).error, "a capture file to replay is required");
    EXPECT_EQ(parse({"a.pcap", "b.pcap"}).error, "unexpected argument 'b.pcap': one capture file is replayed");
    EXPECT_EQ(parse({"--loop=yes", "a.pcap"}).error, "--loop takes no value");
    EXPECT_EQ(parse({"--speed", "0", "a.pcap"}).error, "--speed needs a factor from 0.01 to 100, not '0'");
    EXPECT_EQ(parse({"a.pcap", "--server-port"}).error, "--server-port needs a value");
    EXPECT_EQ(parse({"--bots", "3", "a.pcap"}).error, "unknown option '--bots'");
    EXPECT_EQ(parse({"--listen", "0.0.0.0", "a.pcap"}).error,
              "--listen needs ADDRESS:PORT with an IPv4 address, such as 0.0.0.0:40123, not '0.0.0.0'");
}

}  // namespace
}  // namespace brassmoor
