// brassmoor-list's command line: parsed into plain values, with a message for anything it cannot take.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ipv4_endpoint.h"
#include "program_entry.h"

namespace brassmoor {

// Where the shared store is: Redis over TCP (a host name or an address) or over a unix socket.
struct RedisTarget {
    std::string host;        // empty for a unix socket
    std::uint16_t port = 0;  // with host
    std::string socketPath;  // absolute; with no host
};

inline constexpr std::uint16_t DefaultRedisPort = 6379;

struct ListOptions {
    Ipv4Endpoint listen;               // the HTTP address (TCP)
    std::optional<RedisTarget> redis;  // none: the list keeps its games in memory
    int ttlSeconds = 60;               // each answer keeps a game this long
    int recheckSeconds = 10;           // every listed game is asked again this often
    // Peers whose X-Forwarded-For names the announcing game (a TLS front on this host, say).
    std::vector<std::uint32_t> trustedProxies;
};

struct ListOptionsResult {
    CommandLineAction action;  // Run: start the list with these options
    ListOptions options;
    std::string error;  // one line, without the program name or a newline
};

// `args` is the whole argv, program name first. Takes "--name value" and "--name=value".
ListOptionsResult parseListOptions(std::span<const char* const> args);

// "redis://HOST:PORT" (PORT defaults to 6379) or "unix:/absolute/path"; false for anything else.
bool parseRedisTarget(std::string_view text, RedisTarget& target);
// The target as the command line names it, for log lines.
std::string formatRedisTarget(const RedisTarget& target);

// The text printed for --help, ending in a newline.
std::string listUsageText();

}  // namespace brassmoor
