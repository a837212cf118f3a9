// brassmoor-list's command line: parsed into plain values, with a message for anything it cannot take.
#include "list_options.h"

#include <string_view>

#include "option_values.h"

namespace brassmoor {
namespace {

constexpr std::uint64_t MaxTtlSeconds = 86400;
constexpr std::uint64_t MaxRecheckSeconds = 3600;
// A handful of fronts is the most a sane set-up has; the bound keeps the lookup trivial.
constexpr std::size_t MaxTrustedProxies = 16;
constexpr std::size_t MaxHostNameLength = 253;

ListOptionsResult failure(std::string message) {
    return ListOptionsResult{CommandLineAction::Error, {}, std::move(message)};
}

bool isHostNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

std::string applyOption(std::string_view name, std::string_view value, ListOptions& options,
                        bool& listenGiven) {
    if (name == "--listen") {
        Ipv4Endpoint endpoint;
        if (!parseIpv4Endpoint(value, endpoint) || endpoint.port == 0) {
            return "--listen needs an IPv4 address and a TCP port such as 0.0.0.0:8080, not " + quoted(value);
        }
        options.listen = endpoint;
        listenGiven = true;
    } else if (name == "--redis") {
        RedisTarget target;
        if (!parseRedisTarget(value, target)) {
            return "--redis needs redis://HOST:PORT or unix:/PATH, not " + quoted(value);
        }
        options.redis = target;
    } else if (name == "--ttl") {
        auto n = parseWhole(value);
        if (!n || *n < 2 || *n > MaxTtlSeconds)
            return "--ttl needs seconds from 2 to 86400, not " + quoted(value);
        options.ttlSeconds = static_cast<int>(*n);
    } else if (name == "--recheck") {
        auto n = parseWhole(value);
        if (!n || *n < 1 || *n > MaxRecheckSeconds) {
            return "--recheck needs seconds from 1 to 3600, not " + quoted(value);
        }
        options.recheckSeconds = static_cast<int>(*n);
    } else if (name == "--trusted-proxy") {
        std::uint32_t address = 0;
        if (!parseIpv4Address(value, address)) {
            return "--trusted-proxy needs an IPv4 address such as 127.0.0.1, not " + quoted(value);
        }
        if (options.trustedProxies.size() >= MaxTrustedProxies)
            return "--trusted-proxy is taken at most 16 times";
        options.trustedProxies.push_back(address);
    }
    return {};
}

bool takesValue(std::string_view name) {
    return name == "--listen" || name == "--redis" || name == "--ttl" || name == "--recheck" ||
           name == "--trusted-proxy";
}

}  // namespace

bool parseRedisTarget(std::string_view text, RedisTarget& target) {
    if (text.starts_with("unix:")) {
        const std::string_view path = text.substr(5);
        if (!path.starts_with("/") || path.size() > 107) return false;  // sun_path holds 108 bytes
        target = RedisTarget{{}, 0, std::string(path)};
        return true;
    }
    if (!text.starts_with("redis://")) return false;
    std::string_view rest = text.substr(8);
    std::uint16_t port = DefaultRedisPort;
    if (const auto colon = rest.find(':'); colon != std::string_view::npos) {
        const auto n = parseWhole(rest.substr(colon + 1));
        if (!n || *n < 1 || *n > 65535) return false;
        port = static_cast<std::uint16_t>(*n);
        rest = rest.substr(0, colon);
    }
    if (rest.empty() || rest.size() > MaxHostNameLength) return false;
    for (const char c : rest) {
        if (!isHostNameCharacter(c)) return false;
    }
    target = RedisTarget{std::string(rest), port, {}};
    return true;
}

std::string formatRedisTarget(const RedisTarget& target) {
    if (target.host.empty()) return "unix:" + target.socketPath;
    return "redis://" + target.host + ":" + std::to_string(target.port);
}

ListOptionsResult parseListOptions(std::span<const char* const> args) {
    ListOptionsResult result{informationRequested(args), {}, {}};
    if (result.action != CommandLineAction::Run) return result;
    bool listenGiven = false;
    auto apply = [&](std::string_view name, std::string_view value) {
        return applyOption(name, value, result.options, listenGiven);
    };
    if (std::string message = takeValuedOptions(args, takesValue, apply); !message.empty()) {
        return failure(std::move(message));
    }
    if (!listenGiven) return failure("--listen ADDRESS:PORT is required");
    if (result.options.ttlSeconds <= result.options.recheckSeconds) {
        // Otherwise a game answering every recheck would still leave the list between two of them.
        return failure("--ttl must be longer than --recheck");
    }
    return result;
}

std::string listUsageText() {
    return "Usage: brassmoor-list --listen ADDRESS:PORT [options]\n"
           "Lists the Brassmoor games that announce themselves, once each has answered an info query\n"
           "on its UDP port 40123; launchers read the list as JSON, people as a web page.\n"
           "\n"
           "  --listen ADDRESS:PORT\n"
           "                     serve HTTP on this IPv4 address and TCP port, e.g. 0.0.0.0:8080\n"
           "                     (required): POST and DELETE /v1/announce, GET /v1/games, GET /,\n"
           "                     GET /metrics and GET /healthz\n"
           "  --redis URL        keep the games in Redis, redis://HOST:PORT (port 6379 when left\n"
           "                     out) or unix:/PATH, shared by every list using it (default: in\n"
           "                     this process's memory, lost when it stops)\n"
           "  --ttl SEC          each answer keeps a game listed this long, 2 to 86400 (default 60)\n"
           "  --recheck SEC      ask every listed game again this often, 1 to 3600 and less than\n"
           "                     --ttl (default 10)\n"
           "  --trusted-proxy ADDRESS\n"
           "                     a peer (a TLS front such as nginx) whose X-Forwarded-For names the\n"
           "                     announcing game: the address it appended, the last; repeatable, and\n"
           "                     no other peer's X-Forwarded-For counts (default: none)\n"
           "  --help             print this and exit\n"
           "  --version          print the version and exit\n"
           "\n"
           "Stops cleanly on SIGINT or SIGTERM.\n";
}

}  // namespace brassmoor
