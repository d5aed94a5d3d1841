#include "framework/CSocket.h"

namespace {
// Longest sleep between two looks at the message queue: a timer that the queue's wake-up
// misses is still seen this soon.
const DWORD kPollMs = 20;
const long kAllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
}  // namespace

CSocket::~CSocket() { CSocket::Close(); }

BOOL CSocket::Create(UINT socketPort, int socketType, LPCTSTR socketAddress) {
    if (!CAsyncSocket::Create(socketPort, socketType, kAllEvents, socketAddress)) return FALSE;
    if (!EnsureEvents()) {
        int err = ::WSAGetLastError();
        CAsyncSocket::Close();
        ::WSASetLastError(err);
        return FALSE;
    }
    return TRUE;
}

bool CSocket::EnsureEvents() {
    if (m_hSocket == INVALID_SOCKET) {
        ::WSASetLastError(WSAENOTSOCK);
        return false;
    }
    if (m_hEvent == WSA_INVALID_EVENT) {
        m_hEvent = ::WSACreateEvent();
        if (m_hEvent == WSA_INVALID_EVENT) return false;
    }
    // Also makes the socket non-blocking: the waits below do the blocking.
    return ::WSAEventSelect(m_hSocket, m_hEvent, kAllEvents) != SOCKET_ERROR;
}

void CSocket::Close() {
    if (m_hSocket != INVALID_SOCKET && m_hEvent != WSA_INVALID_EVENT) ::WSAEventSelect(m_hSocket, nullptr, 0);
    CAsyncSocket::Close();
    if (m_hEvent != WSA_INVALID_EVENT) {
        ::WSACloseEvent(m_hEvent);
        m_hEvent = WSA_INVALID_EVENT;
    }
}

void CSocket::CancelBlockingCall() {
    if (m_bBlocking) m_bCancelled = TRUE;
}

BOOL CSocket::OnMessagePending() {
    MSG msg;
    if (::PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) {
        ::DispatchMessageW(&msg);
        return TRUE;
    }
    return FALSE;
}

bool CSocket::WaitFor(long events, int* connectError) {
    m_bBlocking = TRUE;
    m_bCancelled = FALSE;
    m_dwBlockStart = ::GetTickCount();
    bool ok = false;
    for (;;) {
        if (m_bCancelled) {
            ::WSASetLastError(WSAEINTR);
            break;
        }
        DWORD r = ::MsgWaitForMultipleObjects(1, &m_hEvent, FALSE, kPollMs, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) {
            WSANETWORKEVENTS ne = {};
            if (::WSAEnumNetworkEvents(m_hSocket, m_hEvent, &ne) == SOCKET_ERROR) break;
            if (connectError && (ne.lNetworkEvents & FD_CONNECT)) *connectError = ne.iErrorCode[FD_CONNECT_BIT];
            if (ne.lNetworkEvents & (events | FD_CLOSE)) {
                ok = true;
                break;
            }
            continue;
        }
        if (r == WAIT_FAILED) break;
        // A message arrived or the poll interval passed: let the socket look at the queue.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        OnMessagePending();
    }
    m_bBlocking = FALSE;
    m_bCancelled = FALSE;
    return ok;
}

BOOL CSocket::Connect(const SOCKADDR* address, int length) {
    if (!EnsureEvents()) return FALSE;
    if (::connect(m_hSocket, address, length) != SOCKET_ERROR) return TRUE;
    if (::WSAGetLastError() != WSAEWOULDBLOCK) return FALSE;
    int error = 0;
    for (;;) {
        error = -1;
        if (!WaitFor(FD_CONNECT, &error)) return FALSE;
        if (error != -1) break;  // woken by another event: keep waiting for the connect
    }
    if (error != 0) {
        ::WSASetLastError(error);
        return FALSE;
    }
    return TRUE;
}

int CSocket::Send(const void* buffer, int length, int flags) {
    if (length < 0 || (length > 0 && !buffer)) {
        ::WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    const char* p = static_cast<const char*>(buffer);
    int left = length;
    while (left > 0) {
        int n = ::send(m_hSocket, p, left, flags);
        if (n == SOCKET_ERROR) {
            if (::WSAGetLastError() != WSAEWOULDBLOCK) return SOCKET_ERROR;
            if (!WaitFor(FD_WRITE)) return SOCKET_ERROR;
            continue;
        }
        p += n;
        left -= n;
    }
    return length;
}

int CSocket::Receive(void* buffer, int length, int flags) {
    for (;;) {
        int n = ::recv(m_hSocket, static_cast<char*>(buffer), length, flags);
        if (n != SOCKET_ERROR) return n;
        if (::WSAGetLastError() != WSAEWOULDBLOCK) return SOCKET_ERROR;
        if (!WaitFor(FD_READ | FD_OOB)) return SOCKET_ERROR;
    }
}

BOOL CSocket::Accept(CAsyncSocket& connected, SOCKADDR* address, int* length) {
    for (;;) {
        SOCKET s = ::accept(m_hSocket, address, length);
        if (s != INVALID_SOCKET) {
            // The accepted socket inherits the event selection; give it back blocking mode.
            ::WSAEventSelect(s, nullptr, 0);
            u_long off = 0;
            ::ioctlsocket(s, FIONBIO, &off);
            connected.Attach(s);
            if (CSocket* blocking = dynamic_cast<CSocket*>(&connected)) blocking->EnsureEvents();
            return TRUE;
        }
        if (::WSAGetLastError() != WSAEWOULDBLOCK) return FALSE;
        if (!WaitFor(FD_ACCEPT)) return FALSE;
    }
}
