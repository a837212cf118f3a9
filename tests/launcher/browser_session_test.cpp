// The launcher's session without its window: one game at a time whatever order the actions come in,
// and a hosted game that keeps its own time whatever the owner's thread does.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "browser_session.h"
#include "monotonic_clock.h"
#include "net/datagram.h"
#include "socket_address.h"

namespace brassmoor {
namespace {

// This process's children, ended or not: every game started and not yet waited for.
std::size_t childCount() {
    std::size_t count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream listed(task.path() / "children");
        for (std::string child; listed >> child;)
            ++count;
    }
    return count;
}

TEST(BrowserSession, ATypedJoinLookedUpWhileAGameCouldStartLeavesOneGameAndNoneAfterClosing) {
    char made[] = "/tmp/browser-session-test.XXXXXX";
    ASSERT_NE(::mkdtemp(made), nullptr);
    const std::string folder = made;
    // No search is opened, so nothing leaves this computer; the session's files stay in the folder.
    BrowserSession session;
    session.program.path = folder + "/brassmoor";
    std::ofstream(session.program.path) << "#!/bin/sh\nexec sleep 60\n";
    ::chmod(session.program.path.c_str(), 0755);
    session.folders = UserFolders{folder + "/config", folder + "/state"};
    session.model.own = projectVersion();
    ServerInfo listed;
    listed.instance = 7;
    listed.versionMajor = session.model.own.major;
    listed.versionMinor = session.model.own.minor;
    session.model.rows.push_back(BrowserRow{Ipv4Endpoint{0x7F000002, GamePort}, listed});
    session.model.selected = 7;

    joinTyped(session, "127.0.0.1");
    joinSelected(session);  // while the typed name is looked up: it waits its turn
    for (const double deadline = monotonicSeconds() + 10.0;
         session.joining && monotonicSeconds() < deadline;) {
        stepBrowserSession(session, monotonicSeconds(), 10);
    }
    ASSERT_FALSE(session.joining.has_value());
    EXPECT_EQ(childCount(), 1u) << "one game, the typed address's";
    closeBrowserSession(session);
    EXPECT_EQ(childCount(), 0u) << "every game ended and waited for";
    std::filesystem::remove_all(folder);
}

TEST(HostedGame, KeepsSendingSnapshotsWhileItsOwnersThreadIsHeldForTwoSeconds) {
    HostedGameSetup setup = lanGame(0, "held");
    setup.options.bindAddress = "127.0.0.1";
    setup.options.port = 0;  // the system picks a free one
    HostedGame game;
    std::string error;
    ASSERT_TRUE(startHostedGame(setup, nullptr, game, error)) << error;
    ASSERT_TRUE(startSocketLibrary());
    const SocketHandle player = openUdpSocket();
    makeNonBlocking(player);
    const auto pose = encodePoseDatagram(PoseDatagram{1.0f, 1.6f, 2.0f, 0.0f, 0.0f});
    // The owner's thread only plays a client for two seconds: nothing else of the game is stepped.
    int snapshots = 0;
    for (const double end = monotonicSeconds() + 2.0; monotonicSeconds() < end;) {
        sendDatagram(player, pose.data(), static_cast<int>(pose.size()), toSocketAddress(game.local));
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
        std::uint8_t bytes[ReceiveBufferSize];
        SnapshotDatagram snapshot{};
        for (int length; (length = receiveDatagram(player, bytes, sizeof bytes)) >= 0;) {
            snapshots += decodeSnapshotDatagram(std::span(bytes, std::size_t(length)), snapshot) ? 1 : 0;
        }
    }
    EXPECT_GE(snapshots, 30) << "about 30 a second are sent: half that is on time on a loaded machine";
    EXPECT_EQ(hostedGameInfo(game).clients, 1u) << "what the list reads follows the game";
    closeSocket(player);
    stopSocketLibrary();
    stopHostedGame(game);
}

}  // namespace
}  // namespace brassmoor
