// Tests of what the black-box runs cannot reach: the histogram's arithmetic in the metrics text, a stuck
// loop on /healthz and in the sidecar's schedule, and the session's end.
#include <gtest/gtest.h>

#include <string>

#include "metrics_text.h"
#include "sidecar_schedule.h"

namespace brassmoor {
namespace {

TEST(MetricsText, TickBucketsAreCumulativeAndUnknownDropsAreLeftOut) {
    ServerFigures figures;
    recordTick(figures.tickDurations, 0.00005);  // in the first bucket
    recordTick(figures.tickDurations, 0.003);    // in le=0.005
    recordTick(figures.tickDurations, 7.0);      // only in +Inf
    figures.counters.refused = 4;
    const std::string text = metricsText(figures, "1.2.3");
    EXPECT_NE(text.find("brassmoor_tick_duration_seconds_bucket{le=\"0.0001\"} 1\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("brassmoor_tick_duration_seconds_bucket{le=\"0.0025\"} 1\n"), std::string::npos);
    EXPECT_NE(text.find("brassmoor_tick_duration_seconds_bucket{le=\"0.005\"} 2\n"), std::string::npos);
    EXPECT_NE(text.find("brassmoor_tick_duration_seconds_bucket{le=\"1\"} 2\n"), std::string::npos);
    EXPECT_NE(text.find("brassmoor_tick_duration_seconds_bucket{le=\"+Inf\"} 3\n"), std::string::npos);
    EXPECT_NE(text.find("brassmoor_tick_duration_seconds_count 3\n"), std::string::npos);
    EXPECT_NE(text.find("brassmoor_datagrams_refused_total{reason=\"full\"} 4\n"), std::string::npos);
    EXPECT_NE(text.find("brassmoor_build_info{version=\"1.2.3\"} 1\n"), std::string::npos);
    EXPECT_EQ(text.find("brassmoor_receive_drops_total"), std::string::npos);  // Windows does not say
}

TEST(Health, ALoopASecondPastItsTickIsStuck) {
    ServerFigures figures;
    EXPECT_FALSE(ticksOnTime(figures, 5.0));  // nothing published yet
    figures.lastTick = 100.0;
    figures.tickPeriod = 0.5;
    EXPECT_TRUE(ticksOnTime(figures, 101.4));
    EXPECT_FALSE(ticksOnTime(figures, 101.6));
}

TEST(SessionEnd, EndsOnlyAfterAClientWasServedAndThenSilentLongEnough) {
    EXPECT_FALSE(sessionIsOver(3.0, std::nullopt, 1000.0));  // nobody ever came
    EXPECT_FALSE(sessionIsOver(3.0, 10.0, 12.9));
    EXPECT_TRUE(sessionIsOver(3.0, 10.0, 13.0));
    EXPECT_FALSE(sessionIsOver(0.0, 10.0, 1000.0));  // --end-when-empty not given
}

TEST(SidecarSchedule, RetriesEachSecondWithOneLineAndStopsHealthWhileTheLoopIsStuck) {
    SidecarSchedule s;
    const SidecarWants starting{false, true, false};
    const SidecarWants serving{true, true, false};
    const SidecarWants stuck{true, false, false};
    EXPECT_EQ(nextSidecarCall(s, starting, 0.0), SidecarCall::None);  // not before the first tick
    ASSERT_EQ(nextSidecarCall(s, serving, 0.0), SidecarCall::Ready);
    EXPECT_NE(sidecarAnswered(s, SidecarCall::Ready, false, "refused", 0.0), "");
    EXPECT_EQ(nextSidecarCall(s, serving, 0.9), SidecarCall::None);
    ASSERT_EQ(nextSidecarCall(s, serving, 1.0), SidecarCall::Ready);
    EXPECT_EQ(sidecarAnswered(s, SidecarCall::Ready, false, "refused", 1.0), "");  // no line per try
    EXPECT_EQ(sidecarAnswered(s, SidecarCall::Ready, true, "", 2.0), "agones: ready");
    ASSERT_EQ(nextSidecarCall(s, serving, 2.0), SidecarCall::Health);
    EXPECT_EQ(sidecarAnswered(s, SidecarCall::Health, true, "", 2.0), "");
    EXPECT_EQ(nextSidecarCall(s, serving, 3.9), SidecarCall::None);
    EXPECT_EQ(nextSidecarCall(s, stuck, 4.0), SidecarCall::None);
    EXPECT_EQ(nextSidecarCall(s, serving, 4.0), SidecarCall::Health);
    EXPECT_EQ(nextSidecarCall(s, {true, false, true}, 4.0), SidecarCall::Shutdown);
    EXPECT_EQ(sidecarAnswered(s, SidecarCall::Shutdown, true, "", 4.0), "agones: shutdown");
    EXPECT_EQ(nextSidecarCall(s, {true, true, true}, 9.0), SidecarCall::None);
}

TEST(SidecarSchedule, AllocatesOnceAfterAClientAndARefusedAllocateNeverStarvesHealth) {
    SidecarSchedule s;
    const SidecarWants nobody{true, true, false, false};
    const SidecarWants played{true, true, false, true};
    ASSERT_EQ(nextSidecarCall(s, played, 0.0), SidecarCall::Ready);  // ready first, even after a pose
    sidecarAnswered(s, SidecarCall::Ready, true, "", 0.0);
    ASSERT_EQ(nextSidecarCall(s, played, 0.0), SidecarCall::Health);
    sidecarAnswered(s, SidecarCall::Health, true, "", 0.0);
    EXPECT_EQ(nextSidecarCall(s, nobody, 0.5), SidecarCall::None);
    ASSERT_EQ(nextSidecarCall(s, played, 0.5), SidecarCall::Allocate);
    EXPECT_NE(sidecarAnswered(s, SidecarCall::Allocate, false, "answered 500", 0.5), "");
    EXPECT_EQ(nextSidecarCall(s, played, 1.4), SidecarCall::None);
    ASSERT_EQ(nextSidecarCall(s, played, 2.0), SidecarCall::Health);        // due, so before the retry
    EXPECT_EQ(sidecarAnswered(s, SidecarCall::Health, true, "", 2.0), "");  // allocate still fails
    ASSERT_EQ(nextSidecarCall(s, played, 2.0), SidecarCall::Allocate);
    EXPECT_EQ(sidecarAnswered(s, SidecarCall::Allocate, false, "answered 500", 2.0), "");
    EXPECT_EQ(sidecarAnswered(s, SidecarCall::Allocate, true, "", 3.0), "agones: allocated");
    EXPECT_EQ(nextSidecarCall(s, played, 3.5), SidecarCall::None);  // once only
}

}  // namespace
}  // namespace brassmoor
