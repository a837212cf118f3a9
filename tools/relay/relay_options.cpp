// The relay's command line: parsed into plain values, with a message for anything it cannot take.
#include "relay_options.h"

#include <cmath>
#include <string_view>

#include "option_values.h"

namespace brassmoor {

namespace {

constexpr double MostImpairSeconds = 1.0e7;

// The seven settings each direction has, by the name that follows "--", "--up-" or "--down-".
struct ImpairmentSetting {
    std::string_view name;
    double Impairment::*field;
    bool milliseconds;  // otherwise a fraction
};

constexpr ImpairmentSetting ImpairmentSettings[] = {
    {"loss", &Impairment::loss, false},       {"duplicate", &Impairment::duplicate, false},
    {"reorder", &Impairment::reorder, false}, {"truncate", &Impairment::truncate, false},
    {"corrupt", &Impairment::corrupt, false}, {"delay", &Impairment::delayMs, true},
    {"jitter", &Impairment::jitterMs, true},
};
constexpr std::size_t ImpairmentSettingCount = std::size(ImpairmentSettings);

enum class Scope { Both, Up, Down };

// What the command line said about impairments, before the per-direction values beat the others.
struct ImpairmentValues {
    std::optional<double> values[3][ImpairmentSettingCount];  // by Scope, then by setting
};

// The impairment setting an option names, with its scope; null when it names none.
const ImpairmentSetting* findImpairmentSetting(std::string_view name, Scope& scope) {
    if (!name.starts_with("--")) return nullptr;
    name.remove_prefix(2);
    scope = Scope::Both;
    if (name.starts_with("up-")) {
        scope = Scope::Up;
        name.remove_prefix(3);
    } else if (name.starts_with("down-")) {
        scope = Scope::Down;
        name.remove_prefix(5);
    }
    for (const ImpairmentSetting& setting : ImpairmentSettings) {
        if (setting.name == name) return &setting;
    }
    return nullptr;
}

bool isOtherOption(std::string_view name) {
    return name == "--listen" || name == "--server" || name == "--seed" || name == "--impair-for" ||
           name == "--status-every" || name == "--max-clients" || name == "--idle" || name == "--max-held" ||
           name == "--capture";
}

std::string applyImpairment(std::string_view name, const ImpairmentSetting& setting, Scope scope,
                            std::string_view value, ImpairmentValues& values) {
    const std::optional<double> number = parseReal(value);
    if (setting.milliseconds) {
        if (!number || *number < 0.0 || *number > MostDelayMs)
            return std::string(name) + " needs milliseconds from 0 to 10000, not " + quoted(value);
    } else if (!number || *number < 0.0 || *number > 1.0) {
        return std::string(name) + " needs a fraction from 0 to 1, not " + quoted(value);
    }
    const std::size_t index = static_cast<std::size_t>(&setting - ImpairmentSettings);
    values.values[static_cast<int>(scope)][index] = *number;
    return {};
}

// Applies one option other than an impairment; an empty string on success, otherwise the message.
std::string applyOption(std::string_view name, std::string_view value, RelayOptions& options,
                        bool& serverGiven) {
    if (name == "--listen") {
        if (!parseIpv4Endpoint(value, options.listen))
            return "--listen needs ADDRESS:PORT with an IPv4 address, such as 127.0.0.1:40123, not " +
                   quoted(value);
    } else if (name == "--server") {
        if (!parseIpv4Endpoint(value, options.server) || options.server.port == 0)
            return "--server needs ADDRESS:PORT with an IPv4 address and a port from 1 to 65535, such as "
                   "127.0.0.1:40124, not " +
                   quoted(value);
        serverGiven = true;
    } else if (name == "--seed") {
        auto n = parseWhole(value);
        if (!n) return "--seed needs a whole number from 0 to 18446744073709551615, not " + quoted(value);
        options.seed = *n;
    } else if (name == "--impair-for") {
        auto t = parseReal(value);
        if (!t || *t < 0.0 || *t > MostImpairSeconds)
            return "--impair-for needs seconds from 0 to 10000000, not " + quoted(value);
        options.impairForSeconds = *t;
    } else if (name == "--status-every") {
        auto t = parseReal(value);
        if (!t || *t < 0.1 || *t > 3600.0)
            return "--status-every needs seconds from 0.1 to 3600, not " + quoted(value);
        options.statusEverySeconds = *t;
    } else if (name == "--max-clients") {
        auto n = parseWhole(value);
        if (!n || *n < 1 || *n > MostRelayClients)
            return "--max-clients needs a whole number from 1 to 255, not " + quoted(value);
        options.maxClients = static_cast<std::uint32_t>(*n);
    } else if (name == "--idle") {
        auto t = parseReal(value);
        if (!t || *t < 0.1 || *t > 86400.0)
            return "--idle needs seconds from 0.1 to 86400, not " + quoted(value);
        options.idleSeconds = *t;
    } else if (name == "--max-held") {
        auto n = parseWhole(value);
        if (!n || *n < 1 || *n > MostHeldDatagrams)
            return "--max-held needs a whole number from 1 to 16384, not " + quoted(value);
        options.maxHeld = static_cast<std::uint32_t>(*n);
    } else if (name == "--capture") {
        if (value.empty()) return "--capture needs a file name";
        options.capturePath = std::string(value);
    }
    return {};
}

void resolveImpairments(const ImpairmentValues& given, RelayOptions& options) {
    for (std::size_t i = 0; i < ImpairmentSettingCount; ++i) {
        const std::optional<double>& both = given.values[static_cast<int>(Scope::Both)][i];
        const std::optional<double>& up = given.values[static_cast<int>(Scope::Up)][i];
        const std::optional<double>& down = given.values[static_cast<int>(Scope::Down)][i];
        options.up.*ImpairmentSettings[i].field = up ? *up : both.value_or(0.0);
        options.down.*ImpairmentSettings[i].field = down ? *down : both.value_or(0.0);
    }
}

// The relay would send its own datagrams to itself: the same port on the same or a wildcard address.
bool wouldRelayToItself(const Ipv4Endpoint& listen, const Ipv4Endpoint& server) {
    return listen.port == server.port &&
           (listen.address == server.address || listen.address == 0 || server.address == 0);
}

RelayOptionsResult failure(std::string message) {
    return RelayOptionsResult{CommandLineAction::Error, {}, std::move(message)};
}

}  // namespace

RelayOptionsResult parseRelayOptions(std::span<const char* const> args) {
    RelayOptionsResult result{informationRequested(args), {}, {}};
    if (result.action != CommandLineAction::Run) return result;
    ImpairmentValues impairments;
    bool serverGiven = false;
    auto known = [](std::string_view name) {
        Scope scope = Scope::Both;
        return findImpairmentSetting(name, scope) != nullptr || isOtherOption(name);
    };
    auto apply = [&](std::string_view name, std::string_view value) {
        Scope scope = Scope::Both;
        const ImpairmentSetting* setting = findImpairmentSetting(name, scope);
        return setting != nullptr ? applyImpairment(name, *setting, scope, value, impairments)
                                  : applyOption(name, value, result.options, serverGiven);
    };
    if (std::string message = takeValuedOptions(args, known, apply); !message.empty()) {
        return failure(std::move(message));
    }
    if (!serverGiven) return failure("--server is required: the game server's ADDRESS:PORT");
    if (wouldRelayToItself(result.options.listen, result.options.server)) {
        return failure("--server " + formatIpv4Endpoint(result.options.server) +
                       " is where the relay listens (--listen " + formatIpv4Endpoint(result.options.listen) +
                       "): run the server on another port");
    }
    resolveImpairments(impairments, result.options);
    return result;
}

std::string relayUsageText() {
    return "Usage: brassmoor-relay --server ADDRESS:PORT [options]\n"
           "Relays UDP datagrams between clients and a game server, impairing them on the way: each\n"
           "client's datagrams go on to the server from a socket of the relay's own for that client,\n"
           "and the server's replies on that socket go back to the client.\n"
           "\n"
           "  --listen ADDRESS:PORT  where clients send (default 0.0.0.0:40123; port 0: any free port)\n"
           "  --server ADDRESS:PORT  the game server (required)\n"
           "\n"
           "Impairments, for both directions (defaults 0: a clean relay):\n"
           "  --loss FRACTION        datagrams lost, 0 to 1\n"
           "  --duplicate FRACTION   datagrams sent twice, each copy with its own delay\n"
           "  --reorder FRACTION     datagrams held back until just after the next one of the same\n"
           "                         client and direction (at most 100 ms longer when none follows)\n"
           "  --truncate FRACTION    datagrams cut to a random shorter length, 0 included\n"
           "  --corrupt FRACTION     datagrams with 1 to 4 bytes changed, the length kept\n"
           "  --delay MS             milliseconds each datagram is held, 0 to 10000\n"
           "  --jitter MS            the delay varies uniformly by up to this much either way, never\n"
           "                         below 0 in all\n"
           "  --up-NAME VALUE        any of the seven for client to server alone (--up-loss 0.1)\n"
           "  --down-NAME VALUE      any of the seven for server to client alone (--down-delay 50);\n"
           "                         these beat the both-directions value\n"
           "\n"
           "  --seed N               seed of every random choice (default 1): a seed repeats a run\n"
           "  --impair-for SECONDS   after this long every impairment, delay included, is off\n"
           "                         (default: impair for the whole run); SIGUSR1 turns them off too,\n"
           "                         where there is one (not on Windows)\n"
           "  --status-every SECONDS between status lines (default 5)\n"
           "  --max-clients N        clients relayed at once, 1 to 255 (default 64)\n"
           "  --idle SECONDS         forget a client silent this long (default 30)\n"
           "  --max-held N           datagrams held back at once, 1 to 16384 (default 1024)\n"
           "  --capture FILE         write every datagram received and sent, on both sides, to FILE\n"
           "                         as pcap (Wireshark, tshark, brassmoor-replay read it)\n"
           "  --help                 print this and exit\n"
           "  --version              print the version and exit\n"
           "\n"
           "Datagrams longer than 4096 bytes are dropped. A status line of counters per direction\n"
           "is printed every few seconds and at exit. Stops cleanly on SIGINT or SIGTERM.\n";
}

}  // namespace brassmoor
