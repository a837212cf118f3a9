// The server's command line: parsed into plain values, with a message for anything it cannot take.
#include "options.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include "ipv4_endpoint.h"
#include "list_announcement.h"
#include "option_values.h"
#include "server_info.h"

namespace brassmoor {

namespace {

constexpr double MinRate = 0.1;
constexpr double MaxRate = 1000.0;
constexpr std::uint32_t MaxBots = 10000;
constexpr double MinTimeout = 0.1;
constexpr double MaxTimeout = 86400.0;
constexpr std::uint64_t MaxClientsLimit = 4000;
constexpr double MinStatusSeconds = 0.1;
constexpr double MinEmptySeconds = 1.0;
constexpr double MaxStatusSeconds = 86400.0;

OptionsResult failure(std::string message) {
    return OptionsResult{CommandLineAction::Error, {}, std::move(message)};
}

// Applies one option with its value; an empty string on success, otherwise the message.
std::string applyOption(std::string_view name, std::string_view value, ServerOptions& options) {
    if (name == "--bind") {
        if (!isDottedIpv4(std::string(value)))
            return "--bind needs an IPv4 address such as 127.0.0.1, not " + quoted(value);
        options.bindAddress = std::string(value);
    } else if (name == "--port") {
        auto n = parseWhole(value);
        if (!n || *n < 1 || *n > 65535)
            return "--port needs a whole number from 1 to 65535, not " + quoted(value);
        options.port = static_cast<std::uint16_t>(*n);
    } else if (name == "--rate") {
        auto r = parseReal(value);
        if (!r || *r < MinRate || *r > MaxRate) {
            return "--rate needs snapshots per second from 0.1 to 1000, not " + quoted(value);
        }
        options.rate = *r;
    } else if (name == "--bots") {
        auto n = parseWhole(value);
        if (!n || *n > MaxBots) return "--bots needs a whole number from 0 to 10000, not " + quoted(value);
        options.bots = static_cast<std::uint32_t>(*n);
    } else if (name == "--timeout") {
        auto t = parseReal(value);
        if (!t || *t < MinTimeout || *t > MaxTimeout) {
            return "--timeout needs seconds from 0.1 to 86400, not " + quoted(value);
        }
        options.timeoutSeconds = *t;
    } else if (name == "--arena") {
        auto a = parseReal(value);
        if (!a || *a < 1.0 || *a > 60.0)
            return "--arena needs a half size from 1 to 60 units, not " + quoted(value);
        options.arena = static_cast<float>(*a);
    } else if (name == "--max-clients") {
        auto n = parseWhole(value);
        if (!n || *n < 1 || *n > MaxClientsLimit)
            return "--max-clients needs a whole number from 1 to 4000, not " + quoted(value);
        options.maxClients = static_cast<std::size_t>(*n);
    } else if (name == "--max-entries") {
        auto n = parseWhole(value);
        if (!n || *n < 1 || *n > MaxSnapshotEntries)
            return "--max-entries needs a whole number from 1 to 204, not " + quoted(value);
        options.maxEntries = static_cast<std::size_t>(*n);
    } else if (name == "--status") {
        auto t = parseReal(value);
        if (!t || *t < MinStatusSeconds || *t > MaxStatusSeconds) {
            return "--status needs seconds from 0.1 to 86400, not " + quoted(value);
        }
        options.statusSeconds = *t;
    } else if (name == "--capture") {
        if (value.empty()) return "--capture needs a file name";
        options.capturePath = std::string(value);
    } else if (name == "--metrics") {
        Ipv4Endpoint endpoint;
        if (!parseIpv4Endpoint(value, endpoint) || endpoint.port == 0) {
            return "--metrics needs an IPv4 address and a TCP port such as 127.0.0.1:40124, not " +
                   quoted(value);
        }
        options.metrics = endpoint;
    } else if (name == "--end-when-empty") {
        auto t = parseReal(value);
        if (!t || *t < MinEmptySeconds || *t > MaxTimeout) {
            return "--end-when-empty needs seconds from 1 to 86400, not " + quoted(value);
        }
        options.endWhenEmptySeconds = *t;
    } else if (name == "--name") {
        // Empty (as a service's unset variable gives it) keeps the default, the host name.
        options.name = sanitiseServerName(value);
        if (options.name.empty() && !value.empty()) {
            return "--name needs printable text, not only control characters or spaces";
        }
    } else if (name == "--list-server") {
        std::string reason;
        if (!checkListServerUrl(value, reason)) return "--list-server " + reason + ", not " + quoted(value);
        auto& lists = options.listServers;
        if (std::find(lists.begin(), lists.end(), value) != lists.end())
            return "--list-server " + quoted(value) + " is given twice";
        if (lists.size() == MaxListServers)
            return "--list-server may be given " + std::to_string(MaxListServers) + " times at most";
        lists.emplace_back(value);
    } else if (name == "--seed") {
        auto n = parseWhole(value);
        if (!n) return "--seed needs a whole number from 0 to 18446744073709551615, not " + quoted(value);
        options.seed = *n;
    }
    return {};
}

bool takesValue(std::string_view name) {
    return name == "--bind" || name == "--port" || name == "--rate" || name == "--bots" ||
           name == "--timeout" || name == "--seed" || name == "--arena" || name == "--max-clients" ||
           name == "--max-entries" || name == "--status" || name == "--capture" || name == "--metrics" ||
           name == "--end-when-empty" || name == "--name" || name == "--list-server";
}

}  // namespace

bool isDottedIpv4(const std::string& text) {
    std::uint32_t address = 0;
    return parseIpv4Address(text, address);
}

OptionsResult parseServerOptions(std::span<const char* const> args) {
    OptionsResult result{informationRequested(args), {}, {}};
    if (result.action != CommandLineAction::Run) return result;
    auto apply = [&](std::string_view name, std::string_view value) {
        return applyOption(name, value, result.options);
    };
    if (std::string message = takeValuedOptions(args, takesValue, apply); !message.empty()) {
        return failure(std::move(message));
    }
    return result;
}

std::string serverUsageText() {
    return "Usage: brassmoor-server [options]\n"
           "Relays the players' poses: every client is sent a snapshot of all the other players at a\n"
           "steady rate, but never more snapshots than the poses it has sent\n"
           "(one per pose, up to 3 banked).\n"
           "\n"
           "  --bind ADDRESS     IPv4 address to listen on (default 0.0.0.0)\n"
           "  --port N           UDP port to listen on (default 40123)\n"
           "  --rate HZ          snapshots per second to each client at most (default 30)\n"
           "  --bots N           simulated players walking about (default 0)\n"
           "  --timeout SEC      forget a client silent this long (default 5)\n"
           "  --max-clients N    clients served at once, 1 to 4000; poses from further addresses\n"
           "                     are refused until one is forgotten (default 64)\n"
           "  --max-entries N    players one snapshot lists at most, the nearest, 1 to 204\n"
           "                     (default 204); 73 keep a snapshot within one 1500-byte frame\n"
           "  --seed N           seed for the simulated players' walks (default 1)\n"
           "  --arena UNITS      the simulated players keep within +-UNITS of the centre (default 60)\n"
           "  --status SEC       seconds between status lines (default 5); each gives the counts\n"
           "                     since the start, the tick times since the line before, and the\n"
           "                     datagrams the system dropped for want of room in the queue\n"
           "  --capture FILE     write every datagram received and sent to FILE as pcap\n"
           "                     (Wireshark, tshark, brassmoor-replay read it)\n"
           "  --metrics ADDRESS:PORT\n"
           "                     serve GET /metrics (Prometheus text) and GET /healthz (200 while\n"
           "                     ticks run on time, 503 once one is a second late) over HTTP on this\n"
           "                     TCP address, e.g. 127.0.0.1:40124 (default: not served)\n"
           "  --end-when-empty SEC\n"
           "                     once a client has been served, end (exit 0) when no client has been\n"
           "                     heard for SEC seconds, 1 to 86400 (default: never)\n"
           "  --name TEXT        the name launchers show for this server (default: the computer's\n"
           "                     host name); printable UTF-8 cut to 48 bytes, control characters\n"
           "                     and invisible ones left out\n"
           "  --list-server URL  announce the game to this list server (http:// or https://) once\n"
           "                     it serves and every 30 s, and withdraw it on stopping; repeat for\n"
           "                     more lists (up to 8). The list checks UDP 40123 at the address the\n"
           "                     announcement comes from, so that port must reach this server\n"
           "  --help             print this and exit\n"
           "  --version          print the version and exit\n"
           "\n"
           "Stops cleanly on SIGINT or SIGTERM. With AGONES_SDK_HTTP_PORT set, it tells the game\n"
           "server's SDK sidecar on 127.0.0.1 that it is ready once serving, that it is healthy\n"
           "every 2 s while ticks run, and to shut down when --end-when-empty ends the session.\n";
}

}  // namespace brassmoor
