// A raw WinSock client connection with bounded receives and sends, for talking to the stand-in.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "client/transfer/Protocol.h"

namespace provider_test {

class Client {
public:
    Client(const std::string& address, uint16_t port, int timeoutMs = 3000) {
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        DWORD timeout = DWORD(timeoutMs);
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        m_connected = connect(m_socket, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        if (!m_connected) m_error = WSAGetLastError();
    }
    ~Client() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool Connected() const { return m_connected; }
    int Error() const { return m_error; }
    // Sends everything, in as many pieces as the socket takes.
    bool Send(const protocol::Bytes& b) { return Send(b.data(), b.size()); }
    bool Send(const uint8_t* p, size_t size) {
        while (size > 0) {
            int n = send(m_socket, reinterpret_cast<const char*>(p), size > 65536 ? 65536 : int(size), 0);
            if (n <= 0) return false;
            p += n;
            size -= size_t(n);
        }
        return true;
    }
    // One send that does not wait: the bytes taken, 0 when the socket's buffers are full, -1 on
    // an error (in Error()).
    int SendNow(const uint8_t* p, size_t size) {
        u_long on = 1, off = 0;
        ioctlsocket(m_socket, FIONBIO, &on);
        int n = send(m_socket, reinterpret_cast<const char*>(p), size > 65536 ? 65536 : int(size), 0);
        int error = WSAGetLastError();
        ioctlsocket(m_socket, FIONBIO, &off);
        if (n >= 0) return n;
        if (error == WSAEWOULDBLOCK) return 0;
        m_error = error;
        return -1;
    }
    // recv of one byte: 1, 0 when the peer closed, -1 on an error (in Error()), e.g. a time-out.
    int ReceiveOne() {
        char byte;
        int n = recv(m_socket, &byte, 1, 0);
        if (n < 0) m_error = WSAGetLastError();
        return n;
    }
    void ShutdownSend() { shutdown(m_socket, SD_SEND); }
    // Closes now; `reset`: abortively (SO_LINGER 0), dropping whatever is still unsent.
    void Close(bool reset) {
        if (reset) {
            linger abortive = {1, 0};
            setsockopt(m_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
        }
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    protocol::Receive Fn() {
        return [this](void* buffer, int size) { return recv(m_socket, static_cast<char*>(buffer), size, 0); };
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
    bool m_connected = false;
    int m_error = 0;
};

}  // namespace provider_test
