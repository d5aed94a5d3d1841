// CSocket: a socket whose Connect, Send, Receive and Accept block. While a call waits the
// thread's messages are looked at and OnMessagePending is called; CancelBlockingCall (from
// there) makes the pending call fail with WSAEINTR: Connect gives FALSE, Send and Receive -1.
#pragma once

#include "framework/CAsyncSocket.h"

class CSocket : public CAsyncSocket {
public:
    CSocket() = default;
    ~CSocket() override;

    BOOL Create(UINT socketPort = 0, int socketType = SOCK_STREAM, LPCTSTR socketAddress = nullptr);
    void Close() override;

    using CAsyncSocket::Connect;
    BOOL Connect(const SOCKADDR* address, int length) override;
    // Returns only when all of the buffer has gone (the length) or on failure (SOCKET_ERROR).
    int Send(const void* buffer, int length, int flags = 0) override;
    int Receive(void* buffer, int length, int flags = 0) override;
    BOOL Accept(CAsyncSocket& connected, SOCKADDR* address = nullptr, int* length = nullptr) override;

    BOOL IsBlocking() const { return m_bBlocking; }
    void CancelBlockingCall();

    // Called while a blocking call waits and messages may be pending; returning TRUE means a
    // message was handled. The base dispatches pending paint messages so windows stay drawn.
    virtual BOOL OnMessagePending();

protected:
    // Tick count at which the current blocking call began.
    DWORD BlockingCallStart() const { return m_dwBlockStart; }

private:
    bool EnsureEvents();
    // Waits until one of the network events arrives (true) or the call is cancelled (false,
    // WSAEINTR). A connect's own failure code is stored in *connectError.
    bool WaitFor(long events, int* connectError = nullptr);

    WSAEVENT m_hEvent = WSA_INVALID_EVENT;
    BOOL m_bBlocking = FALSE;
    BOOL m_bCancelled = FALSE;
    DWORD m_dwBlockStart = 0;
};
