// CAsyncSocket: a WinSock socket handle with the framework's calls; failures return FALSE or
// SOCKET_ERROR and leave the reason in GetLastError.
#pragma once

#include "framework/AfxSocketInit.h"
#include "framework/CString.h"

#include <winsock2.h>

class CAsyncSocket {
public:
    CAsyncSocket() = default;
    virtual ~CAsyncSocket();
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    // A socket of the type, bound to the port (0 = any) and address (null = any).
    BOOL Create(UINT socketPort = 0, int socketType = SOCK_STREAM,
                long events = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE,
                LPCTSTR socketAddress = nullptr);
    BOOL Attach(SOCKET s);
    SOCKET Detach();
    virtual void Close();

    // The host is a dotted address or a name resolved through the system.
    virtual BOOL Connect(LPCTSTR hostAddress, UINT hostPort);
    virtual BOOL Connect(const SOCKADDR* address, int length);
    virtual int Send(const void* buffer, int length, int flags = 0);
    virtual int Receive(void* buffer, int length, int flags = 0);
    BOOL Bind(UINT socketPort, LPCTSTR socketAddress = nullptr);
    BOOL Listen(int backlog = 5);
    virtual BOOL Accept(CAsyncSocket& connected, SOCKADDR* address = nullptr, int* length = nullptr);
    BOOL ShutDown(int how = 1) { return ::shutdown(m_hSocket, how) != SOCKET_ERROR; }
    BOOL SetSockOpt(int option, const void* value, int length, int level = SOL_SOCKET);
    BOOL GetSockOpt(int option, void* value, int* length, int level = SOL_SOCKET);
    BOOL IOCtl(long command, DWORD* argument);
    BOOL GetSockName(CString& address, UINT& port);
    BOOL GetPeerName(CString& address, UINT& port);

    static int GetLastError() { return ::WSAGetLastError(); }
    // IPv4 address of a dotted text or a host name; false when it does not resolve.
    static bool Resolve(LPCTSTR host, UINT port, SOCKADDR_IN& out);

    operator SOCKET() const { return m_hSocket; }
    SOCKET m_hSocket = INVALID_SOCKET;
};
