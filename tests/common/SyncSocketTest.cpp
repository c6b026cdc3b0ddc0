#include "Common/SyncSocket.h"
#include "platform/Socket.h"

#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using testutil::UdpReceiver;

// The code of the CSocketException that action throws, or 0 when it throws none.
template <typename Action> int ThrownCode(Action action) {
    try {
        action();
    } catch (const CSocketException& e) {
        return e.GetErrorCode();
    }
    return 0;
}

std::string Message(int code, unsigned size = 256) {
    std::vector<char> buffer(size, 'Z');
    EXPECT_TRUE(CSocketException(code).GetErrorMessage(buffer.data(), size));
    return buffer.data();
}

TEST(SocketException, TextsForKnownAndUnknownCodes) {
    EXPECT_EQ(Message(10048), "the specified address is already in use");
    EXPECT_EQ(Message(10009), "the descriptor is not a socket");
    EXPECT_EQ(Message(10038), "the descriptor is not a socket");
    EXPECT_EQ(Message(11001), "the host was not found");
    EXPECT_EQ(Message(10059), "unknown error: 10059");
    EXPECT_EQ(Message(-7), "unknown error: -7");
    EXPECT_STREQ(CSocketException(10013).what(),
                 "the requested address is a broadcast address, but the appropriate flag was "
                 "not set");
}

TEST(SocketException, TextIsCutToTheBufferAndTheRestCleared) {
    char buffer[12];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_TRUE(CSocketException(10048).GetErrorMessage(buffer, 10));
    EXPECT_EQ(std::string(buffer, 10), std::string("the speci") + '\0');
    EXPECT_EQ(buffer[10], 'Z');

    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_TRUE(CSocketException(1).GetErrorMessage(buffer, 11));
    EXPECT_EQ(std::string(buffer, 11), std::string("unknown er") + '\0');

    // A short text leaves the rest of the buffer zeroed, not with old contents.
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_TRUE(CSocketException(10057).GetErrorMessage(buffer, 1));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'Z');
    EXPECT_FALSE(CSocketException(10057).GetErrorMessage(buffer, 0));
    EXPECT_FALSE(CSocketException(10057).GetErrorMessage(nullptr, 10));
}

class SyncSocket : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(receiver.ok()); }
    UdpReceiver receiver;
};

TEST_F(SyncSocket, SendsDatagramsByAddressAndByName) {
    CSyncSocketEx socket;
    EXPECT_EQ(socket.GetTimeout(), 120);
    ASSERT_TRUE(socket.Create(0, CSyncSocketEx::Datagram, nullptr));
    EXPECT_EQ(socket.SendTo("hello", 5, receiver.port(), "127.0.0.1"), 5);
    EXPECT_EQ(receiver.Receive(), "hello");
    EXPECT_EQ(socket.SendTo("by name", 7, receiver.port(), "localhost"), 7);
    EXPECT_EQ(receiver.Receive(), "by name");
    EXPECT_EQ(socket.SendTo("", 0, receiver.port(), "127.0.0.1"), 0);
    EXPECT_EQ(receiver.Receive(), "");
}

TEST_F(SyncSocket, CreateOnceOnly) {
    CSyncSocketEx socket;
    ASSERT_TRUE(socket.Create(0, CSyncSocketEx::Datagram, "localhost"));
    EXPECT_EQ(ThrownCode([&] { socket.Create(0, CSyncSocketEx::Datagram, nullptr); }), 10048);
    EXPECT_TRUE(socket.Close());
    EXPECT_FALSE(socket.Close());
    EXPECT_TRUE(socket.Create(0, CSyncSocketEx::Datagram, ""));
}

TEST_F(SyncSocket, FailedCreateHoldsNoSocket) {
    CSyncSocketEx socket;
    EXPECT_EQ(
        ThrownCode([&] { socket.Create(0, CSyncSocketEx::Datagram, "no-such-host.invalid"); }),
        11001);
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(ThrownCode([&] { socket.Create(0, 7, nullptr); }), 10044);
    EXPECT_FALSE(socket.IsOpen());

    // The receiver holds this address and port already: the bind fails without throwing.
    EXPECT_FALSE(socket.Create(receiver.port(), CSyncSocketEx::Datagram, "127.0.0.1"));
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_TRUE(socket.Create(0, CSyncSocketEx::Datagram, "127.0.0.1"));
}

TEST_F(SyncSocket, CloseAndDestructorReleaseThePort) {
    int port = 0;
    {
        UdpReceiver probe;
        port = probe.port();
    }
    {
        CSyncSocketEx first;
        ASSERT_TRUE(first.Create(port, CSyncSocketEx::Datagram, "127.0.0.1"));
        first.Close();
        CSyncSocketEx second;
        ASSERT_TRUE(second.Create(port, CSyncSocketEx::Datagram, "127.0.0.1"));
    }
    CSyncSocketEx third;
    EXPECT_TRUE(third.Create(port, CSyncSocketEx::Datagram, "127.0.0.1"));
}

TEST_F(SyncSocket, SendErrorsCarryTheirWindowsSocketsCodes) {
    CSyncSocketEx socket;
    EXPECT_EQ(ThrownCode([&] { socket.SendTo("x", 1, receiver.port(), "127.0.0.1"); }), 10038);

    ASSERT_TRUE(socket.Create(0, CSyncSocketEx::Datagram, "127.0.0.1"));
    EXPECT_EQ(ThrownCode([&] { socket.SendTo("x", 1, receiver.port(), "no-such-host.invalid"); }),
              10022);
    // No host means the broadcast address, which needs the socket's broadcast permission.
    EXPECT_EQ(ThrownCode([&] { socket.SendTo("x", 1, receiver.port(), nullptr); }), 10013);
    const std::string huge(70000, 'h');
    EXPECT_EQ(ThrownCode([&] {
                  socket.SendTo(huge.data(), static_cast<int>(huge.size()), receiver.port(),
                                "127.0.0.1");
              }),
              10040);
    EXPECT_EQ(ThrownCode([&] { socket.SendTo("x", 1, receiver.port(), "127.0.0.1", 1); }), 10045);
    EXPECT_EQ(ThrownCode([&] { socket.SendTo(nullptr, 5, receiver.port(), "127.0.0.1"); }), 10014);
    EXPECT_EQ(ThrownCode([&] { socket.SendTo("x", 1, 70000, "127.0.0.1"); }), 10049);

    // The socket is still usable after all of these.
    EXPECT_EQ(socket.SendTo("ok", 2, receiver.port(), "127.0.0.1"), 2);
    EXPECT_EQ(receiver.Receive(), "ok");
}

TEST_F(SyncSocket, SendOnUnconnectedStreamThrowsInsteadOfEndingTheProcess) {
    CSyncSocketEx stream;
    ASSERT_TRUE(stream.Create(0, CSyncSocketEx::Stream, nullptr));
    int code = ThrownCode([&] { stream.SendTo("x", 1, receiver.port(), "127.0.0.1"); });
    // Not connected, or shut down; wine answers "reset by the peer" for the same send.
    EXPECT_TRUE(code == 10057 || code == 10058 || (testutil::kWindows && code == 10054)) << code;
}

} // namespace
