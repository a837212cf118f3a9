// The list's load generator's command line, parsed into plain values with a message for anything wrong.
#include "list_load_options.h"

#include <string_view>
#include <vector>

#include "ipv4_endpoint.h"
#include "option_values.h"

namespace brassmoor {
namespace {

// A game takes a file descriptor, and a process may open about 20 000.
constexpr std::uint64_t MaxGames = 16000;
constexpr std::uint64_t MaxRounds = 4;  // the list takes 4 announcements at once from an address
constexpr std::uint64_t MaxConcurrency = 1024;

std::string applyOption(std::string_view name, std::string_view value, ListLoadOptions& options) {
    if (name == "--list") {
        if (!value.starts_with("http://")) return "--list needs an http:// URL, not " + quoted(value);
        options.list = std::string(value);
        while (options.list.ends_with("/"))
            options.list.pop_back();
    } else if (name == "--games") {
        const auto n = parseWhole(value);
        if (!n || *n < 1 || *n > MaxGames)
            return "--games needs a whole number from 1 to 16000, not " + quoted(value);
        options.games = static_cast<std::uint32_t>(*n);
    } else if (name == "--first-address") {
        if (!parseIpv4Address(value, options.firstAddress))
            return "--first-address needs an IPv4 address such as 127.0.0.2, not " + quoted(value);
    } else if (name == "--rounds") {
        const auto n = parseWhole(value);
        if (!n || *n > MaxRounds) return "--rounds needs a whole number from 0 to 4, not " + quoted(value);
        options.rounds = static_cast<std::uint32_t>(*n);
    } else if (name == "--concurrency") {
        const auto n = parseWhole(value);
        if (!n || *n < 1 || *n > MaxConcurrency)
            return "--concurrency needs a whole number from 1 to 1024, not " + quoted(value);
        options.concurrency = static_cast<std::uint32_t>(*n);
    }
    return {};
}

bool isListLoadOption(std::string_view name) {
    return name == "--list" || name == "--games" || name == "--first-address" || name == "--rounds" ||
           name == "--concurrency";
}

}  // namespace

ListLoadOptionsResult parseListLoadOptions(std::span<const char* const> args) {
    ListLoadOptionsResult result{informationRequested(args), {}, {}};
    if (result.action != CommandLineAction::Run) return result;
    // --hold takes no value: taken out before the valued options are read.
    std::vector<const char*> valued;
    for (const char* arg : args) {
        if (std::string_view(arg) == "--hold") {
            result.options.hold = true;
        } else {
            valued.push_back(arg);
        }
    }
    auto apply = [&](std::string_view name, std::string_view value) {
        return applyOption(name, value, result.options);
    };
    if (std::string message = takeValuedOptions(valued, isListLoadOption, apply); !message.empty()) {
        return {CommandLineAction::Error, {}, std::move(message)};
    }
    return result;
}

std::string listLoadUsageText() {
    return "Usage: brassmoor-list-load [options]\n"
           "Games for the list server's benchmark: each is a UDP socket on port 40123 of an address of\n"
           "its own, answering info queries as a game server does. Each round every game announces\n"
           "itself to the list from its own address, many at once; each round's rate and outcomes are\n"
           "printed. With --hold the games then answer the list's rechecks until Ctrl-C or SIGTERM.\n"
           "\n"
           "  --list URL                  the list, http://ADDRESS:PORT (default http://127.0.0.1:8080)\n"
           "  --games N                   games, 1 to 16000 (default 10000)\n"
           "  --first-address ADDRESS     games bind here and on the addresses after it (default\n"
           "                              127.0.0.2; in a network namespace of its own, all of 127/8\n"
           "                              is this machine's)\n"
           "  --rounds N                  announcements of every game, 0 to 4 (default 2)\n"
           "  --concurrency N             announcements under way at once, 1 to 1024 (default 128)\n"
           "  --hold                      after the rounds, keep answering until stopped\n"
           "  --help                      print this and exit\n"
           "  --version                   print the version and exit\n";
}

}  // namespace brassmoor
