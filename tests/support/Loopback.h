// Loopback peers for socket tests: listeners on ephemeral ports of 127.0.1.x, a silent peer,
// a peer that stops reading, and a listener whose backlog is full so that connects hang.
#pragma once

#include "framework/AfxSocketInit.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace loopback {

inline sockaddr_in Address(const char* ip, unsigned short port) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(ip);
    return a;
}

inline unsigned short PortOf(SOCKET s) {
    sockaddr_in a = {};
    int len = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// A listening socket on an ephemeral port of the address.
class Listener {
public:
    explicit Listener(const char* ip, int backlog = 8) : m_ip(ip) {
        AfxSocketInit();
        m_sock = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = Address(ip, 0);
        bind(m_sock, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        listen(m_sock, backlog);
        m_port = PortOf(m_sock);
    }
    ~Listener() {
        if (m_sock != INVALID_SOCKET) closesocket(m_sock);
    }
    // Waits at most timeoutMs for a client.
    SOCKET Accept(DWORD timeoutMs = 5000) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(m_sock, &r);
        timeval tv = {static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
        if (select(0, &r, nullptr, nullptr, &tv) != 1) return INVALID_SOCKET;
        return accept(m_sock, nullptr, nullptr);
    }
    sockaddr_in Addr() const { return Address(m_ip.c_str(), m_port); }
    unsigned short Port() const { return m_port; }
    const char* Ip() const { return m_ip.c_str(); }
    SOCKET Socket() const { return m_sock; }
    // Drops the listener and the connections waiting in its queue (they are reset).
    void CloseNow() {
        SOCKET s = m_sock;
        m_sock = INVALID_SOCKET;
        if (s != INVALID_SOCKET) closesocket(s);
    }

private:
    std::string m_ip;
    SOCKET m_sock = INVALID_SOCKET;
    unsigned short m_port = 0;
};

// A port of the address on which nobody listens: connects are refused.
inline unsigned short ClosedPort(const char* ip) {
    Listener l(ip);
    return l.Port();  // closed when l goes
}

// A listener with backlog 0 whose queue is filled with connections nobody accepts; further
// connects get no answer. Ready() is false when the platform answers them all the same.
class FullBacklog {
public:
    explicit FullBacklog(const char* ip) : m_listener(ip, 0) {
        for (int i = 0; i < 16 && !m_ready; ++i) {
            SOCKET c = socket(AF_INET, SOCK_STREAM, 0);
            u_long on = 1;
            ioctlsocket(c, FIONBIO, &on);
            sockaddr_in a = m_listener.Addr();
            connect(c, reinterpret_cast<sockaddr*>(&a), sizeof(a));
            m_fillers.push_back(c);
            fd_set w, e;
            FD_ZERO(&w);
            FD_ZERO(&e);
            FD_SET(c, &w);
            FD_SET(c, &e);
            timeval tv = {0, 300000};
            if (select(0, nullptr, &w, &e, &tv) == 0) m_ready = true;
        }
    }
    ~FullBacklog() {
        for (SOCKET c : m_fillers) closesocket(c);
    }
    bool Ready() const { return m_ready; }
    sockaddr_in Addr() const { return m_listener.Addr(); }
    void CloseNow() { m_listener.CloseNow(); }
    const char* Ip() const { return m_listener.Ip(); }
    unsigned short Port() const { return m_listener.Port(); }

private:
    Listener m_listener;
    std::vector<SOCKET> m_fillers;
    bool m_ready = false;
};

// Runs action on its own thread if not disarmed (destroyed) within timeoutMs: it unblocks a
// call that fails to end by itself, so a broken time-out fails its test instead of hanging.
class Watchdog {
public:
    template <typename Action>
    Watchdog(DWORD timeoutMs, Action action) : m_disarm(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        m_thread = std::thread([this, timeoutMs, action] {
            if (WaitForSingleObject(m_disarm, timeoutMs) == WAIT_TIMEOUT) {
                m_fired = true;
                action();
            }
        });
    }
    ~Watchdog() {
        SetEvent(m_disarm);
        m_thread.join();
        CloseHandle(m_disarm);
    }
    bool Fired() const { return m_fired; }

private:
    HANDLE m_disarm;
    std::atomic<bool> m_fired{false};
    std::thread m_thread;
};

// Milliseconds since some start, for measuring calls.
inline ULONGLONG Now() { return GetTickCount64(); }

}  // namespace loopback
