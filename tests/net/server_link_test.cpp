// The server link over real UDP sockets on the loopback interface.
//
// The test plays the server with its own socket. The link always aims at port 40123;
// since serverEndpoint is a plain struct, a test may point it at its own ephemeral port
// after open() (that is the only reason the tests touch it), so no case needs
// the fixed port to be free.
#include "net/server_link.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "snapshot_bytes.h"

namespace brassmoor {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::appendPeer;
using test::snapshotBytes;

constexpr int WaitMs = 5000;  // deadline for something that should arrive

// A UDP socket of the test's own, bound to the given address and port (0 for any free one).
struct TestSocket {
    int fd = -1;
    sockaddr_in local{};
    int bindError = 0;

    TestSocket(in_addr_t address, std::uint16_t port) {
        fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        local.sin_addr.s_addr = htonl(address);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
            bindError = errno;
            return;
        }
        socklen_t length = sizeof(local);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    }
    ~TestSocket() {
        ::close(fd);
    }
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;

    void sendTo(const Bytes& bytes, const sockaddr_in& to) const {
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }
};

bool waitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLIN) != 0;
}

// Takes one datagram from a test socket, or an empty vector when none came in time.
Bytes receiveWithin(const TestSocket& socket, int timeoutMs, sockaddr_in* from = nullptr) {
    if (!waitReadable(socket.fd, timeoutMs)) {
        return {};
    }
    Bytes buffer(ReceiveBufferSize);
    sockaddr_in sender{};
    socklen_t length = sizeof(sender);
    const ssize_t received =
        ::recvfrom(socket.fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&sender), &length);
    buffer.resize(received < 0 ? 0 : static_cast<std::size_t>(received));
    if (from != nullptr) {
        *from = sender;
    }
    return buffer;
}

struct Console {
    std::string out;
    std::string err;
};

class ServerLinkTest : public ::testing::Test {
protected:
    ServerLink link;
    bool opened = false;

    void TearDown() override {
        if (opened) {
            link.close();
        }
    }

    Console openLink(const char* text) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        opened = link.open(text);
        Console console;
        console.out = testing::internal::GetCapturedStdout();
        console.err = testing::internal::GetCapturedStderr();
        return console;
    }

    // Opens the link towards `server` and sends one pose, so the link's socket gets its
    // local port; returns where that pose came from, for the server's replies.
    sockaddr_in openAndIntroduce(const TestSocket& server) {
        openLink("127.0.0.1");
        EXPECT_TRUE(opened);
        link.serverEndpoint.sin_port = server.local.sin_port;
        link.sendPoseIfDue(1.0f, {0.0f, 0.0f, 1.7f, 0.0f, 0.0f});
        sockaddr_in client{};
        EXPECT_EQ(receiveWithin(server, WaitMs, &client).size(), PoseDatagramSize);
        return client;
    }

    // Drains until `id` shows up in the table or the deadline passes.
    void drainUntilPresent(PeerTable& table, std::uint32_t id) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMs);
        while (!table.contains(id) && std::chrono::steady_clock::now() < deadline) {
            waitReadable(link.socketHandle, 100);
            link.drainSnapshots(table);
        }
    }
};

TEST_F(ServerLinkTest, OpenPrintsConnectingLineAndAimsAtPort40123) {
    const Console console = openLink("127.0.0.1");
    ASSERT_TRUE(opened);
    EXPECT_EQ(console.out, "connecting to 127.0.0.1:40123\n");
    EXPECT_EQ(console.err, "");
    EXPECT_TRUE(link.hasServerAddress);
    EXPECT_NE(link.socketHandle, InvalidSocketHandle);
    EXPECT_NE(::fcntl(link.socketHandle, F_GETFL) & O_NONBLOCK, 0);

    const sockaddr_in& endpoint = link.serverEndpoint;
    EXPECT_EQ(endpoint.sin_family, AF_INET);
    const auto* port = reinterpret_cast<const std::uint8_t*>(&endpoint.sin_port);
    EXPECT_EQ(port[0], 0x9C);  // 40123 = 0x9CBB, network order
    EXPECT_EQ(port[1], 0xBB);
    const auto* address = reinterpret_cast<const std::uint8_t*>(&endpoint.sin_addr);
    EXPECT_EQ(Bytes(address, address + 4), Bytes({127, 0, 0, 1}));
    for (const char padding : endpoint.sin_zero) {
        EXPECT_EQ(padding, 0);
    }
}

TEST_F(ServerLinkTest, DuePoseArrivesByteForByte) {
    TestSocket server(INADDR_LOOPBACK, 0);
    ASSERT_EQ(server.bindError, 0);
    openLink("127.0.0.1");
    ASSERT_TRUE(opened);
    link.serverEndpoint.sin_port = server.local.sin_port;

    link.sendPoseIfDue(0.02f, {9.0f, 9.0f, 9.0f, 9.0f, 9.0f});  // not due yet
    link.sendPoseIfDue(0.02f, {12.34f, -56.78f, 1.7f, -0.7854f, 1.2345f});
    EXPECT_EQ(link.sendAccumulator, 0.0);

    const Bytes expected = {'K',  'V',  '0',  '1',  0x01, 0xA4, 0x70, 0x45, 0x41, 0xB8, 0x1E, 0x63, 0xC2,
                            0x9A, 0x99, 0xD9, 0x3F, 0xF9, 0x0F, 0x49, 0xBF, 0x19, 0x04, 0x9E, 0x3F};
    // The pose that was not due must not have gone out first.
    EXPECT_EQ(receiveWithin(server, WaitMs), expected);
}

TEST_F(ServerLinkTest, DrainAppliesTheLastSnapshotFromTheServer) {
    TestSocket server(INADDR_LOOPBACK, 0);
    ASSERT_EQ(server.bindError, 0);
    const sockaddr_in client = openAndIntroduce(server);

    server.sendTo(snapshotBytes(7, {{7, 0, 0, 1.7f, 0}, {3, 1, 1, 1.7f, 0}, {4, 2, 2, 1.7f, 0}}), client);
    server.sendTo(snapshotBytes(7, {{7, 0, 0, 1.7f, 0}, {5, 6.5f, -2.25f, 1.7f, 0.5f}}), client);

    PeerTable table = {{1, {0, 0, 0, 0}}};
    drainUntilPresent(table, 5);
    ASSERT_EQ(table.size(), 1u);
    ASSERT_TRUE(table.contains(5));
    EXPECT_EQ(table.at(5).x, 6.5f);
    EXPECT_EQ(table.at(5).y, -2.25f);
    EXPECT_EQ(table.at(5).z, 1.7f);
    EXPECT_EQ(table.at(5).yaw, 0.5f);
}

TEST_F(ServerLinkTest, EmptyDatagramEndsTheDrainAndTheSnapshotWaitsForTheNext) {
    TestSocket server(INADDR_LOOPBACK, 0);
    ASSERT_EQ(server.bindError, 0);
    const sockaddr_in client = openAndIntroduce(server);

    server.sendTo(Bytes{}, client);
    server.sendTo(snapshotBytes(1, {{9, 1, 2, 1.7f, 0}}), client);

    PeerTable table = {{42, {0, 0, 0, 0}}};
    ASSERT_TRUE(waitReadable(link.socketHandle, WaitMs));
    link.drainSnapshots(table);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.contains(42));

    ASSERT_TRUE(waitReadable(link.socketHandle, WaitMs));
    link.drainSnapshots(table);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.contains(9));
}

TEST_F(ServerLinkTest, DrainWithNothingQueuedReturnsAndKeepsTheTable) {
    openLink("127.0.0.1");
    ASSERT_TRUE(opened);
    // Nothing has been sent, so the socket has no local port yet: every receive fails at once.
    PeerTable table = {{3, {1, 2, 3, 4}}};
    link.drainSnapshots(table);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.contains(3));
}

TEST_F(ServerLinkTest, TextThatIsNoAddressIsReportedAndNothingIsEverSent) {
    const Console console = openLink("abc");
    ASSERT_TRUE(opened);
    EXPECT_EQ(console.out, "connecting to abc:40123\n");
    EXPECT_EQ(console.err, "not an IPv4 address: abc (no poses will be sent)\n");
    EXPECT_FALSE(link.hasServerAddress);

    // The failed conversion leaves the address all zero, which Linux delivers locally, so a
    // socket on every local address hears any stray pose. It listens on a port of its own
    // rather than 40123, which a real server on this machine may hold.
    TestSocket listener(INADDR_ANY, 0);
    ASSERT_EQ(listener.bindError, 0);
    link.serverEndpoint.sin_port = listener.local.sin_port;

    // Time still gathers and each turn is used up, so the cadence is the same as with a server.
    link.sendPoseIfDue(0.02f, {1.0f, 2.0f, 1.7f, 0.0f, 0.0f});
    EXPECT_EQ(link.sendAccumulator, static_cast<double>(0.02f));
    for (int frame = 0; frame < 3; ++frame) {
        link.sendPoseIfDue(0.5f, {1.0f, 2.0f, 1.7f, 0.0f, 0.0f});
        EXPECT_EQ(link.sendAccumulator, 0.0);
    }
    EXPECT_FALSE(waitReadable(listener.fd, 300));

    // Control: the same endpoint without the guard does reach the listener, so the
    // silence above means the link held back, not that the listener could not hear.
    link.hasServerAddress = true;
    link.sendPoseIfDue(0.5f, {1.0f, 2.0f, 1.7f, 0.0f, 0.0f});
    EXPECT_EQ(receiveWithin(listener, WaitMs).size(), PoseDatagramSize);
}

// POSIX hands over the first 4096 bytes of a longer datagram and throws the rest away; those
// bytes are then tested like any other datagram.
TEST_F(ServerLinkTest, OversizedDatagramIsCutToTheBufferAndUsed) {
    TestSocket server(INADDR_LOOPBACK, 0);
    ASSERT_EQ(server.bindError, 0);
    const sockaddr_in client = openAndIntroduce(server);
    // 250 entries announced and carried, ids 100 and up: 5011 bytes, of which the first 4096
    // hold 204 whole entries.
    Bytes oversized = snapshotBytes(1, 250);
    for (std::uint32_t i = 0; i < 250; ++i) {
        appendPeer(oversized, {100 + i, static_cast<float>(i), 0, 1.7f, 0});
    }
    ASSERT_EQ(oversized.size(), 5011u);

    server.sendTo(oversized, client);
    ASSERT_TRUE(waitReadable(link.socketHandle, WaitMs));
    std::uint8_t buffer[ReceiveBufferSize];
    ASSERT_EQ(receiveDatagram(link.socketHandle, buffer, sizeof(buffer)), 4096);
    EXPECT_EQ(Bytes(buffer, buffer + 4096), Bytes(oversized.begin(), oversized.begin() + 4096));
    EXPECT_LT(receiveDatagram(link.socketHandle, buffer, sizeof(buffer)), 0);  // the rest is gone

    server.sendTo(oversized, client);
    PeerTable table;
    drainUntilPresent(table, 100);
    EXPECT_EQ(table.size(), 204u);
    EXPECT_TRUE(table.contains(303));
    EXPECT_FALSE(table.contains(304));
}

TEST(SocketLayer, LastSocketErrorDescribesTheFailedCall) {
    TestSocket taken(INADDR_LOOPBACK, 0);
    ASSERT_EQ(taken.bindError, 0);
    const SocketHandle socket = openUdpSocket();
    ASSERT_NE(socket, InvalidSocketHandle);
    EXPECT_FALSE(bindUdpSocket(socket, taken.local));
    EXPECT_EQ(lastSocketError(), std::strerror(EADDRINUSE));
    closeSocket(socket);
}

TEST(SocketLayer, ReceiveWithNothingQueuedFailsAtOnce) {
    ASSERT_TRUE(startSocketLibrary());
    const SocketHandle socket = openUdpSocket();
    ASSERT_NE(socket, InvalidSocketHandle);
    makeNonBlocking(socket);
    sockaddr_in local{};
    ASSERT_TRUE(makeIpv4Endpoint("127.0.0.1", 0, local));
    ASSERT_TRUE(bindUdpSocket(socket, local));

    std::uint8_t buffer[ReceiveBufferSize];
    EXPECT_LT(receiveDatagram(socket, buffer, sizeof(buffer)), 0);
    sockaddr_in from{};
    EXPECT_LT(receiveDatagramFrom(socket, buffer, sizeof(buffer), from), 0);
    closeSocket(socket);
    stopSocketLibrary();
}

TEST(SocketLayer, EndpointFromTextIsZeroedAndInNetworkOrder) {
    sockaddr_in endpoint;
    std::memset(&endpoint, 0xAB, sizeof(endpoint));
    ASSERT_TRUE(makeIpv4Endpoint("10.1.2.3", 0x1234, endpoint));
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&endpoint);
    EXPECT_EQ(endpoint.sin_family, AF_INET);
    const auto* port = reinterpret_cast<const std::uint8_t*>(&endpoint.sin_port);
    EXPECT_EQ(Bytes(port, port + 2), Bytes({0x12, 0x34}));
    const auto* address = reinterpret_cast<const std::uint8_t*>(&endpoint.sin_addr);
    EXPECT_EQ(Bytes(address, address + 4), Bytes({10, 1, 2, 3}));
    for (std::size_t i = offsetof(sockaddr_in, sin_zero); i < sizeof(endpoint); ++i) {
        EXPECT_EQ(raw[i], 0) << "byte " << i;
    }

    for (const char* notAddress : {"abc", "", "1.2.3", "256.0.0.1", "::1", "1.2.3.4 "}) {
        EXPECT_FALSE(makeIpv4Endpoint(notAddress, 40123, endpoint)) << '"' << notAddress << '"';
    }
}

}  // namespace
}  // namespace brassmoor
