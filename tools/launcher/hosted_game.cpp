// The hosted game's thread: serveOnce over and over until told to stop, the latest info published
// after each tick for the owner's thread.
#include "hosted_game.h"

#include <functional>

#include "local_networks.h"
#include "socket_address.h"

namespace brassmoor {

namespace {

void publishInfo(HostedGame& game) {
    ServerInfo info = currentServerInfo(game.server);
    const std::lock_guard<std::mutex> held(game.infoLock);
    game.info = std::move(info);
}

void serve(HostedGame& game) {
    std::uint64_t published = game.server.ticks;
    while (!game.stop.load()) {
        if (!serveOnce(game.server)) {
            // It would fail again at once: the owner hears of it and closes the server.
            game.failed.store(true);
            return;
        }
        if (game.server.ticks != published) {
            published = game.server.ticks;
            publishInfo(game);
        }
    }
}

}  // namespace

HostedGameSetup practiceGame() {
    HostedGameSetup setup{HostedKind::Practice, ServerOptions{}};
    setup.options.bindAddress = "127.0.0.1";
    setup.options.port = GamePort;
    setup.options.bots = PracticeBots;
    return setup;
}

HostedGameSetup lanGame(std::uint32_t bots, const std::string& name) {
    HostedGameSetup setup{HostedKind::Lan, ServerOptions{}};
    setup.options.bindAddress = "0.0.0.0";
    setup.options.port = GamePort;
    setup.options.bots = bots;
    setup.options.name = name;
    return setup;
}

bool startHostedGame(const HostedGameSetup& setup, std::FILE* log, HostedGame& game, std::string& error) {
    std::string why;
    if (!openServer(setup.options, log, game.server, why)) {
        // Whatever holds the port, a game already hosted here is what a player most likely meets.
        error = std::string(setup.kind == HostedKind::Practice ? "cannot start a practice game"
                                                               : "cannot host a LAN game") +
                " on UDP port " + std::to_string(setup.options.port) + " (" + why +
                "); if a game already runs on this computer, join it instead";
        return false;
    }
    sockaddr_in local{};
    game.local = localEndpoint(game.server.socket, local) ? toIpv4Endpoint(local) : game.server.local;
    game.kind = setup.kind;
    game.stop.store(false);
    game.failed.store(false);
    publishInfo(game);
    game.thread = std::thread(serve, std::ref(game));
    return true;
}

ServerInfo hostedGameInfo(HostedGame& game) {
    const std::lock_guard<std::mutex> held(game.infoLock);
    return game.info;
}

bool hostedGameFailed(const HostedGame& game) {
    return game.failed.load();
}

void stopHostedGame(HostedGame& game) {
    if (!game.thread.joinable()) return;
    game.stop.store(true);
    game.thread.join();
    closeServer(game.server);
}

std::string hostedGameNews(const HostedGameSetup& setup) {
    const std::uint32_t bots = setup.options.bots;
    if (setup.kind == HostedKind::Practice) {
        return "starting a practice game against " + std::to_string(bots) +
               " simulated players on this computer";
    }
    std::string addresses;
    for (const LocalNetwork& network : localNetworks()) {
        addresses += (addresses.empty() ? "" : ", ") + formatIpv4Address(network.address);
    }
    if (addresses.empty()) {
        return "hosting a game with " + std::to_string(bots) +
               " simulated players; this computer has no network address, so only it can join";
    }
    return "hosting a LAN game with " + std::to_string(bots) +
           " simulated players: other players run 'brassmoor-play' (it finds this game) or join one of these "
           "addresses: " +
           addresses;
}

}  // namespace brassmoor
