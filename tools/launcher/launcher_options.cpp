// brassmoor-play's command line.
#include "launcher_options.h"

#include <optional>
#include <string_view>

#include "ipv4_endpoint.h"
#include "list_announcement.h"
#include "option_values.h"
#include "server_info.h"

namespace brassmoor {

namespace {

// The same bound as the server's --bots.
constexpr std::uint32_t MostHostedBots = 10000;
// As many as the server takes.
constexpr std::size_t MostListServers = 8;

LauncherOptionsResult failure(std::string message) {
    return LauncherOptionsResult{CommandLineAction::Error, {}, std::move(message)};
}

}  // namespace

LauncherOptionsResult parseLauncherOptions(std::span<const char* const> args) {
    LauncherOptionsResult result{informationRequested(args), {}, {}};
    if (result.action != CommandLineAction::Run) return result;
    LauncherOptions& options = result.options;
    bool modeGiven = false;
    bool botsGiven = false;
    bool nameGiven = false;
    auto takeMode = [&](LaunchMode mode) {
        if (modeGiven) return false;
        options.mode = mode;
        modeGiven = true;
        return true;
    };

    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        auto [name, value] = splitOptionArgument(arg);
        if (name == "--internet") {
            if (value) return failure("--internet takes no value");
            options.internet = true;
        } else if (name == "--list-server") {
            if (!value) {
                if (i + 1 >= args.size()) return failure("--list-server needs a URL");
                value = std::string_view(args[++i]);
            }
            std::string why;
            if (!checkListServerUrl(*value, why))
                return failure("--list-server " + why + ", not " + quoted(*value));
            if (options.listServers.size() >= MostListServers) {
                return failure("--list-server is taken at most " + std::to_string(MostListServers) +
                               " times");
            }
            options.listServers.emplace_back(*value);
        } else if (name == "--host" || name == "--list" || name == "--quick") {
            if (value) return failure(std::string(name) + " takes no value");
            const LaunchMode mode = name == "--host"   ? LaunchMode::Host
                                    : name == "--list" ? LaunchMode::List
                                                       : LaunchMode::FindOrPractice;
            if (!takeMode(mode)) {
                return failure("give one of ADDRESS, --host, --list and --quick, not " + quoted(arg) +
                               " as well");
            }
        } else if (name == "--bots") {
            if (!value) {
                if (i + 1 >= args.size()) return failure("--bots needs a value");
                value = std::string_view(args[++i]);
            }
            const std::optional<std::uint64_t> bots = parseWhole(*value);
            if (!bots || *bots > MostHostedBots) {
                return failure("--bots needs a whole number from 0 to 10000, not " + quoted(*value));
            }
            options.bots = static_cast<std::uint32_t>(*bots);
            botsGiven = true;
        } else if (name == "--name") {
            if (!value) {
                if (i + 1 >= args.size()) return failure("--name needs a value");
                value = std::string_view(args[++i]);
            }
            options.name = sanitiseServerName(*value);
            if (options.name.empty() && !value->empty()) {
                return failure("--name needs printable text, not only control characters or spaces");
            }
            nameGiven = true;
        } else if (arg.starts_with("-")) {
            return failure("unknown option " + quoted(name));
        } else {
            std::uint32_t address = 0;
            if (!parseIpv4Address(arg, address)) {
                return failure(quoted(arg) + " is not an IPv4 address such as 192.168.1.20");
            }
            if (!takeMode(LaunchMode::Join)) {
                return failure("give one of ADDRESS, --host, --list and --quick, not " + quoted(arg) +
                               " as well");
            }
            options.address = std::string(arg);
        }
    }
    if (botsGiven && options.mode != LaunchMode::Host) return failure("--bots goes with --host");
    if (nameGiven && options.mode != LaunchMode::Host) return failure("--name goes with --host");
    if (options.internet && options.mode != LaunchMode::Host) return failure("--internet goes with --host");
    return result;
}

std::string launcherUsageText() {
    return "Usage: brassmoor-play [ADDRESS | --host [--bots N] [--name TEXT] [--internet] | --list | "
           "--quick]\n"
           "                      [--list-server URL]...\n"
           "Starts Brassmoor. Without an argument it opens a window listing the games it finds on this\n"
           "computer, on the local networks (by broadcast), at addresses joined before and on the\n"
           "Internet (from list servers, each game asked by this program itself), refreshed every few\n"
           "seconds: join one (Enter, a double-click or Join), type an address or a computer's name,\n"
           "start a practice game against 6 simulated players, or host a game, for the local networks\n"
           "or listed on the Internet too. Arrow keys move the selection; Escape closes the window.\n"
           "Games of another version are greyed out.\n"
           "\n"
           "  ADDRESS      join the game at this IPv4 address, as 'brassmoor ADDRESS' does\n"
           "  --host       host a game: a server on every network of this computer (UDP 40123)\n"
           "               and the game joining it; prints the addresses other players can use\n"
           "  --bots N     with --host: simulated players in the hosted game, 0 to 10000 (default 0)\n"
           "  --name TEXT  with --host: the name other players' launchers show for the hosted game\n"
           "               (default: the computer's host name), printable UTF-8 cut to 48 bytes\n"
           "  --internet   with --host: list the game on the Internet too: the home router is asked\n"
           "               (UPnP IGD, NAT-PMP) to forward UDP 40123 here while the game is hosted, and\n"
           "               the game is announced to each list server; prints what each of them says\n"
           "  --list-server URL\n"
           "               a list server (http:// or https://), up to 8: the window and --list read\n"
           "               the Internet's games from it too, besides those in\n"
           "               $XDG_CONFIG_HOME/brassmoor/list-servers and /etc/brassmoor/list-servers;\n"
           "               --internet announces to them, and the window offers the first for its own\n"
           "               'List it on the Internet'\n"
           "  --list       print the games found in about a second, one a line (address, players,\n"
           "               clients, simulated players, the cap on clients, version, ping, name, and\n"
           "               found=local, lan, remembered or internet), and exit; the lists' games once\n"
           "               the lists and the games have answered (15 s at most)\n"
           "  --quick      no window: join the busiest game found, or start a practice game\n"
           "  --help       print this and exit\n"
           "  --version    print the version and exit\n"
           "\n"
           "The game program (brassmoor) is looked for beside this program, then on PATH; its exit\n"
           "status is this program's, except in the window. A game hosted here (practice or LAN) runs in\n"
           "this program and stops when the game's window closes (from the window: when the launcher\n"
           "closes or Stop hosting is pressed) or this program is stopped (Ctrl-C). Failures are shown\n"
           "in the window, printed on standard error and added to the log,\n"
           "$XDG_STATE_HOME/brassmoor/brassmoor-play.log; joined addresses, the list servers added in\n"
           "the window and its filter are kept in $XDG_CONFIG_HOME/brassmoor.\n";
}

}  // namespace brassmoor
