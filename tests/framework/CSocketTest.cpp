#include "framework/CSocket.h"
#include "tests/support/Loopback.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using loopback::Listener;

namespace {

const UINT kSeen = WM_APP + 1;
const UINT kCancel = WM_APP + 2;

// Records what it sees while a call waits; cancels on kCancel.
class Watching : public CSocket {
public:
    int pending = 0;
    int seen = 0;

protected:
    BOOL OnMessagePending() override {
        ++pending;
        MSG msg;
        if (PeekMessageW(&msg, nullptr, kSeen, kCancel, PM_REMOVE)) {
            if (msg.message == kSeen) ++seen;
            if (msg.message == kCancel) CancelBlockingCall();
            return TRUE;
        }
        return CSocket::OnMessagePending();
    }
};

// Posts a message to the calling thread after a delay, from another thread.
std::thread PostLater(UINT message, DWORD delayMs) {
    DWORD target = GetCurrentThreadId();
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue must exist before the post
    return std::thread([=] {
        Sleep(delayMs);
        PostThreadMessageW(target, message, 0, 0);
    });
}

// Connects sock to the peer; the peer's side of the connection, or INVALID_SOCKET.
SOCKET ConnectTo(CSocket& sock, Listener& peer) {
    if (!sock.Create() || !sock.Connect(CString(peer.Ip()), peer.Port())) return INVALID_SOCKET;
    return peer.Accept();
}

}  // namespace

TEST(CSocket, ConnectsByNameAndByDottedAddress) {
    AfxSocketInit();
    struct Case {
        const char* listenOn;
        const wchar_t* host;
    } cases[] = {
        {"127.0.1.30", L"127.0.1.30"},
        {"127.0.0.1", L"localhost"},
    };
    for (const auto& c : cases) {
        Listener peer(c.listenOn);
        CSocket sock;
        ASSERT_TRUE(sock.Create());
        EXPECT_TRUE(sock.Connect(c.host, peer.Port())) << c.listenOn << " " << WSAGetLastError();
        SOCKET server = peer.Accept();
        EXPECT_NE(INVALID_SOCKET, server);
        CString ip;
        UINT port = 0;
        EXPECT_TRUE(sock.GetPeerName(ip, port));
        EXPECT_EQ(CString(c.listenOn), ip);
        closesocket(server);
    }
}

TEST(CSocket, SendBlocksUntilEverythingHasGone) {
    Listener peer("127.0.1.31");
    CSocket sock;
    SOCKET server = ConnectTo(sock, peer);
    ASSERT_NE(INVALID_SOCKET, server) << WSAGetLastError();
    std::vector<char> data(6 * 1024 * 1024);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
    std::vector<char> got;
    std::thread slowReader([&] {
        DWORD tv = 10000;
        setsockopt(server, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&tv), sizeof(tv));
        char buf[65536];
        int n;
        Sleep(200);  // let the sender meet full buffers
        while ((n = recv(server, buf, sizeof(buf), 0)) > 0) got.insert(got.end(), buf, buf + n);
    });
    EXPECT_EQ(static_cast<int>(data.size()), sock.Send(data.data(), static_cast<int>(data.size())));
    sock.Close();
    slowReader.join();
    closesocket(server);
    EXPECT_TRUE(got == data);
}

TEST(CSocket, WaitingCallsLookAtMessagesAndCanBeCancelled) {
    Listener peer("127.0.1.32");
    Watching sock;
    SOCKET server = ConnectTo(sock, peer);
    ASSERT_NE(INVALID_SOCKET, server) << WSAGetLastError();

    // A message arrives while the receive waits; the data comes later.
    std::thread post = PostLater(kSeen, 100);
    std::thread answer([&] {
        Sleep(400);
        send(server, "ok", 2, 0);
    });
    char buf[8];
    EXPECT_FALSE(sock.IsBlocking());
    EXPECT_EQ(2, sock.Receive(buf, sizeof(buf)));
    post.join();
    answer.join();
    EXPECT_EQ(1, sock.seen);
    EXPECT_GT(sock.pending, 0);

    // Cancelled from OnMessagePending: the receive fails as interrupted.
    {
        post = PostLater(kCancel, 150);
        loopback::Watchdog reset(6000, [&] { shutdown(server, SD_BOTH); });
        ULONGLONG t0 = loopback::Now();
        EXPECT_EQ(SOCKET_ERROR, sock.Receive(buf, sizeof(buf)));
        EXPECT_EQ(WSAEINTR, WSAGetLastError());
        EXPECT_LT(loopback::Now() - t0, 3000u);
        post.join();
        EXPECT_FALSE(reset.Fired());
    }
    closesocket(server);

    // A connect that gets no answer is cancelled the same way and gives FALSE.
    loopback::FullBacklog silent("127.0.1.33");
    if (!silent.Ready()) GTEST_SKIP() << "loopback answers every connect here";
    Watching hanging;
    ASSERT_TRUE(hanging.Create());
    post = PostLater(kCancel, 200);
    loopback::Watchdog refuse(6000, [&] { silent.CloseNow(); });
    EXPECT_FALSE(hanging.Connect(CString(silent.Ip()), silent.Port()));
    EXPECT_EQ(WSAEINTR, WSAGetLastError());
    post.join();
}

TEST(CSocket, AcceptAndDestructorClose) {
    AfxSocketInit();
    CSocket server;
    ASSERT_TRUE(server.Create(0, SOCK_STREAM, L"127.0.1.34"));
    ASSERT_TRUE(server.Listen());
    CString ip;
    UINT port = 0;
    ASSERT_TRUE(server.GetSockName(ip, port));
    EXPECT_EQ(CString(L"127.0.1.34"), ip);

    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback::Address("127.0.1.34", static_cast<unsigned short>(port));
    ASSERT_EQ(0, connect(client, reinterpret_cast<sockaddr*>(&a), sizeof(a)));
    {
        CSocket accepted;
        ASSERT_TRUE(server.Accept(accepted));
        send(client, "abc", 3, 0);
        char buf[4] = {};
        EXPECT_EQ(3, accepted.Receive(buf, 3));
        EXPECT_STREQ("abc", buf);
    }  // the destructor closes the connection
    DWORD tv = 3000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&tv), sizeof(tv));
    char c;
    EXPECT_EQ(0, recv(client, &c, 1, 0));
    closesocket(client);
}
