// The replayer's command line: parsed into plain values, with a message for anything it cannot take.
#include "replay_options.h"

#include <string_view>

#include "option_values.h"

namespace brassmoor {

namespace {

ReplayOptionsResult failure(std::string message) {
    return ReplayOptionsResult{CommandLineAction::Error, {}, std::move(message)};
}

bool takesValue(std::string_view name) {
    return name == "--speed" || name == "--server-port" || name == "--client" || name == "--listen";
}

// Applies one option with its value; an empty string on success, otherwise the message.
std::string applyOption(std::string_view name, std::string_view value, ReplayOptions& options) {
    if (name == "--speed") {
        auto speed = parseReal(value);
        if (!speed || *speed < SlowestReplaySpeed || *speed > FastestReplaySpeed)
            return "--speed needs a factor from 0.01 to 100, not " + quoted(value);
        options.speed = *speed;
    } else if (name == "--server-port") {
        auto port = parseWhole(value);
        if (!port || *port < 1 || *port > 65535)
            return "--server-port needs a whole number from 1 to 65535, not " + quoted(value);
        options.serverPort = static_cast<std::uint16_t>(*port);
    } else if (name == "--client") {
        Ipv4Endpoint client;
        if (!parseIpv4Endpoint(value, client))
            return "--client needs ADDRESS:PORT as the capture shows it, such as 127.0.0.1:51234, not " +
                   quoted(value);
        options.client = client;
    } else if (name == "--listen") {
        if (!parseIpv4Endpoint(value, options.listen))
            return "--listen needs ADDRESS:PORT with an IPv4 address, such as 0.0.0.0:40123, not " + quoted(value);
    }
    return {};
}

}  // namespace

ReplayOptionsResult parseReplayOptions(std::span<const char* const> args) {
    ReplayOptionsResult result{informationRequested(args), {}, {}};
    if (result.action != CommandLineAction::Run) return result;
    bool captureGiven = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        auto [name, value] = splitOptionArgument(arg);
        if (name == "--loop") {
            if (value) return failure("--loop takes no value");
            result.options.loop = true;
            continue;
        }
        if (!arg.starts_with("-") || arg == "-") {
            if (captureGiven) return failure("unexpected argument " + quoted(arg) + ": one capture file is replayed");
            result.options.capturePath = std::string(arg);
            captureGiven = true;
            continue;
        }
        if (!takesValue(name)) return failure("unknown option " + quoted(name));
        if (!value) {
            if (i + 1 >= args.size()) return failure(std::string(name) + " needs a value");
            value = std::string_view(args[++i]);
        }
        if (std::string message = applyOption(name, *value, result.options); !message.empty()) {
            return failure(std::move(message));
        }
    }
    if (!captureGiven) return failure("a capture file to replay is required");
    return result;
}

std::string replayUsageText() {
    return "Usage: brassmoor-replay [options] CAPTURE\n"
           "A stand-in server that plays a recorded game back: it waits for a client's first pose,\n"
           "then sends that client the datagrams the capture's server sent to one of its clients,\n"
           "byte for byte (damaged ones included), on their recorded schedule. It prints each\n"
           "datagram it sends and exits after the last.\n"
           "\n"
           "CAPTURE is a pcap file, such as brassmoor-server --capture or brassmoor-relay --capture\n"
           "write (tcpdump's and Wireshark's pcap files too; pcapng: convert with editcap -F pcap).\n"
           "\n"
           "  --server-port N        the capture's server port: datagrams sent from it are replayed\n"
           "                         (default 40123). A relay's capture has two legs: 40123, or the\n"
           "                         relay's --listen port, replays what the client got (after the\n"
           "                         relay's impairments); the server's own port replays what the\n"
           "                         server sent\n"
           "  --client ADDRESS:PORT  which of the server's clients to replay, as the capture names it\n"
           "                         (default: the first one sent to)\n"
           "  --speed F              F times as fast as recorded, 0.01 to 100 (default 1)\n"
           "  --loop                 start again after the last datagram, until stopped\n"
           "  --listen ADDRESS:PORT  where to wait for the client (default 0.0.0.0:40123; port 0:\n"
           "                         any free port)\n"
           "  --help                 print this and exit\n"
           "  --version              print the version and exit\n"
           "\n"
           "Stops cleanly on SIGINT or SIGTERM.\n";
}

}  // namespace brassmoor
