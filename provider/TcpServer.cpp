#include "provider/TcpServer.h"

#include <chrono>

namespace provider {

namespace {
const int kPollMs = 50;
// Set by Reset() on the connection's own thread.
thread_local bool t_reset = false;

timeval PollTime() {
    timeval tv;
    tv.tv_sec = 0;
    tv.tv_usec = kPollMs * 1000;
    return tv;
}
}  // namespace

TcpServer::TcpServer() {
    WSADATA data;
    m_wsa = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

TcpServer::~TcpServer() {
    Stop();
    if (m_wsa) WSACleanup();
}

bool TcpServer::Start(const std::string& address, uint16_t port) {
    if (m_listen != INVALID_SOCKET) return false;
    m_stop = false;
    if (!Listen(address, port)) return false;
    m_address = address;
    return true;
}

SOCKET ListenOn(const std::string& address, uint16_t port, sockaddr_in& bound) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return INVALID_SOCKET;
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
        bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, SOMAXCONN) != 0) {
        int error = WSAGetLastError();
        closesocket(s);
        WSASetLastError(error);  // for the caller's report
        return INVALID_SOCKET;
    }
    int len = sizeof bound;
    getsockname(s, reinterpret_cast<sockaddr*>(&bound), &len);
    return s;
}

bool TcpServer::Listen(const std::string& address, uint16_t port) {
    sockaddr_in a = {};
    SOCKET s = ListenOn(address, port, a);
    if (s == INVALID_SOCKET) return false;
    m_port = ntohs(a.sin_port);
    m_listen = s;
    m_stopAccept = false;
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void TcpServer::StopAccepting() {
    m_stopAccept = true;
    if (m_acceptThread.joinable()) m_acceptThread.join();
    if (m_listen != INVALID_SOCKET) {
        closesocket(m_listen);
        m_listen = INVALID_SOCKET;
    }
}

void TcpServer::CloseListener() { StopAccepting(); }

bool TcpServer::Reopen() {
    if (m_listen != INVALID_SOCKET) return true;
    if (m_stop || m_address.empty()) return false;
    return Listen(m_address, m_port);
}

void TcpServer::Stop() {
    m_stop = true;
    StopAccepting();
    std::list<Connection> connections;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        connections.swap(m_connections);
    }
    for (Connection& c : connections)
        if (c.thread.joinable()) c.thread.join();
}

void TcpServer::AcceptLoop() {
    while (!m_stop && !m_stopAccept) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_listen, &set);
        timeval tv = PollTime();
        if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
        SOCKET c = accept(m_listen, nullptr, nullptr);
        if (c == INVALID_SOCKET) continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if (!*it->done) {
                ++it;
                continue;
            }
            it->thread.join();
            it = m_connections.erase(it);
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        m_connections.push_back({std::thread([this, c, done] {
                                     t_reset = false;
                                     Serve(c);
                                     if (!t_reset) shutdown(c, SD_BOTH);
                                     closesocket(c);
                                     *done = true;
                                 }),
                                 done});
    }
}

bool TcpServer::WaitReadable(SOCKET s) {
    while (!m_stop) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv = PollTime();
        int r = select(0, &set, nullptr, nullptr, &tv);
        if (r > 0) return true;
        if (r < 0) return false;
    }
    return false;
}

int TcpServer::ReceiveSome(SOCKET s, void* buffer, int size) {
    if (!WaitReadable(s)) return -1;
    int n = recv(s, static_cast<char*>(buffer), size, 0);
    return n < 0 ? -1 : n;
}

bool TcpServer::ReceiveExact(SOCKET s, void* buffer, size_t size) {
    char* p = static_cast<char*>(buffer);
    while (size > 0) {
        int n = ReceiveSome(s, p, size > 65536 ? 65536 : static_cast<int>(size));
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool TcpServer::SendAll(SOCKET s, const void* buffer, size_t size) {
    const char* p = static_cast<const char*>(buffer);
    while (size > 0) {
        if (m_stop) return false;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv = PollTime();
        int r = select(0, nullptr, &set, nullptr, &tv);
        if (r < 0) return false;
        if (r == 0) continue;
        int n = send(s, p, size > 65536 ? 65536 : static_cast<int>(size), 0);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

size_t TcpServer::LiveConnections() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t live = 0;
    for (const Connection& c : m_connections)
        if (!*c.done) ++live;
    return live;
}

void TcpServer::HoldUnread(SOCKET s) {
    while (!m_stop) {
        WSAPOLLFD p = {};
        p.fd = s;
        p.events = POLLRDNORM;
        int r = WSAPoll(&p, 1, kPollMs);
        // Under Wine a reset shows only here: a peek still returns the bytes left unread.
        if (r < 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return;
        if (r == 0) continue;
        char byte;
        if (recv(s, &byte, 1, MSG_PEEK) <= 0) return;  // 0: closed, error: reset
        // Unread bytes keep the socket readable: wait instead of polling again at once.
        if (!Pause(kPollMs)) return;
    }
}

void TcpServer::Reset(SOCKET s) {
    linger abortive = {1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
    t_reset = true;
}

bool TcpServer::Pause(int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_stop && std::chrono::steady_clock::now() < end) Sleep(10);
    return !m_stop;
}

}  // namespace provider
