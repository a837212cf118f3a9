// The list's figures as Prometheus metric families and their text exposition: pure, so the names and
// labels are fixed in one place and checked without HTTP.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brassmoor {

// How an announcement ended; each is a series of brassmoor_list_announcements_total.
enum class AnnounceOutcome {
    Listed,       // the game answered and is listed
    NoAnswer,     // no answer on UDP 40123 within the check's time
    BadRequest,   // a body or an address the list does not take
    TooLarge,     // a body over 1 KiB
    RateLimited,  // too many from that address
    Busy,         // too many checks in flight
    StoreDown,    // the store could not be reached
};
inline constexpr std::size_t AnnounceOutcomeCount = 7;
// The label value of each outcome, in the enum's order.
std::string_view outcomeLabel(AnnounceOutcome outcome);

// Why a check was sent: an announcement, or the schedule of rechecks.
enum class CheckKind { Announcement, Recheck };

struct ListFigures {
    std::size_t games = 0;  // in the list served now
    std::array<std::uint64_t, AnnounceOutcomeCount> announcements{};
    std::uint64_t removals = 0;
    std::array<std::uint64_t, 2> checksSent{};      // by CheckKind
    std::array<std::uint64_t, 2> checksAnswered{};  // by CheckKind
    std::size_t checksInFlight = 0;
    std::uint64_t storeErrors = 0;
    bool storeUp = true;
};

// The families in the Prometheus text format (version 0.0.4), names brassmoor_list_*.
std::string listMetricsText(const ListFigures& figures, std::string_view version);

inline constexpr const char* ListMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace brassmoor
