// One reception thread accepts and reads every request head; only complete heads reach the workers,
// so clients that are slow, silent or many cannot take the workers from a real request.
#define FD_SETSIZE 256  // the reception thread's select holds every head being read
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
const DWORD kHeadBudgetMs = 3000;  // the whole head, silent or trickled
const DWORD kSendBudgetMs = 2000;  // a client that does not read its response
const DWORD kStopWaitMs = 2000;    // a handler still running when the owner stops
const long kSliceMs = 50;          // how soon the threads notice a stop
const std::size_t kMaxHeads = 192;
const int kWorkers = 4;
const std::size_t kMaxQueued = 64;
static_assert(kMaxHeads + 1 <= FD_SETSIZE, "the listener shares the select with the heads");

void SetNonBlocking(SOCKET s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}

void WaitWritable(SOCKET s, long ms) {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval slice{0, ms * 1000};
    select(0, nullptr, &writable, nullptr, &slice);
}

// Sends on a non-blocking socket while it takes data within budgetMs: a client that stops reading
// costs at most that, and a stop ends the wait at once.
void SendAll(SOCKET s, const std::string& data, DWORD budgetMs, volatile LONG* stopping) {
    DWORD start = GetTickCount();
    std::size_t sent = 0;
    while (sent < data.size()) {
        int n = send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return;
        DWORD spent = GetTickCount() - start;
        if (spent >= budgetMs || *stopping) return;
        long left = static_cast<long>(budgetMs - spent);
        WaitWritable(s, left < kSliceMs ? left : kSliceMs);
    }
}

std::string Response(int code, const char* reason, const std::string& body, bool allowGet = false) {
    char head[256];
    snprintf(head, sizeof(head),
             "HTTP/1.1 %d %s\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: %u\r\n%s"
             "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
             code, reason, static_cast<unsigned>(body.size()), allowGet ? "Allow: GET\r\n" : "");
    return head + body;
}

// The reception thread may not wait on anyone: a refusal is what the socket takes at once.
void Refuse(SOCKET s, int code, const char* reason) {
    LONG notStopping = 0;
    SendAll(s, Response(code, reason, std::string()), 0, &notStopping);
    closesocket(s);
}

// A connection whose head is still being read.
struct Pending {
    SOCKET socket;
    DWORD since;
    std::string head;
};

// A complete head waiting for a worker.
struct Ready {
    SOCKET socket;
    std::string head;
};
}  // namespace

struct Lacewing::Webserver::Impl {
    Webserver* owner = nullptr;
    HandlerGet handler = nullptr;
    SOCKET listener = INVALID_SOCKET;
    int port = 0;
    bool wsa = false;
    volatile LONG stopping = 0;
    HANDLE receiver = nullptr;
    std::vector<HANDLE> workers;
    CRITICAL_SECTION lock;
    HANDLE queued = nullptr;  // semaphore: heads waiting for a worker
    std::deque<Ready> queue;
    std::deque<Pending> pending;  // oldest first; the reception thread's alone

    Impl(Webserver* server, HandlerGet get) : owner(server), handler(get) {
        InitializeCriticalSection(&lock);
        WSADATA data;
        wsa = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Impl() {
        DeleteCriticalSection(&lock);
        if (wsa) WSACleanup();
    }

    static DWORD WINAPI ReceiverMain(LPVOID p) {
        static_cast<Impl*>(p)->ReceiveLoop();
        return 0;
    }
    static DWORD WINAPI WorkerMain(LPVOID p) {
        static_cast<Impl*>(p)->WorkerLoop();
        return 0;
    }

    void Start(SOCKET s, int onPort) {
        SetNonBlocking(s);
        listener = s;
        port = onPort;
        queued = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
        receiver = CreateThread(nullptr, 0, ReceiverMain, this, 0, nullptr);
        if (!receiver) {
            closesocket(s);
            CloseHandle(queued);
            Forget();
            return;
        }
        for (int i = 0; i < kWorkers; ++i) {
            HANDLE w = CreateThread(nullptr, 0, WorkerMain, this, 0, nullptr);
            if (w) workers.push_back(w);
        }
    }

    void ReceiveLoop() {
        while (!stopping) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(listener, &readable);
            for (const Pending& p : pending) FD_SET(p.socket, &readable);
            timeval slice{0, kSliceMs * 1000};
            int ready = select(0, &readable, nullptr, nullptr, &slice);
            if (ready < 0) Sleep(kSliceMs);  // never spin on a select that keeps failing
            if (ready > 0) {
                // Reads before accepts: a newly accepted socket may reuse a closed one's value.
                ReadHeads(readable);
                if (FD_ISSET(listener, &readable)) AcceptAll();
            }
            DropExpired();
        }
        for (const Pending& p : pending) closesocket(p.socket);
        pending.clear();
        closesocket(listener);
    }

    void AcceptAll() {
        for (std::size_t i = 0; i < kMaxHeads; ++i) {
            SOCKET c = accept(listener, nullptr, nullptr);
            if (c == INVALID_SOCKET) return;
            SetNonBlocking(c);
            // Full: the longest waiting head makes room, so a new probe is never the one refused.
            if (pending.size() >= kMaxHeads) {
                Refuse(pending.front().socket, 408, "Request Timeout");
                pending.pop_front();
            }
            pending.push_back(Pending{c, GetTickCount(), std::string()});
        }
    }

    void ReadHeads(const fd_set& readable) {
        for (auto it = pending.begin(); it != pending.end();) {
            if (FD_ISSET(it->socket, &readable) && !ReadSome(*it)) {
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Takes what has arrived; false once the connection has left the reception thread.
    bool ReadSome(Pending& p) {
        char buf[4096];
        int n = recv(p.socket, buf, sizeof(buf), 0);
        if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return true;
        if (n <= 0) {
            closesocket(p.socket);
            return false;
        }
        p.head.append(buf, static_cast<std::size_t>(n));
        std::size_t end = p.head.find("\r\n\r\n");
        if (end == std::string::npos && p.head.size() <= kMaxHead) return true;
        if (end == std::string::npos || end + 4 > kMaxHead) {
            Refuse(p.socket, 400, "Bad Request");
        } else {
            HandOver(p);
        }
        return false;
    }

    void HandOver(Pending& p) {
        EnterCriticalSection(&lock);
        bool take = queue.size() < kMaxQueued;
        if (take) queue.push_back(Ready{p.socket, std::move(p.head)});
        LeaveCriticalSection(&lock);
        if (take) {
            ReleaseSemaphore(queued, 1, nullptr);
        } else {
            Refuse(p.socket, 503, "Service Unavailable");
        }
    }

    void DropExpired() {
        DWORD now = GetTickCount();
        for (auto it = pending.begin(); it != pending.end();) {
            if (now - it->since >= kHeadBudgetMs) {
                Refuse(it->socket, 408, "Request Timeout");
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
    }

    void WorkerLoop() {
        for (;;) {
            WaitForSingleObject(queued, INFINITE);
            if (stopping) return;
            EnterCriticalSection(&lock);
            bool got = !queue.empty();
            Ready r = got ? std::move(queue.front()) : Ready{INVALID_SOCKET, std::string()};
            if (got) queue.pop_front();
            LeaveCriticalSection(&lock);
            if (!got) continue;
            Serve(r.socket, r.head);
            closesocket(r.socket);
        }
    }

    void Reply(SOCKET c, int code, const char* reason, const std::string& body, bool allowGet = false) {
        SendAll(c, Response(code, reason, body, allowGet), kSendBudgetMs, &stopping);
    }

    void Serve(SOCKET c, const std::string& head) {
        std::string line = head.substr(0, head.find("\r\n"));
        std::size_t sp1 = line.find(' ');
        std::size_t sp2 = sp1 == std::string::npos ? std::string::npos : line.find(' ', sp1 + 1);
        if (sp1 == std::string::npos || sp2 == std::string::npos || sp1 == 0 || sp2 == sp1 + 1 ||
            line.compare(sp2 + 1, 5, "HTTP/") != 0) {
            Reply(c, 400, "Bad Request", std::string());
            return;
        }
        std::string method = line.substr(0, sp1);
        std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
        if (method != "GET") {
            Reply(c, 405, "Method Not Allowed", std::string(), true);
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
                Reply(c, 500, "Internal Server Error", std::string());
                return;
            }
        }
        Reply(c, 200, "OK", body);
    }

    // Ends hosting. False when a thread (a worker inside the owner's handler) outlived the wait: it
    // still uses this object, which must then never be freed.
    bool Stop() {
        if (!receiver) return true;
        InterlockedExchange(&stopping, 1);
        ReleaseSemaphore(queued, static_cast<LONG>(workers.size()), nullptr);
        std::vector<HANDLE> threads = workers;
        threads.push_back(receiver);
        DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, kStopWaitMs);
        for (HANDLE t : threads) CloseHandle(t);
        // Workers pop under the lock, so what is still queued is no thread's.
        EnterCriticalSection(&lock);
        for (const Ready& r : queue) closesocket(r.socket);
        queue.clear();
        LeaveCriticalSection(&lock);
        if (waited >= WAIT_OBJECT_0 + threads.size()) return false;
        CloseHandle(queued);
        Forget();
        InterlockedExchange(&stopping, 0);
        return true;
    }

    // Back to the state before Host; the listener is closed by then.
    void Forget() {
        receiver = nullptr;
        workers.clear();
        queued = nullptr;
        listener = INVALID_SOCKET;
        port = 0;
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

Lacewing::Webserver::Webserver() : Tag(nullptr), m_pImpl(new Impl(this, nullptr)) {}

// A server whose handler would not return leaves its state to that thread rather than free it under it.
Lacewing::Webserver::~Webserver() {
    if (m_pImpl->Stop()) delete m_pImpl;
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
    m_pImpl->Start(s, port);
}

bool Lacewing::Webserver::Hosting() { return m_pImpl->listener != INVALID_SOCKET; }

// The old state stays with a handler that would not return; hosting goes on with a fresh one.
void Lacewing::Webserver::Unhost() {
    if (!m_pImpl->Stop()) m_pImpl = new Impl(this, m_pImpl->handler);
}

int Lacewing::Webserver::Port() { return m_pImpl->port; }

void Lacewing::Utility::Pause(int milliseconds) { Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0); }
