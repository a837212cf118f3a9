// The socket layer's wait, through the layer alone, so the same cases run on every backend.
#include "net/socket_layer.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>

namespace brassmoor {
namespace {

// A non-blocking UDP socket bound to 127.0.0.1 and a free port.
struct BoundSocket {
    SocketHandle handle = InvalidSocketHandle;
    sockaddr_in local{};

    BoundSocket() {
        handle = openUdpSocket();
        if (handle == InvalidSocketHandle) return;
        makeNonBlocking(handle);
        makeIpv4Endpoint("127.0.0.1", 0, local);
        if (!bindUdpSocket(handle, local) || !localEndpoint(handle, local)) {
            closeSocket(handle);
            handle = InvalidSocketHandle;
        }
    }
    ~BoundSocket() {
        if (handle != InvalidSocketHandle) closeSocket(handle);
    }
    BoundSocket(const BoundSocket&) = delete;
    BoundSocket& operator=(const BoundSocket&) = delete;
};

// Held for the fixture's whole life: on Winsock no socket can be made before the library starts.
struct SocketLibrary {
    bool started = startSocketLibrary();
    ~SocketLibrary() {
        if (started) stopSocketLibrary();
    }
};

class SocketWait : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library.started);
        ASSERT_NE(a.handle, InvalidSocketHandle);
        ASSERT_NE(b.handle, InvalidSocketHandle);
        ASSERT_NE(sender.handle, InvalidSocketHandle);
    }

    void sendTo(const BoundSocket& to) {
        const std::uint8_t bytes[3] = {1, 2, 3};
        ASSERT_EQ(sendDatagram(sender.handle, bytes, 3, to.local), 3);
    }

    SocketLibrary library;  // first, so it starts before the sockets and stops after them
    BoundSocket a;
    BoundSocket b;
    BoundSocket sender;
    std::array<SocketHandle, 2> both{a.handle, b.handle};
};

TEST_F(SocketWait, TimesOutWithNothingQueued) {
    std::array<bool, 2> readable{true, true};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitForDatagrams(both, 50, readable), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_FALSE(readable[0]);
    EXPECT_FALSE(readable[1]);
}

TEST_F(SocketWait, ReportsOnlyTheSocketWithADatagram) {
    sendTo(b);
    std::array<bool, 2> readable{true, true};
    ASSERT_EQ(waitForDatagrams(both, 5000, readable), 1);
    EXPECT_FALSE(readable[0]);
    EXPECT_TRUE(readable[1]);

    // Taking the datagram off leaves nothing to wait for.
    std::uint8_t buffer[16];
    EXPECT_EQ(receiveDatagram(b.handle, buffer, sizeof buffer), 3);
    EXPECT_EQ(waitForDatagrams(both, 0, readable), 0);
    EXPECT_FALSE(readable[1]);
}

TEST_F(SocketWait, ReportsEverySocketThatIsReady) {
    sendTo(a);
    sendTo(b);
    std::array<bool, 2> readable{false, false};
    // Both datagrams may not have landed by the first look; wait until they have.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitForDatagrams(both, 100, readable) < 2 && std::chrono::steady_clock::now() < deadline) {
    }
    EXPECT_TRUE(readable[0]);
    EXPECT_TRUE(readable[1]);
}

TEST_F(SocketWait, RefusesMoreSocketsThanItCanWatch) {
    std::array<SocketHandle, MaxWaitedSockets + 1> many;
    many.fill(a.handle);
    std::array<bool, MaxWaitedSockets + 1> readable{};
    EXPECT_LT(waitForDatagrams(many, 0, readable), 0);
    std::array<bool, 1> tooShort{};
    EXPECT_LT(waitForDatagrams(both, 0, tooShort), 0);
}

}  // namespace
}  // namespace brassmoor
