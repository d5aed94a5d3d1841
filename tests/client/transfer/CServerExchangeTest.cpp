#include "client/transfer/CServerExchange.h"
#include "tests/support/Loopback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using loopback::Now;
using protocol::Bytes;

namespace {

const UINT kTimeOut = 500;

Bytes Message(uint32_t magic, uint32_t code, uint32_t length, const Bytes& body) {
    protocol::PacketHeader h = {magic, code, length};
    Bytes b(sizeof h + body.size());
    std::memcpy(b.data(), &h, sizeof h);
    std::copy(body.begin(), body.end(), b.begin() + sizeof h);
    return b;
}

Bytes ServerList() {
    protocol::ServerRecord r = {};
    r.serverId = 3;
    std::strcpy(r.host, "10.0.0.3");
    r.port = 20001;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&r);
    Bytes body = {1, 0, 0, 0};
    body.insert(body.end(), p, p + sizeof r);
    return Message(protocol::kMagic, 231, static_cast<uint32_t>(body.size()), body);
}

const std::string& SessionText() {
    static const std::string text = "<SessionKey>K</SessionKey><BindId>B</BindId>";
    return text;
}

Bytes SessionQuery() {
    Bytes b;
    EXPECT_TRUE(protocol::BuildSessionQuery("web@example.com", b));
    return b;
}

// One connection of a server: it reads each request whole and answers it with the next
// scripted reply (an empty one is silence), in pieces a little apart, then waits for the
// client to close.
class Peer {
public:
    explicit Peer(std::vector<Bytes> replies, size_t piece = 0) : m_listener("127.0.1.40") {
        m_thread = std::thread([this, replies, piece] { Serve(replies, piece); });
    }
    ~Peer() { Finish(); }
    CString Host() const { return CString(m_listener.Ip()); }
    UINT Port() const { return m_listener.Port(); }
    // Waits for the server's end: true when the client closed the connection.
    bool ClientClosed() {
        Finish();
        return m_closed;
    }
    const std::vector<Bytes>& Requests() {
        Finish();
        return m_requests;
    }

private:
    void Finish() {
        if (m_thread.joinable()) m_thread.join();
    }
    static bool ReadExact(SOCKET s, uint8_t* p, size_t n) {
        for (size_t got = 0; got < n;) {
            int r = recv(s, reinterpret_cast<char*>(p + got), static_cast<int>(n - got), 0);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }
    void Serve(const std::vector<Bytes>& replies, size_t piece) {
        SOCKET s = m_listener.Accept();
        if (s == INVALID_SOCKET) return;
        // Bounds every wait, so a client that never closes fails its test instead of hanging it.
        DWORD wait = 3000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
        for (const Bytes& reply : replies) {
            Bytes request(sizeof(protocol::PacketHeader));
            if (!ReadExact(s, request.data(), request.size())) break;
            uint32_t length;
            std::memcpy(&length, request.data() + 8, 4);
            request.resize(request.size() + length);
            if (length > 4096 || !ReadExact(s, request.data() + 12, length)) break;
            m_requests.push_back(request);
            const size_t step = piece ? piece : reply.size();
            for (size_t at = 0; at < reply.size(); at += step) {
                if (at) Sleep(10);
                send(s, reinterpret_cast<const char*>(reply.data() + at),
                     static_cast<int>(std::min(step, reply.size() - at)), 0);
            }
        }
        char c;
        int r = recv(s, &c, 1, 0);
        // Unread data on the client's side turns its close into a reset.
        m_closed = r == 0 || (r < 0 && WSAGetLastError() == WSAECONNRESET);
        closesocket(s);
    }

    loopback::Listener m_listener;
    std::vector<Bytes> m_requests;
    bool m_closed = false;
    std::thread m_thread;
};

}  // namespace

TEST(CServerExchange, OneRequestAndItsReply) {
    struct Case {
        const char* name;
        Bytes request, reply;
        size_t piece;
        bool ok;
        bool waitsForTimeOut;
    };
    const Case cases[] = {
        {"reply in small pieces", protocol::BuildServerList(), ServerList(), 5, true, false},
        {"header announcing more than the cap", protocol::BuildServerList(),
         Message(protocol::kMagic, 231, protocol::MaxReplyBody(protocol::MSG_CODE_REQ_SERVER_LIST) + 1,
                 Bytes(100, 'x')),
         0, false, false},
        // Its header is never read; the text's closing markers end it on a line the server keeps open.
        {"session reply announcing nothing", SessionQuery(),
         Message(0, 0, 0, Bytes(SessionText().begin(), SessionText().end())), 7, true, false},
        {"session reply cut by the time-out", SessionQuery(), Message(protocol::kMagic, 252, 9, Bytes(40, 'x')), 0,
         true, true},
        {"list reply with a wrong magic", protocol::BuildServerList(), Message(0x544E5247, 231, 4, Bytes(4, 0)), 0,
         false, false},
        {"silent server", protocol::BuildUserSpace(7), Bytes(), 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer peer({c.reply}, c.piece);
        CServerExchange exchange(kTimeOut);
        ASSERT_TRUE(exchange.Connect(peer.Host(), peer.Port()));
        Bytes reply{9};
        const ULONGLONG t0 = Now();
        EXPECT_EQ(c.ok, exchange.Request(c.request, reply));
        const ULONGLONG took = Now() - t0;
        EXPECT_LT(took, 3 * kTimeOut);
        if (c.waitsForTimeOut) {
            EXPECT_GE(took, kTimeOut - 100);
        }
        EXPECT_EQ(c.ok, exchange.Connected());
        if (c.ok) {
            EXPECT_EQ(c.reply, reply);
            exchange.Close();
        } else {
            EXPECT_TRUE(reply.empty());
        }
        EXPECT_TRUE(peer.ClientClosed()) << "a failed reply closes the connection";
        EXPECT_EQ(std::vector<Bytes>{c.request}, peer.Requests());
    }
}

TEST(CServerExchange, TwoRequestsOnOneConnection) {
    const Bytes space = Message(protocol::kMagic, 227, 16, Bytes(16, 5));
    Peer peer({space, ServerList()});
    CServerExchange exchange(kTimeOut);
    ASSERT_TRUE(exchange.Connect(peer.Host(), peer.Port()));
    Bytes reply;
    EXPECT_TRUE(exchange.Request(protocol::BuildUserSpace(7), reply));
    EXPECT_EQ(space, reply);
    EXPECT_TRUE(exchange.Request(protocol::BuildServerList(), reply));
    EXPECT_EQ(ServerList(), reply);
    EXPECT_TRUE(exchange.Connected());
    exchange.Close();
    EXPECT_TRUE(peer.ClientClosed());
    EXPECT_EQ((std::vector<Bytes>{protocol::BuildUserSpace(7), protocol::BuildServerList()}), peer.Requests());
}

// A request nobody answers goes by Send; Request refuses it rather than wait for a reply.
TEST(CServerExchange, SendOfARequestWithoutReply) {
    const Bytes remove = protocol::BuildDeleteFile(7, 8);
    Peer peer({Bytes()});
    CServerExchange exchange(kTimeOut);
    ASSERT_TRUE(exchange.Connect(peer.Host(), peer.Port()));
    Bytes reply{9};
    const ULONGLONG t0 = Now();
    EXPECT_FALSE(exchange.Request(remove, reply));
    EXPECT_TRUE(reply.empty());
    EXPECT_TRUE(exchange.Send(remove));
    EXPECT_LT(Now() - t0, kTimeOut);
    EXPECT_TRUE(exchange.Connected());
    exchange.Close();
    EXPECT_TRUE(peer.ClientClosed()) << "nothing more than one delete arrived";
    EXPECT_EQ(std::vector<Bytes>{remove}, peer.Requests());
}

TEST(CServerExchange, RefusedConnectFailsFast) {
    const char* ip = "127.0.1.41";
    CServerExchange exchange(kTimeOut);
    const ULONGLONG t0 = Now();
    EXPECT_FALSE(exchange.Connect(CString(ip), loopback::ClosedPort(ip)));
    EXPECT_LT(Now() - t0, kTimeOut);
    EXPECT_FALSE(exchange.Connected());
    Bytes reply;
    EXPECT_FALSE(exchange.Request(protocol::BuildUserSpace(7), reply));
    EXPECT_FALSE(exchange.Send(protocol::BuildDeleteFile(7, 8)));
}
