#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "lacewing/Lacewing.h"

namespace {
// Ports of this test program alone (not the service's 10000-10004).
const int kPort = 38611;

std::atomic<int> g_calls{0};

void Handler(Lacewing::Webserver&, Lacewing::Webserver::Request& request) {
    ++g_calls;
    std::string url = request.URL;
    if (url.find("isInstallQuillex") != std::string::npos) request << "result=1";
    if (url.find("slow") != std::string::npos) Sleep(200);
}

struct Wsa {
    Wsa() {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
    }
    ~Wsa() { WSACleanup(); }
};

SOCKET Connect(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
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

// Sends raw bytes and returns the whole response (the server closes after it).
std::string Exchange(int port, const std::string& raw) {
    SOCKET s = Connect(port);
    if (s == INVALID_SOCKET) return "no connection";
    send(s, raw.data(), static_cast<int>(raw.size()), 0);
    std::string out;
    char buf[1024];
    int n;
    while ((n = recv(s, buf, sizeof(buf), 0)) > 0) out.append(buf, n);
    closesocket(s);
    return out;
}

std::string Body(const std::string& response) {
    std::size_t at = response.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : response.substr(at + 4);
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

TEST_F(WebserverTest, SilentClientsDoNotBlockAProbe) {
    SOCKET silent[3];
    for (auto& s : silent) s = Connect(kPort);
    DWORD start = GetTickCount();
    std::string r = Exchange(kPort, "GET /isInstallQuillex HTTP/1.1\r\n\r\n");
    EXPECT_EQ(Body(r), "result=1");
    EXPECT_LT(GetTickCount() - start, 3000u);
    for (auto s : silent) closesocket(s);
}

TEST_F(WebserverTest, SilentClientIsCutOffAfterTheTimeOut) {
    SOCKET s = Connect(kPort);
    ASSERT_NE(s, INVALID_SOCKET);
    char buf[256];
    int n = recv(s, buf, sizeof(buf), 0);  // the server gives up within its bounds
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf, n).compare(0, 12, "HTTP/1.1 408"), 0);
    closesocket(s);
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

TEST(Webserver, DestructorEndsWorkersHeldBySilentClients) {
    Wsa wsa;
    SOCKET s[2];
    DWORD start;
    {
        Lacewing::Webserver server;
        server.RegisterHandlerGet(Handler);
        server.Host(kPort + 3);
        ASSERT_TRUE(server.Hosting());
        for (auto& c : s) c = Connect(kPort + 3);
        Sleep(200);
        start = GetTickCount();
    }
    EXPECT_LT(GetTickCount() - start, 3000u);
    for (auto c : s) closesocket(c);
    EXPECT_EQ(Exchange(kPort + 3, "GET / HTTP/1.1\r\n\r\n"), "no connection");
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
