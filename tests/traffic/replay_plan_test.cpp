// The replayer's plan: which streams a capture holds, and the schedule of one.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

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

}  // namespace
}  // namespace brassmoor
