#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "lacewing/Lacewing.h"

namespace {
// Ports of this test program alone (not the service's 10000-10004).
const int kPort = 38611;

std::atomic<int> g_calls{0};
HANDLE g_inHandler = nullptr;  // set by a handler that then waits for g_release
HANDLE g_release = nullptr;
const char* const kProbe = "GET /isInstallQuillex HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
const char* const kHalfHead = "GET /x HTTP/1.1\r\nHost: a";

void Handler(Lacewing::Webserver&, Lacewing::Webserver::Request& request) {
    ++g_calls;
    std::string url = request.URL;
    if (url.find("isInstallQuillex") != std::string::npos) request << "result=1";
    if (url.find("slow") != std::string::npos) Sleep(200);
    if (url.find("hang") != std::string::npos) {
        SetEvent(g_inHandler);
        WaitForSingleObject(g_release, 15000);
    }
    // More than the socket buffers of both ends hold, so a client that does not read stalls the send.
    static const std::string big(8 << 20, 'x');
    if (url.find("big") != std::string::npos) request << big.c_str();
}

struct Wsa {
    Wsa() {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
    }
    ~Wsa() { WSACleanup(); }
};

// receiveBuffer: a small one keeps a client that does not read from taking much of a response.
SOCKET Connect(int port, int receiveBuffer = 0) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (receiveBuffer)
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof(receiveBuffer));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    DWORD tv = 15000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&tv), sizeof(tv));
    return s;
}

void SendText(SOCKET s, const std::string& raw) { send(s, raw.data(), static_cast<int>(raw.size()), 0); }

// Everything up to the server's close.
std::string ReadAll(SOCKET s) {
    std::string out;
    char buf[1024];
    int n;
    while ((n = recv(s, buf, sizeof(buf), 0)) > 0) out.append(buf, n);
    return out;
}

// Sends raw bytes and returns the whole response (the server closes after it).
std::string Exchange(int port, const std::string& raw) {
    SOCKET s = Connect(port);
    if (s == INVALID_SOCKET) return "no connection";
    SendText(s, raw);
    std::string out = ReadAll(s);
    closesocket(s);
    return out;
}

std::string Body(const std::string& response) {
    std::size_t at = response.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : response.substr(at + 4);
}

// Connections that each send raw and then stay; empty when one could not connect.
std::vector<SOCKET> Open(int port, std::size_t count, const std::string& raw, int receiveBuffer = 0) {
    std::vector<SOCKET> open;
    for (std::size_t i = 0; i < count; ++i) {
        SOCKET s = Connect(port, receiveBuffer);
        if (s != INVALID_SOCKET) SendText(s, raw);
        open.push_back(s);
    }
    for (SOCKET s : open)
        if (s == INVALID_SOCKET) return {};
    return open;
}

void CloseAll(const std::vector<SOCKET>& sockets) {
    for (SOCKET s : sockets) closesocket(s);
}

// Clients that ask for a large body and never read it: each stalls the send that answers it.
std::vector<SOCKET> OpenNonReaders(int port, std::size_t count) {
    return Open(port, count, "GET /big HTTP/1.1\r\n\r\n", 4096);
}

bool WaitForCalls(int calls) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(10))
        if (g_calls >= calls) return true;
    return false;
}

bool Readable(SOCKET s, long ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait{0, ms * 1000};
    return select(0, &set, nullptr, nullptr, &wait) > 0;
}
}  // namespace

class WebserverTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.RegisterHandlerGet(Handler);
        server.Host(kPort);
        ASSERT_TRUE(server.Hosting());
        g_calls = 0;
    }
    Wsa wsa;
    Lacewing::Webserver server;
};

TEST_F(WebserverTest, AnswersGetThroughTheHandler) {
    struct Case {
        const char* target;
        const char* body;
    } cases[] = {
        {"/isInstallQuillex", "result=1"},
        {"/isinstallquillex", ""},
        {"/x?isInstallQuillex&y", "result=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        std::string r = Exchange(kPort, std::string("GET ") + c.target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        EXPECT_EQ(r.compare(0, 15, "HTTP/1.1 200 OK"), 0) << r;
        EXPECT_EQ(Body(r), c.body);
    }
    EXPECT_EQ(g_calls, 3);
}

TEST_F(WebserverTest, RefusesWhatIsNotAWellFormedGet) {
    std::string bigHead = "GET /" + std::string(10 * 1024, 'a') + " HTTP/1.1\r\n\r\n";
    struct Case {
        std::string raw;
        const char* status;
    } cases[] = {
        {"POST /isInstallQuillex HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405"},
        {"DELETE / HTTP/1.1\r\n\r\n", "HTTP/1.1 405"},
        {bigHead, "HTTP/1.1 400"},
        {"garbage\r\n\r\n", "HTTP/1.1 400"},
        {"GET /\r\n\r\n", "HTTP/1.1 400"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw.substr(0, 40));
        EXPECT_EQ(Exchange(kPort, c.raw).compare(0, 12, c.status), 0);
    }
    EXPECT_EQ(g_calls, 0);  // the handler never sees them
}

TEST_F(WebserverTest, HeldHeadsDoNotBlockProbes) {
    // Fewer than the server reads at once, and more: then the longest waiting make room.
    for (std::size_t count : {40u, 300u}) {
        SCOPED_TRACE(count);
        std::vector<SOCKET> held = Open(kPort, count, kHalfHead);
        ASSERT_EQ(held.size(), count);
        for (int i = 0; i < 5; ++i) {
            DWORD start = GetTickCount();
            ASSERT_EQ(Body(Exchange(kPort, kProbe)), "result=1");
            ASSERT_LT(GetTickCount() - start, 2000u);
        }
        // The newest are still connected and read: their finished heads are answered.
        std::vector<SOCKET> newest(held.end() - 40, held.end());
        for (SOCKET s : newest) SendText(s, "\r\n\r\n");
        for (SOCKET s : newest) EXPECT_EQ(ReadAll(s).compare(0, 15, "HTTP/1.1 200 OK"), 0);
        CloseAll(held);
    }
}

TEST_F(WebserverTest, SlowHeadsAreCutOffWithinTheBound) {
    // A silent client and one that trickles a byte at a time get the same bound for the whole head.
    SOCKET clients[2] = {Connect(kPort), Connect(kPort)};
    std::string answers[2];
    bool done[2] = {false, false};
    DWORD took[2] = {0, 0};
    for (SOCKET s : clients) SendText(s, kHalfHead);
    DWORD start = GetTickCount();
    while (!(done[0] && done[1]) && GetTickCount() - start < 8000) {
        for (int i = 0; i < 2; ++i) {
            if (done[i]) continue;
            if (Readable(clients[i], 50)) {
                answers[i] = ReadAll(clients[i]);
                took[i] = GetTickCount() - start;
                done[i] = true;
            } else if (i == 1) {
                SendText(clients[i], "a");
            }
        }
    }
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(done[i]);
        EXPECT_EQ(answers[i].compare(0, 12, "HTTP/1.1 408"), 0) << answers[i];
        EXPECT_LT(took[i], 6000u);
        closesocket(clients[i]);
    }
}

TEST_F(WebserverTest, ClientsThatDoNotReadAreCutOff) {
    // As many as the server has workers: each worker is left sending to one of them.
    std::vector<SOCKET> stalled = OpenNonReaders(kPort, 4);
    ASSERT_TRUE(WaitForCalls(4));
    DWORD start = GetTickCount();
    EXPECT_EQ(Body(Exchange(kPort, kProbe)), "result=1");
    EXPECT_LT(GetTickCount() - start, 6000u);
    CloseAll(stalled);
}

TEST(Webserver, TakenPortIsNotHostedAndListensOnLoopbackOnly) {
    Wsa wsa;
    Lacewing::Webserver first, second;
    first.Host(kPort + 1);
    ASSERT_TRUE(first.Hosting());
    EXPECT_EQ(first.Port(), kPort + 1);
    second.Host(kPort + 1);
    EXPECT_FALSE(second.Hosting());
    second.Unhost();
    second.Host(kPort + 2);
    EXPECT_TRUE(second.Hosting());
    // Not reachable on another local address.
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kPort + 1);
    a.sin_addr.s_addr = inet_addr("127.0.5.9");
    EXPECT_NE(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    closesocket(s);
}

struct Stopper {
    Lacewing::Webserver* server;
    bool destroy;
    static DWORD WINAPI Main(LPVOID p) {
        Stopper* s = static_cast<Stopper*>(p);
        if (s->destroy) {
            delete s->server;
        } else {
            s->server->Unhost();
        }
        return 0;
    }
};

TEST(Webserver, StoppingWhileClientsHoldItIsQuick) {
    Wsa wsa;
    const int port = kPort + 3;
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "unhosted");
        Lacewing::Webserver* server = new Lacewing::Webserver;
        server->RegisterHandlerGet(Handler);
        server->Host(port);
        ASSERT_TRUE(server->Hosting());
        g_calls = 0;
        std::vector<SOCKET> stalled = OpenNonReaders(port, 4);
        ASSERT_TRUE(WaitForCalls(4));
        std::vector<SOCKET> held = Open(port, 40, kHalfHead);
        ASSERT_EQ(held.size(), 40u);
        // On a thread of its own, so that a stop that hangs fails here instead of hanging the test.
        Stopper stopper{server, destroy};
        DWORD start = GetTickCount();
        HANDLE thread = CreateThread(nullptr, 0, Stopper::Main, &stopper, 0, nullptr);
        EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
        EXPECT_LT(GetTickCount() - start, 1500u);
        CloseAll(stalled);  // lets a stop that waits on them end
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CloseAll(held);
        if (destroy) {
            EXPECT_EQ(Exchange(port, kProbe), "no connection");
        } else {
            server->Host(port);
            EXPECT_TRUE(server->Hosting());
            EXPECT_EQ(Body(Exchange(port, kProbe)), "result=1");
            delete server;
        }
    }
}

TEST(Webserver, StoppingGivesUpOnAHandlerThatDoesNotReturn) {
    Wsa wsa;
    const int port = kPort + 4;
    g_inHandler = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "unhosted");
        ResetEvent(g_release);
        Lacewing::Webserver* server = new Lacewing::Webserver;
        server->RegisterHandlerGet(Handler);
        server->Host(port);
        ASSERT_TRUE(server->Hosting());
        SOCKET client = Connect(port);
        SendText(client, "GET /hang HTTP/1.1\r\n\r\n");
        ASSERT_EQ(WaitForSingleObject(g_inHandler, 5000), WAIT_OBJECT_0);
        Stopper stopper{server, destroy};
        HANDLE thread = CreateThread(nullptr, 0, Stopper::Main, &stopper, 0, nullptr);
        bool stopped = WaitForSingleObject(thread, 6000) == WAIT_OBJECT_0;
        EXPECT_TRUE(stopped);
        if (stopped && !destroy) {
            server->Host(port);
            EXPECT_TRUE(server->Hosting());
            EXPECT_EQ(Body(Exchange(port, kProbe)), "result=1");
        }
        // The handler returns into a server that gave up on it: its thread must still find its state.
        SetEvent(g_release);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        ReadAll(client);
        closesocket(client);
        if (!destroy) delete server;
    }
    CloseHandle(g_inHandler);
    CloseHandle(g_release);
}

TEST(Webserver, PauseSleeps) {
    // The performance counter: the tick count can move in steps of 16 ms.
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Lacewing::Utility::Pause(100);
    QueryPerformanceCounter(&end);
    EXPECT_GE((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, 90);
}
