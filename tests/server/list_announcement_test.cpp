// The list servers' URLs, answers and announcement schedule, as the server and the launcher use them.
#include <gtest/gtest.h>

#include "list_announcement.h"

namespace brassmoor {
namespace {

HttpResponse answer(int status, const char* body, int retryAfter = 0) {
    return HttpResponse{true, status, body, "", retryAfter, ""};
}

TEST(ListAnnouncement, ReadsEachAnswerAndLogsOnlyChangesOnAThirtySecondBeat) {
    std::string why;
    EXPECT_TRUE(checkListServerUrl("https://list.example.org:8443/games/", why));
    for (const char* bad : {"ftp://list.example.org", "http://", "http://me:pw@list", "http://list:0",
                            "http://list/?x", "http://list/a b", "list.example.org"}) {
        EXPECT_FALSE(checkListServerUrl(bad, why)) << bad;
    }
    EXPECT_EQ(announceUrl("https://list.example.org/games/"), "https://list.example.org/games/v1/announce");

    ListStanding list;
    list.url = "http://list";
    EXPECT_TRUE(announcementDue(list, 0.0));
    const auto refused =
        readAnnouncementAnswer(answer(422, R"({"listed": false, "reason": "no answer\nhere"})"));
    EXPECT_EQ(announcementAnswered(list, refused, 1.0), "list http://list: not listed: no answer here");
    EXPECT_FALSE(announcementDue(list, 30.9));
    ASSERT_TRUE(announcementDue(list, 31.0));
    EXPECT_EQ(announcementAnswered(list, refused, 31.0), "");  // the same again: no line
    EXPECT_FALSE(list.listedOnce);
    const auto listed =
        readAnnouncementAnswer(answer(200, R"({"listed": true, "address": "198.51.100.20"})"));
    EXPECT_EQ(announcementAnswered(list, listed, 61.0), "list http://list: listed as 198.51.100.20");
    EXPECT_TRUE(list.listedOnce);
    // Refused for a while: a longer Retry-After is kept; a shorter one leaves the 30 s beat.
    EXPECT_EQ(announcementAnswered(list, readAnnouncementAnswer(answer(429, "{}", 120)), 91.0),
              "list http://list: not listed: the list answered 429 without a reason");
    EXPECT_FALSE(announcementDue(list, 210.9));
    announcementAnswered(list, readAnnouncementAnswer(answer(503, "<html>busy</html>", 5)), 211.0);
    EXPECT_TRUE(announcementDue(list, 241.0));
    EXPECT_EQ(readAnnouncementAnswer(answer(200, R"({"listed": true, "address": 7})")).listed, false);
    EXPECT_EQ(readAnnouncementAnswer(HttpResponse{false, 0, "", "", 0, "cannot connect: refused"}).reason,
              "cannot connect: refused");

    // Withdrawn once listed, whatever came between.
    EXPECT_TRUE(list.listedOnce);
    EXPECT_EQ(withdrawalAnswered(list, answer(200, R"({"listed": false, "removed": true})")),
              "list http://list: removed");
    EXPECT_FALSE(list.listedOnce);
}

}  // namespace
}  // namespace brassmoor
