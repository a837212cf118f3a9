// brassmoor-play's command line: which game to play, parsed into plain values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "program_entry.h"

namespace brassmoor {

// The UDP port the games are looked for, joined and hosted on.
inline constexpr std::uint16_t GamePort = 40123;
inline constexpr std::uint32_t PracticeBots = 6;
inline constexpr std::uint32_t DefaultHostedBots = 0;

enum class LaunchMode {
    Window,          // open the window that lists the games found
    FindOrPractice,  // join the busiest game found, or start a practice game (--quick)
    Join,            // join the server at `address`
    Host,            // host a game with `bots` simulated players and join it
    List,            // print the games found and exit
};

struct LauncherOptions {
    LaunchMode mode = LaunchMode::Window;
    std::string address;  // with Join: a dotted-decimal IPv4 address
    std::uint32_t bots = DefaultHostedBots;
    std::string name;       // with Host: the hosted game's name, sanitised; empty: the computer's host name
    bool internet = false;  // with Host: list it on the Internet too
    std::vector<std::string> listServers;  // checked URLs, in the order given
};

struct LauncherOptionsResult {
    CommandLineAction action;  // Run: launch with these options
    LauncherOptions options;
    std::string error;  // one line, without the program name or a newline
};

// `args` is the whole argv, program name first.
LauncherOptionsResult parseLauncherOptions(std::span<const char* const> args);

// The text printed for --help, ending in a newline.
std::string launcherUsageText();

}  // namespace brassmoor
