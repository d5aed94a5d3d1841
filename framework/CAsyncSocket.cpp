#include "framework/CAsyncSocket.h"

#include <ws2tcpip.h>

CAsyncSocket::~CAsyncSocket() {
    if (m_hSocket != INVALID_SOCKET) CAsyncSocket::Close();
}

BOOL CAsyncSocket::Create(UINT socketPort, int socketType, long, LPCTSTR socketAddress) {
    if (m_hSocket != INVALID_SOCKET) {
        ::WSASetLastError(WSAEISCONN);
        return FALSE;
    }
    SOCKET s = ::socket(AF_INET, socketType, 0);
    if (s == INVALID_SOCKET) return FALSE;
    m_hSocket = s;
    if (socketPort != 0 || (socketAddress && *socketAddress)) {
        if (!Bind(socketPort, socketAddress)) {
            int err = ::WSAGetLastError();
            Close();
            ::WSASetLastError(err);
            return FALSE;
        }
    }
    return TRUE;
}

BOOL CAsyncSocket::Attach(SOCKET s) {
    if (s == INVALID_SOCKET) return FALSE;
    m_hSocket = s;
    return TRUE;
}

SOCKET CAsyncSocket::Detach() {
    SOCKET s = m_hSocket;
    m_hSocket = INVALID_SOCKET;
    return s;
}

void CAsyncSocket::Close() {
    if (m_hSocket != INVALID_SOCKET) {
        ::closesocket(m_hSocket);
        m_hSocket = INVALID_SOCKET;
    }
}

bool CAsyncSocket::Resolve(LPCTSTR host, UINT port, SOCKADDR_IN& out) {
    ZeroMemory(&out, sizeof(out));
    out.sin_family = AF_INET;
    out.sin_port = htons(static_cast<u_short>(port));
    if (!host || !*host) {
        out.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    // Host names go to the resolver in the ANSI code page.
    CStringA name(host);
    unsigned long dotted = ::inet_addr(name);
    if (dotted != INADDR_NONE || name == "255.255.255.255") {
        out.sin_addr.s_addr = dotted;
        return true;
    }
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(name, nullptr, &hints, &found);
    if (rc != 0 || !found) {
        ::WSASetLastError(rc ? rc : WSAHOST_NOT_FOUND);
        return false;
    }
    out.sin_addr = reinterpret_cast<SOCKADDR_IN*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

BOOL CAsyncSocket::Connect(LPCTSTR hostAddress, UINT hostPort) {
    SOCKADDR_IN address;
    if (!Resolve(hostAddress, hostPort, address)) return FALSE;
    return Connect(reinterpret_cast<const SOCKADDR*>(&address), sizeof(address));
}

BOOL CAsyncSocket::Connect(const SOCKADDR* address, int length) {
    return ::connect(m_hSocket, address, length) != SOCKET_ERROR;
}

int CAsyncSocket::Send(const void* buffer, int length, int flags) {
    return ::send(m_hSocket, static_cast<const char*>(buffer), length, flags);
}

int CAsyncSocket::Receive(void* buffer, int length, int flags) {
    return ::recv(m_hSocket, static_cast<char*>(buffer), length, flags);
}

BOOL CAsyncSocket::Bind(UINT socketPort, LPCTSTR socketAddress) {
    SOCKADDR_IN address;
    if (!Resolve(socketAddress, socketPort, address)) return FALSE;
    return ::bind(m_hSocket, reinterpret_cast<SOCKADDR*>(&address), sizeof(address)) != SOCKET_ERROR;
}

BOOL CAsyncSocket::Listen(int backlog) { return ::listen(m_hSocket, backlog) != SOCKET_ERROR; }

BOOL CAsyncSocket::Accept(CAsyncSocket& connected, SOCKADDR* address, int* length) {
    SOCKET s = ::accept(m_hSocket, address, length);
    if (s == INVALID_SOCKET) return FALSE;
    connected.Attach(s);
    return TRUE;
}

BOOL CAsyncSocket::SetSockOpt(int option, const void* value, int length, int level) {
    return ::setsockopt(m_hSocket, level, option, static_cast<const char*>(value), length) != SOCKET_ERROR;
}

BOOL CAsyncSocket::GetSockOpt(int option, void* value, int* length, int level) {
    return ::getsockopt(m_hSocket, level, option, static_cast<char*>(value), length) != SOCKET_ERROR;
}

BOOL CAsyncSocket::IOCtl(long command, DWORD* argument) {
    return ::ioctlsocket(m_hSocket, command, reinterpret_cast<u_long*>(argument)) != SOCKET_ERROR;
}

namespace {
BOOL NameOf(const SOCKADDR_IN& a, CString& address, UINT& port) {
    address = CString(::inet_ntoa(a.sin_addr));
    port = ntohs(a.sin_port);
    return TRUE;
}
}  // namespace

BOOL CAsyncSocket::GetSockName(CString& address, UINT& port) {
    SOCKADDR_IN a;
    int len = sizeof(a);
    if (::getsockname(m_hSocket, reinterpret_cast<SOCKADDR*>(&a), &len) == SOCKET_ERROR) return FALSE;
    return NameOf(a, address, port);
}

BOOL CAsyncSocket::GetPeerName(CString& address, UINT& port) {
    SOCKADDR_IN a;
    int len = sizeof(a);
    if (::getpeername(m_hSocket, reinterpret_cast<SOCKADDR*>(&a), &len) == SOCKET_ERROR) return FALSE;
    return NameOf(a, address, port);
}
