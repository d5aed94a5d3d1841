// CServerExchange: the one road by which the client talks to its servers. A connection with a
// time-out, whole requests, whole replies read by the protocol layer (per-message cap and
// header check), closed when the exchange object goes. Several requests may share one
// connection where a caller needs that (the reload of unfinished uploads).
#pragma once

#include <cstdint>

#include "client/transfer/Protocol.h"
#include "client/transfer/CTimeOutSocket.h"
#include "framework/CString.h"

class CServerExchange {
public:
    // How long a connect, send or receive may wait, in milliseconds.
    static const UINT kTimeOut = 5000;

    // On a socket of its own, or on a caller's member socket (closed again by Close()).
    explicit CServerExchange(UINT timeOutMs = kTimeOut);
    explicit CServerExchange(CTimeOutSocket& socket, UINT timeOutMs = kTimeOut);
    ~CServerExchange();
    CServerExchange(const CServerExchange&) = delete;
    CServerExchange& operator=(const CServerExchange&) = delete;

    bool Connect(const CString& host, UINT port);
    // The control server: the configured one, or the one at `host`, on the configured port.
    bool ConnectToControl();
    bool ConnectToControl(const CString& host);
    bool Connected() const { return m_bConnected; }
    // A request that has no reply (delete, rename): true once all of it went out.
    bool Send(const protocol::Bytes& request);
    // A request and its whole reply, read as the protocol layer reads replies to its code.
    // False (reply empty) when the connection, the send or the reply failed; the connection
    // is closed then, so no later request on it reads the rest of a broken reply.
    bool Request(const protocol::Bytes& request, protocol::Bytes& reply);
    void Close();

private:
    CTimeOutSocket m_ownSocket;
    CTimeOutSocket& m_socket;
    UINT m_nTimeOut;
    bool m_bConnected = false;
};
