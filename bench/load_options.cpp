// The load generator's command line, parsed into plain values with a message for anything wrong.
#include "load_options.h"

#include <string_view>

#include "option_values.h"

namespace brassmoor {
namespace {

constexpr std::uint64_t MaxClients = 20000;
constexpr std::uint64_t MaxForgedPorts = 20000;

std::string applyOption(std::string_view name, std::string_view value, LoadOptions& options) {
    if (name == "--server") {
        if (!parseIpv4Endpoint(value, options.server) || options.server.port == 0)
            return "--server needs an IPv4 address and port such as 127.0.0.1:40123, not " + quoted(value);
    } else if (name == "--clients") {
        const auto n = parseWhole(value);
        if (!n || *n < 1 || *n > MaxClients)
            return "--clients needs a whole number from 1 to 20000, not " + quoted(value);
        options.clients = static_cast<std::uint32_t>(*n);
    } else if (name == "--seconds" || name == "--warm-up") {
        const auto s = parseReal(value);
        if (!s || *s < (name == "--seconds" ? 0.1 : 0.0) || *s > 86400.0)
            return std::string(name) + " needs seconds from " + (name == "--seconds" ? "0.1" : "0") +
                   " to 86400, not " + quoted(value);
        (name == "--seconds" ? options.seconds : options.warmUpSeconds) = *s;
    } else if (name == "--rate") {
        const auto r = parseReal(value);
        if (!r || *r < 0.1 || *r > 1000.0)
            return "--rate needs poses per second from 0.1 to 1000, not " + quoted(value);
        options.rate = *r;
    } else if (name == "--first-address") {
        if (!parseIpv4Address(value, options.firstAddress))
            return "--first-address needs an IPv4 address such as 127.0.0.2, not " + quoted(value);
    } else if (name == "--clients-per-address") {
        const auto n = parseWhole(value);
        if (!n || *n < 1 || *n > 28000)
            return "--clients-per-address needs a whole number from 1 to 28000, not " + quoted(value);
        options.clientsPerAddress = static_cast<std::uint32_t>(*n);
    } else if (name == "--spacing") {
        const auto s = parseReal(value);
        if (!s || *s <= 0.0 || *s > 1000.0)
            return "--spacing needs units above 0, up to 1000, not " + quoted(value);
        options.spacing = static_cast<float>(*s);
    } else if (name == "--watch-pid") {
        const auto n = parseWhole(value);
        if (!n || *n < 1 || *n > 0x7FFFFFFF) return "--watch-pid needs a process id, not " + quoted(value);
        options.watchPid = static_cast<std::uint32_t>(*n);
    } else if (name == "--garbage-rate" || name == "--forged-rate") {
        const auto r = parseReal(value);
        if (!r || *r < 0.0 || *r > 10000000.0)
            return std::string(name) + " needs datagrams per second from 0 to 10000000, not " + quoted(value);
        (name == "--garbage-rate" ? options.garbageRate : options.forgedRate) = *r;
    } else if (name == "--forged-ports") {
        const auto n = parseWhole(value);
        if (!n || *n < 1 || *n > MaxForgedPorts)
            return "--forged-ports needs a whole number from 1 to 20000, not " + quoted(value);
        options.forgedPorts = static_cast<std::uint32_t>(*n);
    }
    return {};
}

bool isLoadOption(std::string_view name) {
    return name == "--server" || name == "--clients" || name == "--seconds" || name == "--warm-up" ||
           name == "--rate" || name == "--first-address" || name == "--clients-per-address" ||
           name == "--spacing" || name == "--watch-pid" || name == "--garbage-rate" ||
           name == "--forged-rate" || name == "--forged-ports";
}

}  // namespace

LoadOptionsResult parseLoadOptions(std::span<const char* const> args) {
    LoadOptionsResult result{informationRequested(args), {}, {}};
    if (result.action != CommandLineAction::Run) return result;
    auto apply = [&](std::string_view name, std::string_view value) {
        return applyOption(name, value, result.options);
    };
    if (std::string message = takeValuedOptions(args, isLoadOption, apply); !message.empty()) {
        return {CommandLineAction::Error, {}, std::move(message)};
    }
    return result;
}

std::string loadUsageText() {
    return "Usage: brassmoor-load [options]\n"
           "Simulates clients, each with a socket of its own, posing on a fixed schedule (a late server\n"
           "does not slow them) and receiving snapshots; then reports per-client snapshots a second,\n"
           "the gaps between snapshots, poses left unanswered, the system's drops and the CPU used by\n"
           "itself and by the process watched.\n"
           "\n"
           "  --server ADDRESS:PORT       where to send poses (default 127.0.0.1:40123)\n"
           "  --clients N                 simulated clients, 1 to 20000 (default 64)\n"
           "  --seconds S                 measured time (default 10)\n"
           "  --warm-up S                 time before measuring (default 2)\n"
           "  --rate HZ                   poses a second from each client (default 30)\n"
           "  --first-address ADDRESS     clients bind here and on the addresses after it\n"
           "                              (default 127.0.0.2)\n"
           "  --clients-per-address N     clients on one address before the next (default 10000)\n"
           "  --spacing UNITS             between neighbours on the clients' square (default 2)\n"
           "  --watch-pid PID             also report this process's CPU use (the server)\n"
           "  --garbage-rate N            datagrams a second that are not poses, from the start of\n"
           "                              the measured time (default 0)\n"
           "  --forged-rate N             poses a second from ports that never read, from the start\n"
           "                              of the measured time (default 0)\n"
           "  --forged-ports N            how many such ports, used in turn (default 2000)\n"
           "  --help                      print this and exit\n"
           "  --version                   print the version and exit\n"
           "\n"
           "Ctrl-C ends the measurement early and reports what was measured. Needs a file\n"
           "descriptor per client and forged port; it raises its own limit to the hard one.\n";
}

}  // namespace brassmoor
