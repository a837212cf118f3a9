// A game hosted by the launcher keeps its own time: its thread ticks whatever its owner's thread does.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "hosted_game.h"
#include "monotonic_clock.h"
#include "net/datagram.h"
#include "socket_address.h"

namespace brassmoor {
namespace {

TEST(HostedGame, KeepsSendingSnapshotsWhileItsOwnersThreadIsHeldForTwoSeconds) {
    HostedGameSetup setup = lanGame(0, "held");
    setup.options.bindAddress = "127.0.0.1";
    setup.options.port = 0;  // the system picks a free one
    HostedGame game;
    std::string error;
    ASSERT_TRUE(startHostedGame(setup, nullptr, game, error)) << error;
    ASSERT_NE(game.local.port, 0);
    ASSERT_TRUE(startSocketLibrary());
    const SocketHandle player = openUdpSocket();
    makeNonBlocking(player);
    const auto pose = encodePoseDatagram(PoseDatagram{1.0f, 1.6f, 2.0f, 0.0f, 0.0f});

    // This thread, the owner, only plays a client for two seconds: nothing else of the game is stepped.
    int snapshots = 0;
    const double start = monotonicSeconds();
    while (monotonicSeconds() < start + 2.0) {
        sendDatagram(player, pose.data(), static_cast<int>(pose.size()), toSocketAddress(game.local));
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
        std::uint8_t bytes[ReceiveBufferSize];
        SnapshotDatagram snapshot{};
        for (int length; (length = receiveDatagram(player, bytes, sizeof bytes)) >= 0;) {
            if (decodeSnapshotDatagram(std::span(bytes, std::size_t(length)), snapshot)) ++snapshots;
        }
    }
    // About 30 a second are sent: half that is on time even on a loaded machine.
    EXPECT_GE(snapshots, 30) << "snapshots in 2 s";
    EXPECT_EQ(hostedGameInfo(game).clients, 1u) << "what the list reads follows the game";
    closeSocket(player);
    stopSocketLibrary();
    stopHostedGame(game);
}

}  // namespace
}  // namespace brassmoor
