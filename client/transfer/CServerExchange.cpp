#include "client/transfer/CServerExchange.h"

#include <cstring>

#include "client/app/CAppSettings.h"

CServerExchange::CServerExchange(UINT timeOutMs) : m_socket(m_ownSocket), m_nTimeOut(timeOutMs) {}

CServerExchange::CServerExchange(CTimeOutSocket& socket, UINT timeOutMs) : m_socket(socket), m_nTimeOut(timeOutMs) {}

CServerExchange::~CServerExchange() { Close(); }

bool CServerExchange::Connect(const CString& host, UINT port) {
    Close();
    if (!m_socket.Create()) return false;
    if (m_nTimeOut) m_socket.SetTimeOut(m_nTimeOut);
    if (!m_socket.Connect(host, port)) {
        Close();
        return false;
    }
    m_bConnected = true;
    return true;
}

bool CServerExchange::ConnectToControl() { return ConnectToControl(g_Settings.m_strServerAddr); }

bool CServerExchange::ConnectToControl(const CString& host) { return Connect(host, g_Settings.GetServerPort()); }

bool CServerExchange::Send(const protocol::Bytes& request) {
    if (!m_bConnected || request.empty()) return false;
    const int length = static_cast<int>(request.size());
    if (m_socket.Send(request.data(), length) == length) return true;
    Close();
    return false;
}

bool CServerExchange::Request(const protocol::Bytes& request, protocol::Bytes& reply) {
    reply.clear();
    protocol::PacketHeader header;
    if (request.size() < sizeof header) return false;
    std::memcpy(&header, request.data(), sizeof header);
    if (!protocol::HasReply(header.code) || !Send(request)) return false;
    CTimeOutSocket& s = m_socket;
    const protocol::Receive receive = [&s](void* buffer, int size) { return s.Receive(buffer, size); };
    if (protocol::ReadReplyTo(header.code, receive, reply)) return true;
    Close();
    return false;
}

void CServerExchange::Close() {
    if (m_socket.m_hSocket != INVALID_SOCKET) m_socket.Close();
    m_bConnected = false;
}
