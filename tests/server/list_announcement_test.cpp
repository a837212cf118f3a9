// The list servers' URLs, answers and announcement schedule, as the server and the launcher use them.
#include <gtest/gtest.h>

#include "list_announcement.h"

namespace brassmoor {
namespace {

AnnouncementAnswer read(int status, const char* body, int retryAfter = 0) {
    return readAnnouncementAnswer(HttpResponse{true, status, body, "", retryAfter, ""});
}

TEST(ListAnnouncement, ReadsEachAnswerAndLogsOnlyChangesOnAThirtySecondBeat) {
    std::string why;
    EXPECT_TRUE(checkListServerUrl("https://list.example.org:8443/games/", why));
    for (const char* bad :
         {"ftp://list", "http://", "http://me:pw@list", "http://list:0", "http://list/?x", "list"})
        EXPECT_FALSE(checkListServerUrl(bad, why)) << bad;

    ListStanding list;
    list.url = "http://list";
    const auto refused = read(422, R"({"listed": false, "reason": "no answer\nhere"})");
    EXPECT_EQ(announcementAnswered(list, refused, 1.0), "list http://list: not listed: no answer here");
    EXPECT_FALSE(announcementDue(list, 30.9));
    ASSERT_TRUE(announcementDue(list, 31.0));
    EXPECT_EQ(announcementAnswered(list, refused, 31.0), "");  // the same again: no line
    EXPECT_EQ(announcementAnswered(list, read(200, R"({"listed": true, "address": "198.51.100.20"})"), 61.0),
              "list http://list: listed as 198.51.100.20");
    // A longer Retry-After is waited for; a shorter one keeps the 30 s beat.
    EXPECT_EQ(announcementAnswered(list, read(429, "{}", 120), 91.0),
              "list http://list: not listed: the list answered 429 without a reason");
    EXPECT_FALSE(announcementDue(list, 210.9));
    announcementAnswered(list, read(503, "<html>busy</html>", 5), 211.0);
    EXPECT_TRUE(announcementDue(list, 241.0));
    EXPECT_FALSE(read(200, R"({"listed": true, "address": 7})").listed);
    // Withdrawn at the end once listed, whatever came between.
    ASSERT_TRUE(list.listedOnce);
    EXPECT_EQ(withdrawalAnswered(list, HttpResponse{true, 200, R"({"removed": true})", "", 0, ""}),
              "list http://list: removed");
}

}  // namespace
}  // namespace brassmoor
