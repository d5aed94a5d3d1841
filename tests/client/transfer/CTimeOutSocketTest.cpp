#include "client/transfer/CTimeOutSocket.h"
#include "tests/support/Loopback.h"

#include <gtest/gtest.h>

using loopback::Listener;
using loopback::Now;

namespace {

CString Wide(const char* ip) { return CString(ip); }

// A timed socket connected to a peer that accepts nothing and never answers.
struct Silent {
    explicit Silent(const char* ip, UINT timeoutMs) : peer(ip) {
        EXPECT_TRUE(sock.Create());
        set = Now();
        EXPECT_NE(0u, sock.SetTimeOut(timeoutMs));
        EXPECT_TRUE(sock.Connect(Wide(ip), peer.Port()));
    }
    // Milliseconds from SetTimeOut to the end of a receive, which must fail as cancelled.
    ULONGLONG ReceiveCut() {
        loopback::Watchdog reset(6000, [this] { peer.CloseNow(); });
        char buf[16];
        EXPECT_EQ(SOCKET_ERROR, sock.Receive(buf, sizeof(buf)));
        EXPECT_EQ(WSAEINTR, WSAGetLastError());
        return Now() - set;
    }
    Listener peer;
    CTimeOutSocket sock;
    ULONGLONG set = 0;
};

}  // namespace

TEST(TimeOutSocket, AnsweringPeerIsNotCut) {
    Listener peer("127.0.1.20");
    CTimeOutSocket sock;
    ASSERT_TRUE(sock.Create());
    sock.SetTimeOut(400);
    ASSERT_TRUE(sock.Connect(L"127.0.1.20", peer.Port()));
    SOCKET server = peer.Accept();
    ASSERT_NE(INVALID_SOCKET, server);
    std::thread answer([&] {
        Sleep(150);
        send(server, "FRNT", 4, 0);
    });
    char buf[8] = {};
    EXPECT_EQ(4, sock.Receive(buf, sizeof(buf)));
    EXPECT_STREQ("FRNT", buf);
    answer.join();
    EXPECT_EQ(5, sock.Send("hello", 5));
    char back[8] = {};
    EXPECT_EQ(5, recv(server, back, sizeof(back), 0));
    closesocket(server);
    EXPECT_EQ(0, sock.Receive(buf, sizeof(buf)));  // peer closed
}

// The call is cut when the timer next fires after the call began, not a full period later.
TEST(TimeOutSocket, SilentPeerIsCutAtTheNextTick) {
    Silent s("127.0.1.21", 600);
    Sleep(250);
    ULONGLONG cut = s.ReceiveCut();
    EXPECT_GE(cut, 550u);
    EXPECT_LT(cut, 1000u);
    // The timer keeps ticking: a later call is cut at the following tick.
    cut = s.ReceiveCut();
    EXPECT_GE(cut, 1150u);
    EXPECT_LT(cut, 1600u);
}

// Two timed sockets on one thread: the short one's ticks do not cut the long one's call,
// and the long one's wait does not swallow the short one's schedule.
TEST(TimeOutSocket, TwoSocketsOnOneThreadAreCutIndependently) {
    Silent quick("127.0.1.22", 300);
    Silent slow("127.0.1.23", 1500);
    ULONGLONG cut = slow.ReceiveCut();
    EXPECT_GE(cut, 1400u);
    EXPECT_LT(cut, 2000u);
    ULONGLONG start = Now() - quick.set;
    cut = quick.ReceiveCut();
    EXPECT_GT(cut, start);
    EXPECT_LT(cut - start, 600u);
}

TEST(TimeOutSocket, ConnectFailuresAndCutConnect) {
    CTimeOutSocket refused;
    ASSERT_TRUE(refused.Create());
    refused.SetTimeOut(3000);
    EXPECT_FALSE(refused.Connect(L"127.0.1.24", loopback::ClosedPort("127.0.1.24")));
    EXPECT_EQ(WSAECONNREFUSED, WSAGetLastError());

    CTimeOutSocket notCreated;
    EXPECT_FALSE(notCreated.Connect(L"127.0.1.24", 20000));

    loopback::FullBacklog silent("127.0.1.25");
    if (!silent.Ready()) GTEST_SKIP() << "loopback answers every connect here";
    CTimeOutSocket hanging;
    ASSERT_TRUE(hanging.Create());
    loopback::Watchdog refuse(6000, [&] { silent.CloseNow(); });
    ULONGLONG t0 = Now();
    hanging.SetTimeOut(500);
    EXPECT_FALSE(hanging.Connect(Wide(silent.Ip()), silent.Port()));
    EXPECT_EQ(WSAEINTR, WSAGetLastError());
    ULONGLONG took = Now() - t0;
    EXPECT_GE(took, 450u);
    EXPECT_LT(took, 1200u);
}
