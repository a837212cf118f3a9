// The list's load generator's command line: which list, how many games and how they announce.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "program_entry.h"

namespace brassmoor {

struct ListLoadOptions {
    std::string list = "http://127.0.0.1:8080";  // the list's base URL; announcements go to /v1/announce
    std::uint32_t games = 10000;                 // each on an address of its own
    std::uint32_t firstAddress = 0x7F000002;     // games bind UDP 40123 here and on the following addresses
    std::uint32_t rounds = 2;                    // each game announces itself once a round
    std::uint32_t concurrency = 128;             // announcements under way at once
    bool hold = false;                           // after the rounds, answer the list's rechecks until stopped
};

struct ListLoadOptionsResult {
    CommandLineAction action;
    ListLoadOptions options;
    std::string error;
};

ListLoadOptionsResult parseListLoadOptions(std::span<const char* const> args);

std::string listLoadUsageText();

}  // namespace brassmoor
