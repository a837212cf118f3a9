// A game this launcher hosts, the practice game or a LAN game: the server loop on a thread of its
// own, so that nothing its owner's thread does (a window dragged or resized, a stalled swap, a
// blocking write of the game's errors) holds up a tick.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "ipv4_endpoint.h"
#include "launcher_options.h"
#include "server_info.h"
#include "server_loop.h"

namespace brassmoor {

enum class HostedKind {
    Practice,  // on 127.0.0.1 alone: nobody else can join it
    Lan,       // on every address of this computer
};

struct HostedGameSetup {
    HostedKind kind = HostedKind::Practice;
    ServerOptions options;
};

// A practice game against PracticeBots simulated players, or a LAN game with `bots` of them under
// `name` (empty: this computer's host name); both on GamePort.
HostedGameSetup practiceGame();
HostedGameSetup lanGame(std::uint32_t bots, const std::string& name);

struct HostedGame {
    HostedKind kind = HostedKind::Practice;
    Ipv4Endpoint local;  // where it listens: with port 0 asked, the port the system chose
    Server server;       // its thread's alone while that runs
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> failed{false};  // waiting for datagrams failed, which ended its thread
    std::mutex infoLock;
    ServerInfo info;  // what an info answer tells about it, as of its latest tick
};

// Opens the server (its lines go to `log` when not null) and serves it on its thread. False, with
// `error` set to the line the player reads, when it cannot open; nothing is left open then.
bool startHostedGame(const HostedGameSetup& setup, std::FILE* log, HostedGame& game, std::string& error);

// What an info answer tells about it now, taken from its thread under the lock.
ServerInfo hostedGameInfo(HostedGame& game);

// True once it stopped by itself because waiting for datagrams failed; stopHostedGame still closes it.
bool hostedGameFailed(const HostedGame& game);

// Ends its thread (at its next wake-up, within a tick) and closes the server.
void stopHostedGame(HostedGame& game);

// What the player is told as it starts: the practice game's simulated players, or the addresses
// other players join a LAN game at.
std::string hostedGameNews(const HostedGameSetup& setup);

}  // namespace brassmoor
