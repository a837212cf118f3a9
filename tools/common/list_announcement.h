// Announcing a game to list servers, the part the server and the launcher share: a list server's URL
// checked, what its answers say, and when to announce again. Pure: the caller makes the HTTP calls
// and passes the time in.
//
//   POST   URL/v1/announce  body {}  200  {"listed": true, "address": "198.51.100.20", "port": 40123, ...}
//                                    4xx, 5xx  {"listed": false, "reason": "..."}  (429, 503: Retry-After)
//   DELETE URL/v1/announce           200  {"listed": false, "removed": true}  (false: it was not listed)
//
// The list takes the game's address from the connection and checks that UDP 40123 there answers
// before it lists anything, so the announcement itself says nothing about the game.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "http_client.h"

namespace brassmoor {

inline constexpr double AnnounceEverySeconds = 30.0;   // between announcements, listed or not
inline constexpr double MaxRetryAfterSeconds = 600.0;  // a list asking for a longer wait gets this
// The list waits up to 2 s for the game's own answer before it answers the announcement.
inline constexpr int AnnounceTimeoutMilliseconds = 5000;
inline constexpr std::size_t ListAnswerMaxBytes = 16 * 1024;  // a list's answer is well under 1 KiB
inline constexpr std::size_t MaxListServerUrlBytes = 512;
inline constexpr const char* AnnouncementBody = "{}";

// True for a list server's URL: http:// or https://, a host name or IPv4 address, an optional port
// and path; printable ASCII, with no user name, password, query or fragment. Otherwise false, with
// `reason` saying what is wrong (a phrase to follow the option's name).
bool checkListServerUrl(std::string_view url, std::string& reason);

// URL/v1/announce, whether or not URL ends in a slash.
std::string announceUrl(std::string_view url);

// What an answer to POST /v1/announce says.
struct AnnouncementAnswer {
    bool listed = false;
    std::string address;             // listed: the address the list shows the game at
    std::string reason;              // not listed: the list's own words, or what failed on the way
    double retryAfterSeconds = 0.0;  // not listed: the list asks for no new try before this
};

AnnouncementAnswer readAnnouncementAnswer(const HttpResponse& response);

// One list server, as the announcer last heard from it.
struct ListStanding {
    std::string url;            // as given, for the log
    double nextAnnounce = 0.0;  // monotonic seconds; the first is due as soon as the game serves
    // The list has listed the game since the start, so a withdrawal is owed at the end: a later
    // refusal or failure does not say the list has dropped the entry it holds.
    bool listedOnce = false;
    bool listed = false;   // as of the list's latest answer
    std::string lastLine;  // the line last logged for this list
};

bool announcementDue(const ListStanding& list, double now);

// Takes an answer to an announcement made at `now`: the next is due AnnounceEverySeconds later, or
// after a refusal's longer Retry-After. Returns the line to log when what the list says changed
// ("list URL: listed as ADDRESS", "list URL: not listed: REASON"), otherwise empty.
std::string announcementAnswered(ListStanding& list, const AnnouncementAnswer& answer, double now);

// Takes the answer to DELETE /v1/announce; returns the line to log.
std::string withdrawalAnswered(ListStanding& list, const HttpResponse& response);

}  // namespace brassmoor
