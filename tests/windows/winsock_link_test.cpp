// The server link over the Winsock backend, on real sockets on the loopback interface.
//
// The test plays the server with a socket of its own on 127.0.0.1 and an ephemeral port.
// The link always aims at port 40123; serverEndpoint is a plain struct, so a case may point
// it at the test's port after open() (the only reason the tests touch it).
#include "net/server_link.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "snapshot_bytes.h"

namespace brassmoor {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::snapshotBytes;

constexpr int WaitMs = 5000;  // deadline for something that should arrive

// The test's own hold on the sockets library, so its sockets outlive the link's WSACleanup.
struct WinsockUser {
    bool started = false;
    WinsockUser() {
        WSADATA data;
        started = WSAStartup(0x0202, &data) == 0;
    }
    ~WinsockUser() {
        if (started) {
            WSACleanup();
        }
    }
    WinsockUser(const WinsockUser&) = delete;
    WinsockUser& operator=(const WinsockUser&) = delete;
};

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A UDP socket bound to 127.0.0.1 and a free port; `local` holds the port it got.
struct TestSocket {
    SOCKET handle = INVALID_SOCKET;
    sockaddr_in local = loopback(0);
    int bindError = 0;

    TestSocket() {
        handle = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (handle == INVALID_SOCKET ||
            ::bind(handle, reinterpret_cast<const sockaddr*>(&local), static_cast<int>(sizeof(local))) != 0) {
            bindError = WSAGetLastError();
            return;
        }
        int length = static_cast<int>(sizeof(local));
        ::getsockname(handle, reinterpret_cast<sockaddr*>(&local), &length);
    }
    ~TestSocket() {
        if (handle != INVALID_SOCKET) {
            ::closesocket(handle);
        }
    }
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;

    void sendTo(const Bytes& bytes, const sockaddr_in& to) const {
        ::sendto(handle, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                 reinterpret_cast<const sockaddr*>(&to), static_cast<int>(sizeof(to)));
    }
};

bool waitReadable(SOCKET handle, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &timeout) == 1;
}

// Takes one datagram from a test socket, or an empty vector when none came in time.
Bytes receiveWithin(const TestSocket& socket, int timeoutMs, sockaddr_in* from = nullptr) {
    if (!waitReadable(socket.handle, timeoutMs)) {
        return {};
    }
    Bytes buffer(ReceiveBufferSize);
    sockaddr_in sender{};
    int length = static_cast<int>(sizeof(sender));
    const int received =
        ::recvfrom(socket.handle, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0,
                   reinterpret_cast<sockaddr*>(&sender), &length);
    buffer.resize(received < 0 ? 0 : static_cast<std::size_t>(received));
    if (from != nullptr) {
        *from = sender;
    }
    return buffer;
}

Bytes bytesOf(const void* data, std::size_t size) {
    const auto* first = static_cast<const std::uint8_t*>(data);
    return Bytes(first, first + size);
}

// A receive that blocked would hang the run; with this it fails after a while instead.
void limitBlockingReceives(SOCKET handle) {
    const DWORD limitMs = 2000;
    ::setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limitMs),
                 static_cast<int>(sizeof(limitMs)));
}

struct Console {
    std::string out;
    std::string err;
};

class WinsockLinkTest : public ::testing::Test {
protected:
    WinsockUser winsock;
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
        if (opened) {
            // Every case then fails, instead of hanging, should the socket ever block.
            limitBlockingReceives(link.socketHandle);
        }
        Console console;
        console.out = testing::internal::GetCapturedStdout();
        console.err = testing::internal::GetCapturedStderr();
        return console;
    }

    // Opens the link towards `server` and sends one pose, which gives the link's socket its
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

TEST_F(WinsockLinkTest, OpenMakesASocketAimedAtPort40123OfTheGivenAddress) {
    ASSERT_TRUE(winsock.started);
    const Console console = openLink("127.0.0.1");
    ASSERT_TRUE(opened);
    EXPECT_EQ(console.out, "connecting to 127.0.0.1:40123\n");
    EXPECT_EQ(console.err, "");
    EXPECT_NE(link.socketHandle, INVALID_SOCKET);

    int type = 0;
    int typeLength = static_cast<int>(sizeof(type));
    ASSERT_EQ(
        ::getsockopt(link.socketHandle, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &typeLength), 0);
    EXPECT_EQ(type, SOCK_DGRAM);

    const sockaddr_in& endpoint = link.serverEndpoint;
    EXPECT_EQ(endpoint.sin_family, AF_INET);
    EXPECT_EQ(bytesOf(&endpoint.sin_port, 2), Bytes({0x9C, 0xBB}));  // 40123, network order
    EXPECT_EQ(bytesOf(&endpoint.sin_addr, 4), Bytes({127, 0, 0, 1}));
    EXPECT_EQ(bytesOf(endpoint.sin_zero, sizeof(endpoint.sin_zero)), Bytes(8, 0));
}

TEST_F(WinsockLinkTest, ReceiveWithNothingQueuedReturnsAtOnceWithWouldBlock) {
    TestSocket server;
    ASSERT_EQ(server.bindError, 0);
    openAndIntroduce(server);

    std::uint8_t buffer[ReceiveBufferSize];
    EXPECT_LT(receiveDatagram(link.socketHandle, buffer, static_cast<int>(sizeof(buffer))), 0);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    PeerTable table = {{3, {1, 2, 3, 4}}};
    link.drainSnapshots(table);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table.at(3).yaw, 4.0f);
}

TEST_F(WinsockLinkTest, DrainBeforeTheFirstSendFailsAtOnceAndKeepsTheTable) {
    openLink("127.0.0.1");
    ASSERT_TRUE(opened);
    // Nothing has left the socket, so it has no local port yet and every receive fails.
    std::uint8_t buffer[ReceiveBufferSize];
    EXPECT_LT(receiveDatagram(link.socketHandle, buffer, static_cast<int>(sizeof(buffer))), 0);

    PeerTable table = {{3, {1, 2, 3, 4}}};
    link.drainSnapshots(table);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.contains(3));
}

TEST_F(WinsockLinkTest, DuePoseArrivesByteForByte) {
    TestSocket server;
    ASSERT_EQ(server.bindError, 0);
    openLink("127.0.0.1");
    ASSERT_TRUE(opened);
    link.serverEndpoint.sin_port = server.local.sin_port;

    link.sendPoseIfDue(0.02f, {9.0f, 9.0f, 9.0f, 9.0f, 9.0f});  // not due yet
    link.sendPoseIfDue(0.02f, {12.34f, -56.78f, 1.7f, -0.7854f, 1.2345f});
    EXPECT_EQ(link.sendAccumulator, 0.0);

    const Bytes expected = {'K',  'V',  '0',  '1',  0x01, 0xA4, 0x70, 0x45, 0x41, 0xB8, 0x1E, 0x63, 0xC2,
                            0x9A, 0x99, 0xD9, 0x3F, 0xF9, 0x0F, 0x49, 0xBF, 0x19, 0x04, 0x9E, 0x3F};
    sockaddr_in client{};
    // The pose that was not due must not have gone out first.
    EXPECT_EQ(receiveWithin(server, WaitMs, &client), expected);
    EXPECT_EQ(bytesOf(&client.sin_addr, 4), Bytes({127, 0, 0, 1}));
}

TEST_F(WinsockLinkTest, SnapshotSentBackToThePosesPortIsApplied) {
    TestSocket server;
    ASSERT_EQ(server.bindError, 0);
    const sockaddr_in client = openAndIntroduce(server);

    server.sendTo(snapshotBytes(7, {{7, 0, 0, 1.7f, 0}, {9, 6.5f, -2.25f, 1.7f, 0.5f}, {12, 1, 2, 3, 4}}),
                  client);

    PeerTable table = {{1, {0, 0, 0, 0}}};
    drainUntilPresent(table, 9);
    ASSERT_EQ(table.size(), 2u);
    ASSERT_TRUE(table.contains(9));
    EXPECT_EQ(table.at(9).x, 6.5f);
    EXPECT_EQ(table.at(9).y, -2.25f);
    EXPECT_EQ(table.at(9).z, 1.7f);
    EXPECT_EQ(table.at(9).yaw, 0.5f);
    ASSERT_TRUE(table.contains(12));
    EXPECT_EQ(table.at(12).yaw, 4.0f);
}

TEST_F(WinsockLinkTest, EmptyDatagramEndsTheDrainAndTheSnapshotWaitsForTheNext) {
    TestSocket server;
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

// Winsock reports a datagram longer than the buffer as an error and throws the datagram
// away, so the drain ends there and the link is not stuck on it in later frames.
TEST_F(WinsockLinkTest, OversizedDatagramEndsTheDrainAndIsDiscarded) {
    TestSocket server;
    ASSERT_EQ(server.bindError, 0);
    const sockaddr_in client = openAndIntroduce(server);
    Bytes oversized = snapshotBytes(1, {{5, 1, 1, 1.7f, 0}});
    oversized.resize(5000, 0);

    server.sendTo(oversized, client);
    ASSERT_TRUE(waitReadable(link.socketHandle, WaitMs));
    std::uint8_t buffer[ReceiveBufferSize];
    EXPECT_LT(receiveDatagram(link.socketHandle, buffer, static_cast<int>(sizeof(buffer))), 0);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_LT(receiveDatagram(link.socketHandle, buffer, static_cast<int>(sizeof(buffer))), 0);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    server.sendTo(oversized, client);
    server.sendTo(snapshotBytes(1, {{9, 1, 2, 1.7f, 0}}), client);
    PeerTable table = {{42, {0, 0, 0, 0}}};
    ASSERT_TRUE(waitReadable(link.socketHandle, WaitMs));
    link.drainSnapshots(table);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.contains(42));

    drainUntilPresent(table, 9);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.contains(9));
}

TEST_F(WinsockLinkTest, TextThatIsNoAddressSendsNothing) {
    const Console console = openLink("abc");
    ASSERT_TRUE(opened);
    EXPECT_EQ(console.out, "connecting to abc:40123\n");
    EXPECT_EQ(console.err, "not an IPv4 address: abc (no poses will be sent)\n");
    EXPECT_FALSE(link.hasServerAddress);
    EXPECT_EQ(bytesOf(&link.serverEndpoint.sin_port, 2), Bytes({0x9C, 0xBB}));
    EXPECT_EQ(bytesOf(&link.serverEndpoint.sin_addr, 4), Bytes({0, 0, 0, 0}));

    for (int frame = 0; frame < 3; ++frame) {
        link.sendPoseIfDue(0.5f, {1.0f, 2.0f, 1.7f, 0.0f, 0.0f});
        EXPECT_EQ(link.sendAccumulator, 0.0);
    }
    // A socket that never sent has never been given a local port.
    sockaddr_in local{};
    int localLength = static_cast<int>(sizeof(local));
    EXPECT_NE(::getsockname(link.socketHandle, reinterpret_cast<sockaddr*>(&local), &localLength), 0);
}

TEST_F(WinsockLinkTest, TextThatIsNoAddressSendsNothingEvenToAReachableEndpoint) {
    TestSocket listener;
    ASSERT_EQ(listener.bindError, 0);
    openLink("abc");
    ASSERT_TRUE(opened);
    // Aim at the listener as if the text had converted, so a stray pose would be heard.
    link.serverEndpoint = listener.local;

    link.sendPoseIfDue(0.5f, {1.0f, 2.0f, 1.7f, 0.0f, 0.0f});
    // Control: with the guard lifted the next pose does arrive, and it must be the first one.
    link.hasServerAddress = true;
    link.sendPoseIfDue(0.5f, {3.0f, 2.0f, 1.7f, 0.0f, 0.0f});
    const Bytes first = receiveWithin(listener, WaitMs);
    ASSERT_EQ(first.size(), PoseDatagramSize);
    EXPECT_EQ(Bytes(first.begin() + 5, first.begin() + 9), Bytes({0x00, 0x00, 0x40, 0x40}));  // x = 3
}

// The link takes its own reference on the library and gives it back on close, after the socket.
TEST(WinsockLinkClose, CloseReleasesTheSocketAndTheLibrary) {
    SOCKET closed = INVALID_SOCKET;
    {
        WinsockUser winsock;
        ASSERT_TRUE(winsock.started);
        ServerLink link;
        testing::internal::CaptureStdout();
        ASSERT_TRUE(link.open("127.0.0.1"));
        testing::internal::GetCapturedStdout();
        closed = link.socketHandle;
        link.close();
        EXPECT_EQ(link.socketHandle, INVALID_SOCKET);

        int type = 0;
        int typeLength = static_cast<int>(sizeof(type));
        EXPECT_NE(::getsockopt(closed, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &typeLength), 0);
        EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    }
    // With the test's own reference gone as well, nothing holds the library any more.
    const SOCKET after = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    EXPECT_EQ(after, INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    if (after != INVALID_SOCKET) {
        ::closesocket(after);
    }
}

TEST(WinsockLayer, EndpointFromTextIsZeroedAndInNetworkOrder) {
    WinsockUser winsock;
    ASSERT_TRUE(winsock.started);
    sockaddr_in endpoint;
    std::memset(&endpoint, 0xAB, sizeof(endpoint));
    ASSERT_TRUE(makeIpv4Endpoint("127.1.2.3", 0x1234, endpoint));
    EXPECT_EQ(endpoint.sin_family, AF_INET);
    EXPECT_EQ(bytesOf(&endpoint.sin_port, 2), Bytes({0x12, 0x34}));
    EXPECT_EQ(bytesOf(&endpoint.sin_addr, 4), Bytes({127, 1, 2, 3}));
    EXPECT_EQ(bytesOf(endpoint.sin_zero, sizeof(endpoint.sin_zero)), Bytes(8, 0));

    for (const char* notAddress : {"abc", "", "1.2.3", "256.0.0.1", "::1", "1.2.3.4 "}) {
        EXPECT_FALSE(makeIpv4Endpoint(notAddress, 40123, endpoint)) << '"' << notAddress << '"';
    }
}

TEST(WinsockLayer, LastSocketErrorNamesTheWinsockError) {
    WinsockUser winsock;
    ASSERT_TRUE(winsock.started);
    TestSocket taken;
    ASSERT_EQ(taken.bindError, 0);
    const SocketHandle socket = openUdpSocket();
    ASSERT_NE(socket, InvalidSocketHandle);
    EXPECT_FALSE(bindUdpSocket(socket, taken.local));
    const std::string text = lastSocketError();
    // The system's description when it has one, without its full stop and line end, and the
    // number always: WSAEADDRINUSE.
    const std::string number = "Winsock error 10048";
    if (text != number) {
        EXPECT_TRUE(text.ends_with(" (" + number + ")")) << text;
        EXPECT_EQ(text.find_first_of(".\r\n"), std::string::npos) << text;
    }
    closeSocket(socket);
}

TEST(WinsockLayer, ReceiveFromTellsTheSender) {
    WinsockUser winsock;
    ASSERT_TRUE(winsock.started);
    TestSocket sender;
    ASSERT_EQ(sender.bindError, 0);
    const SocketHandle receiver = openUdpSocket();
    ASSERT_NE(receiver, InvalidSocketHandle);
    makeNonBlocking(receiver);
    limitBlockingReceives(receiver);
    sockaddr_in local{};
    ASSERT_TRUE(makeIpv4Endpoint("127.0.0.1", 0, local));
    ASSERT_TRUE(bindUdpSocket(receiver, local));
    int localLength = static_cast<int>(sizeof(local));
    ASSERT_EQ(::getsockname(receiver, reinterpret_cast<sockaddr*>(&local), &localLength), 0);

    sender.sendTo(Bytes{1, 2, 3}, local);
    ASSERT_TRUE(waitReadable(receiver, WaitMs));
    std::uint8_t buffer[ReceiveBufferSize];
    sockaddr_in from{};
    EXPECT_EQ(receiveDatagramFrom(receiver, buffer, static_cast<int>(sizeof(buffer)), from), 3);
    EXPECT_EQ(Bytes(buffer, buffer + 3), Bytes({1, 2, 3}));
    EXPECT_EQ(from.sin_port, sender.local.sin_port);
    EXPECT_EQ(bytesOf(&from.sin_addr, 4), Bytes({127, 0, 0, 1}));
    closeSocket(receiver);
}

}  // namespace
}  // namespace brassmoor
