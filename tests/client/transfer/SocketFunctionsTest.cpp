#include "client/transfer/SocketFunctions.h"
#include "tests/support/Loopback.h"

#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

using loopback::Listener;

namespace {

SOCKET NewSocket() {
    AfxSocketInit();
    return socket(AF_INET, SOCK_STREAM, 0);
}

// A connected pair: client side made by ConnectWithTimeout, server side accepted.
struct Pair {
    explicit Pair(const char* ip) : listener(ip) {
        client = NewSocket();
        sockaddr_in a = listener.Addr();
        connected = SConnect(client, &a, 5);
        server = listener.Accept();
    }
    ~Pair() {
        closesocket(client);
        if (server != INVALID_SOCKET) closesocket(server);
    }
    Listener listener;
    SOCKET client = INVALID_SOCKET, server = INVALID_SOCKET;
    int connected = -1;
};

// Reads everything until the peer closes, bounded by a deadline.
std::vector<char> ReadAll(SOCKET s, DWORD timeoutMs) {
    std::vector<char> got;
    DWORD tv = timeoutMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&tv), sizeof(tv));
    char buf[65536];
    for (;;) {
        int n = recv(s, buf, sizeof(buf), 0);
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

}  // namespace

TEST(ConnectWithTimeout, ConnectsAndLeavesTheSocketBlocking) {
    Pair p("127.0.1.10");
    EXPECT_EQ(0, p.connected);
    ASSERT_NE(INVALID_SOCKET, p.server);
    // Blocking again: a receive with nothing to read waits for the receive time-out.
    DWORD tv = 200;
    setsockopt(p.client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&tv), sizeof(tv));
    char c;
    EXPECT_EQ(SOCKET_ERROR, recv(p.client, &c, 1, 0));
    EXPECT_EQ(WSAETIMEDOUT, WSAGetLastError());
}

TEST(ConnectWithTimeout, RefusedAndBadArguments) {
    SOCKET s = NewSocket();
    sockaddr_in closed = loopback::Address("127.0.1.11", loopback::ClosedPort("127.0.1.11"));
    errno = 0;
    EXPECT_EQ(-1, SConnect(s, &closed, 5));
    EXPECT_EQ(WSAECONNREFUSED, errno);
    closesocket(s);

    s = NewSocket();
    errno = 0;
    EXPECT_EQ(-1, ConnectWithTimeout(s, nullptr, 16, 5));
    EXPECT_EQ(22, errno);
    // Time-out 0: the plain blocking connect's own result.
    EXPECT_EQ(SOCKET_ERROR, ConnectWithTimeout(s, reinterpret_cast<sockaddr*>(&closed), 16, 0));
    EXPECT_EQ(WSAECONNREFUSED, WSAGetLastError());
    closesocket(s);
}

TEST(ConnectWithTimeout, UnansweredConnectTimesOut) {
    loopback::FullBacklog silent("127.0.1.12");
    if (!silent.Ready()) GTEST_SKIP() << "loopback answers every connect here";
    SOCKET s = NewSocket();
    sockaddr_in a = silent.Addr();
    errno = 0;
    loopback::Watchdog refuse(6000, [&] { silent.CloseNow(); });
    ULONGLONG t0 = loopback::Now();
    EXPECT_EQ(-2, SConnect(s, &a, 1));
    ULONGLONG took = loopback::Now() - t0;
    EXPECT_EQ(138, errno);
    EXPECT_EQ(WSAETIMEDOUT, WSAGetLastError());
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 3000u);
    closesocket(s);
}

TEST(SWrite, RefusesBadArgumentsWithoutSending) {
    Pair p("127.0.1.13");
    ASSERT_EQ(0, p.connected);
    char data[4] = {1, 2, 3, 4};
    struct Case {
        const char* buffer;
        int length, timeout;
    } cases[] = {
        {nullptr, 4, 5}, {data, 0, 5}, {data, -1, 5}, {data, 4, 0}, {data, 4, -3},
    };
    for (const auto& c : cases) {
        errno = 0;
        EXPECT_EQ(-1, SWrite(p.client, c.buffer, c.length, c.timeout)) << c.length << "," << c.timeout;
        EXPECT_EQ(22, errno);
    }
    closesocket(p.client);
    p.client = INVALID_SOCKET;
    EXPECT_TRUE(ReadAll(p.server, 2000).empty());
}

TEST(SWrite, SendsTheWholeBufferToAReadingPeer) {
    Pair p("127.0.1.14");
    ASSERT_EQ(0, p.connected);
    std::vector<char> data(3 * 1024 * 1024);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + (i >> 12));
    std::vector<char> got;
    std::thread reader([&] { got = ReadAll(p.server, 10000); });
    EXPECT_EQ(static_cast<int>(data.size()), SWrite(p.client, data.data(), static_cast<int>(data.size()), 10));
    // Left blocking: a receive with nothing to read waits for its time-out.
    DWORD tv = 100;
    setsockopt(p.client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&tv), sizeof(tv));
    char c;
    EXPECT_EQ(SOCKET_ERROR, recv(p.client, &c, 1, 0));
    EXPECT_EQ(WSAETIMEDOUT, WSAGetLastError());
    shutdown(p.client, SD_SEND);
    reader.join();
    EXPECT_TRUE(got == data);
}

// The peer never reads: the first call fills the buffers and returns the part that went;
// the next one has nothing accepted and times out. Both keep their deadline.
// Both senders: SWrite switches the mode itself; the segment sender keeps its socket
// non-blocking and calls SWriteNonBlocking.
struct Sender {
    const char* name;
    bool nonBlocking;
    int (*write)(SOCKET, const char*, int, int);
};
int SWriteNonBlockingNoStop(SOCKET s, const char* buffer, int length, int timeoutSeconds) {
    return SWriteNonBlocking(s, buffer, length, timeoutSeconds);
}
const Sender kSenders[] = {{"SWrite", false, SWrite}, {"SWriteNonBlocking", true, SWriteNonBlockingNoStop}};

class SWriteDeadline : public ::testing::TestWithParam<Sender> {};

TEST_P(SWriteDeadline, PeerThatStopsReadingKeepsTheDeadline) {
    const Sender& w = GetParam();
    Pair p("127.0.1.15");
    ASSERT_EQ(0, p.connected);
    if (w.nonBlocking) {
        ASSERT_EQ(0, SetSocketNonBlocking(p.client, 1));
    }
    std::vector<char> data(64 * 1024 * 1024, 'x');
    linger hard = {1, 0};
    setsockopt(p.server, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
    loopback::Watchdog reset(15000, [&] {
        closesocket(p.server);
        p.server = INVALID_SOCKET;
    });
    ULONGLONG t0 = loopback::Now();
    int first = w.write(p.client, data.data(), static_cast<int>(data.size()), 1);
    ULONGLONG took = loopback::Now() - t0;
    EXPECT_GT(first, 0);
    EXPECT_LT(first, static_cast<int>(data.size()));
    EXPECT_LT(took, 2500u);

    int second = 0;
    for (int i = 0; i < 4 && second >= 0; ++i) {  // buffers may still drain a little
        errno = 0;
        t0 = loopback::Now();
        second = w.write(p.client, data.data(), static_cast<int>(data.size()), 1);
        took = loopback::Now() - t0;
        EXPECT_LT(took, 2500u);
    }
    EXPECT_EQ(-2, second);
    EXPECT_EQ(138, errno);
    EXPECT_EQ(WSAETIMEDOUT, WSAGetLastError());
    EXPECT_GE(took, 900u);
    EXPECT_FALSE(reset.Fired());
}

INSTANTIATE_TEST_SUITE_P(Senders, SWriteDeadline, ::testing::ValuesIn(kSenders),
                         [](const ::testing::TestParamInfo<Sender>& i) { return std::string(i.param.name); });

TEST(SWriteNonBlocking, SendsTheWholeBufferAndKeepsTheMode) {
    Pair p("127.0.1.17");
    ASSERT_EQ(0, p.connected);
    ASSERT_EQ(0, SetSocketNonBlocking(p.client, 1));
    std::vector<char> data(3 * 1024 * 1024);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 5 + (i >> 11));
    std::vector<char> got;
    std::thread reader([&] { got = ReadAll(p.server, 10000); });
    for (size_t at = 0; at < data.size(); at += 32768)
        ASSERT_EQ(32768, SWriteNonBlocking(p.client, data.data() + at, 32768, 10));
    char c;
    EXPECT_EQ(SOCKET_ERROR, recv(p.client, &c, 1, 0));
    EXPECT_EQ(WSAEWOULDBLOCK, WSAGetLastError());
    EXPECT_EQ(-1, SWriteNonBlocking(p.client, nullptr, 4, 5));
    shutdown(p.client, SD_SEND);
    reader.join();
    EXPECT_TRUE(got == data);
}

TEST(SWrite, ClosedPeerIsAnError) {
    Pair p("127.0.1.16");
    ASSERT_EQ(0, p.connected);
    linger hard = {1, 0};
    setsockopt(p.server, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
    closesocket(p.server);
    p.server = INVALID_SOCKET;
    Sleep(100);
    std::vector<char> data(1 << 16, 'y');
    int r = 0;
    for (int i = 0; i < 10 && r >= 0; ++i) r = SWrite(p.client, data.data(), static_cast<int>(data.size()), 2);
    EXPECT_EQ(-1, r);
}

TEST(SocketOptions, BufferSizesKeepAliveAndTypeOfService) {
    SOCKET s = NewSocket();
    EXPECT_EQ(0, SetSocketBufSize(s, 70000, 90000));
    int rcv = -1, snd = -1;
    EXPECT_EQ(0, GetSocketBufSize(s, &rcv, &snd));
    EXPECT_GE(rcv, 70000);
    EXPECT_GE(snd, 90000);
    EXPECT_EQ(0, GetSocketBufSize(s, nullptr, &snd));
    EXPECT_EQ(0, SetSocketBufSize(s, 0, 0));

    EXPECT_EQ(0, SetSocketKeepAlive(s, 1));
    EXPECT_EQ(0, SetSocketTypeOfService(s, 8));
    int tos = 0, len = sizeof(tos);
    ASSERT_EQ(0, getsockopt(s, IPPROTO_IP, IP_TOS, reinterpret_cast<char*>(&tos), &len));
    EXPECT_EQ(8, tos);
    EXPECT_EQ(0, SetSocketNonBlocking(s, 1));
    EXPECT_EQ(0, SetSocketNonBlocking(s, 0));
    closesocket(s);

    // A closed handle: the failed queries store 0 and the failure is returned.
    rcv = snd = 5;
    EXPECT_NE(0, GetSocketBufSize(s, &rcv, &snd));
    EXPECT_EQ(0, rcv);
    EXPECT_EQ(0, snd);
    EXPECT_NE(0, SetSocketBufSize(s, 1000, 1000));
}

TEST(CloseSocket, NegativeHandleClosesNothing) {
    errno = 0;
    EXPECT_EQ(-1, CloseSocket(static_cast<SOCKET>(-1)));
    EXPECT_EQ(9, errno);
    SOCKET s = NewSocket();
    EXPECT_EQ(0, CloseSocket(s));
    EXPECT_EQ(SOCKET_ERROR, CloseSocketRaw(s));
}

TEST(TimeOfDay, AgreesWithTheCalendarClock) {
    EXPECT_EQ(-1, TimeOfDay(nullptr));
    TimeValue tv = {0, -1};
    ASSERT_EQ(0, TimeOfDay(&tv));
    int64_t now = 0;
    uint32_t low = CurrentTime(&now);
    EXPECT_EQ(static_cast<uint32_t>(now), low);
    EXPECT_NEAR(static_cast<double>(now), static_cast<double>(tv.tv_sec), 2.0);
    EXPECT_GE(tv.tv_usec, 0);
    EXPECT_LT(tv.tv_usec, 1000000);
    EXPECT_NEAR(static_cast<double>(time(nullptr)), static_cast<double>(now), 2.0);
}
