#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "lacewing/Lacewing.h"

namespace {
// Limits that keep one bad client from hurting the others.
const std::size_t kMaxHead = 8 * 1024;
const DWORD kReadTimeOutMs = 5000;    // one silent read
const DWORD kHeadDeadlineMs = 10000;  // the whole head
const int kWorkers = 4;
const std::size_t kMaxQueued = 64;

void SendAll(SOCKET s, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        int n = send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

void SendResponse(SOCKET s, int code, const char* reason, const std::string& body, bool allowGet = false) {
    char head[256];
    snprintf(head, sizeof(head),
             "HTTP/1.1 %d %s\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: %u\r\n%s"
             "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
             code, reason, static_cast<unsigned>(body.size()), allowGet ? "Allow: GET\r\n" : "");
    SendAll(s, head + body);
}
}  // namespace

struct Lacewing::Webserver::Impl {
    Webserver* owner = nullptr;
    HandlerGet handler = nullptr;
    SOCKET listener = INVALID_SOCKET;
    int port = 0;
    bool wsa = false;
    volatile LONG stopping = 0;
    HANDLE acceptThread = nullptr;
    std::vector<HANDLE> workers;
    CRITICAL_SECTION lock;
    HANDLE queued = nullptr;  // semaphore: connections waiting for a worker
    std::deque<SOCKET> queue;

    static DWORD WINAPI AcceptMain(LPVOID p) {
        static_cast<Impl*>(p)->AcceptLoop();
        return 0;
    }
    static DWORD WINAPI WorkerMain(LPVOID p) {
        static_cast<Impl*>(p)->WorkerLoop();
        return 0;
    }

    void AcceptLoop() {
        for (;;) {
            SOCKET c = accept(listener, nullptr, nullptr);
            if (c == INVALID_SOCKET) {
                if (stopping) return;
                Sleep(10);
                continue;
            }
            EnterCriticalSection(&lock);
            bool take = !stopping && queue.size() < kMaxQueued;
            if (take) queue.push_back(c);
            LeaveCriticalSection(&lock);
            if (take) {
                ReleaseSemaphore(queued, 1, nullptr);
            } else {
                SendResponse(c, 503, "Service Unavailable", std::string());
                closesocket(c);
            }
        }
    }

    void WorkerLoop() {
        for (;;) {
            WaitForSingleObject(queued, INFINITE);
            EnterCriticalSection(&lock);
            if (stopping || queue.empty()) {
                LeaveCriticalSection(&lock);
                return;
            }
            SOCKET c = queue.front();
            queue.pop_front();
            LeaveCriticalSection(&lock);
            Serve(c);
            closesocket(c);
        }
    }

    // Reads the head up to its blank line: 0, or 400 (too long), 408 (too slow), -1 (gone or stopping).
    // Waits in short slices so that a stopping server does not wait out a silent client.
    int ReadHead(SOCKET c, std::string& head) {
        DWORD start = GetTickCount(), lastData = start;
        char buf[1024];
        while (head.find("\r\n\r\n") == std::string::npos) {
            if (head.size() > kMaxHead) return 400;
            if (stopping) return -1;
            DWORD now = GetTickCount();
            if (now - start > kHeadDeadlineMs || now - lastData > kReadTimeOutMs) return 408;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(c, &readable);
            timeval slice{0, 100 * 1000};
            int ready = select(0, &readable, nullptr, nullptr, &slice);
            if (ready < 0) return -1;
            if (ready == 0) continue;
            int n = recv(c, buf, sizeof(buf), 0);
            if (n <= 0) return -1;
            head.append(buf, static_cast<std::size_t>(n));
            lastData = GetTickCount();
        }
        if (head.find("\r\n\r\n") + 4 > kMaxHead) return 400;
        return 0;
    }

    void Serve(SOCKET c) {
        std::string head;
        int rc = ReadHead(c, head);
        if (rc == 400) {
            SendResponse(c, 400, "Bad Request", std::string());
            return;
        }
        if (rc == 408) {
            SendResponse(c, 408, "Request Timeout", std::string());
            return;
        }
        if (rc != 0) return;
        std::size_t lineEnd = head.find("\r\n");
        std::string line = head.substr(0, lineEnd);
        std::size_t sp1 = line.find(' ');
        std::size_t sp2 = sp1 == std::string::npos ? std::string::npos : line.find(' ', sp1 + 1);
        if (sp1 == std::string::npos || sp2 == std::string::npos || sp1 == 0 || sp2 == sp1 + 1 ||
            line.compare(sp2 + 1, 5, "HTTP/") != 0) {
            SendResponse(c, 400, "Bad Request", std::string());
            return;
        }
        std::string method = line.substr(0, sp1);
        std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
        if (method != "GET") {
            SendResponse(c, 405, "Method Not Allowed", std::string(), true);
            return;
        }
        std::string body;
        if (handler) {
            Request request;
            request.Internal = &body;
            request.URL = target.c_str();
            request.Method = method.c_str();
            try {
                handler(*owner, request);
            } catch (...) {
                SendResponse(c, 500, "Internal Server Error", std::string());
                return;
            }
        }
        SendResponse(c, 200, "OK", body);
    }

    void Stop() {
        if (listener == INVALID_SOCKET && workers.empty() && !acceptThread) return;
        InterlockedExchange(&stopping, 1);
        if (listener != INVALID_SOCKET) {
            closesocket(listener);
            listener = INVALID_SOCKET;
        }
        if (acceptThread) {
            WaitForSingleObject(acceptThread, 5000);
            CloseHandle(acceptThread);
            acceptThread = nullptr;
        }
        EnterCriticalSection(&lock);
        for (SOCKET s : queue) closesocket(s);
        queue.clear();
        LeaveCriticalSection(&lock);
        ReleaseSemaphore(queued, static_cast<LONG>(workers.size()), nullptr);
        for (HANDLE w : workers) {
            WaitForSingleObject(w, INFINITE);
            CloseHandle(w);
        }
        workers.clear();
        port = 0;
        InterlockedExchange(&stopping, 0);
    }
};

Lacewing::Webserver::Request& Lacewing::Webserver::Request::operator<<(const char* text) {
    if (text && Internal) static_cast<std::string*>(Internal)->append(text);
    return *this;
}

Lacewing::Webserver::Request& Lacewing::Webserver::Request::operator<<(int number) {
    char text[16];
    snprintf(text, sizeof(text), "%d", number);
    return *this << text;
}

Lacewing::Webserver::Webserver() : Tag(nullptr), m_pImpl(new Impl) {
    m_pImpl->owner = this;
    InitializeCriticalSection(&m_pImpl->lock);
    m_pImpl->queued = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
    WSADATA data;
    m_pImpl->wsa = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Lacewing::Webserver::~Webserver() {
    m_pImpl->Stop();
    CloseHandle(m_pImpl->queued);
    DeleteCriticalSection(&m_pImpl->lock);
    if (m_pImpl->wsa) WSACleanup();
    delete m_pImpl;
}

void Lacewing::Webserver::RegisterHandlerGet(HandlerGet handler, HandlerMode::Type) { m_pImpl->handler = handler; }

void Lacewing::Webserver::Host(int port) {
    Unhost();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return;
    BOOL exclusive = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof(exclusive));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(s, SOMAXCONN) != 0) {
        closesocket(s);
        return;
    }
    m_pImpl->listener = s;
    m_pImpl->port = port;
    for (int i = 0; i < kWorkers; ++i) {
        HANDLE w = CreateThread(nullptr, 0, Impl::WorkerMain, m_pImpl, 0, nullptr);
        if (w) m_pImpl->workers.push_back(w);
    }
    m_pImpl->acceptThread = CreateThread(nullptr, 0, Impl::AcceptMain, m_pImpl, 0, nullptr);
}

bool Lacewing::Webserver::Hosting() { return m_pImpl->listener != INVALID_SOCKET; }

void Lacewing::Webserver::Unhost() { m_pImpl->Stop(); }

int Lacewing::Webserver::Port() { return m_pImpl->port; }

void Lacewing::Utility::Pause(int milliseconds) { Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0); }
