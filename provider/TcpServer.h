// A loopback TCP server with a thread per connection. Every wait is bounded and checks the stop
// flag, so destruction never hangs on a silent or stuck peer.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace provider {

// A listening socket on address:port (port 0: any free one), its bound address in `bound`;
// INVALID_SOCKET with the error kept for WSAGetLastError when it can't listen.
SOCKET ListenOn(const std::string& address, uint16_t port, sockaddr_in& bound);

class TcpServer {
public:
    TcpServer();
    virtual ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Binds address:port (port 0 picks one) and starts accepting. False when the bind fails.
    bool Start(const std::string& address, uint16_t port);
    // Stops accepting, ends every connection and waits for their threads.
    void Stop();
    // Closes the listening socket so that connects are refused; running connections go on.
    void CloseListener();
    // Listens again on the address and port of Start(); false when the bind fails.
    bool Reopen();
    bool Listening() const { return m_listen != INVALID_SOCKET; }
    uint16_t Port() const { return m_port; }
    bool Stopping() const { return m_stop; }
    // Connections whose socket is still open.
    size_t LiveConnections() const;

protected:
    // Runs on the connection's own thread; the socket is closed afterwards. Subclasses must call
    // Stop() in their destructor, before their members go.
    virtual void Serve(SOCKET connection) = 0;

    // Bounded helpers: false on close, error, or stop.
    bool ReceiveExact(SOCKET s, void* buffer, size_t size);
    int ReceiveSome(SOCKET s, void* buffer, int size);  // count, 0 closed, -1 error or stop
    bool SendAll(SOCKET s, const void* buffer, size_t size);
    // Sleeps up to ms, waking early on stop; false when stopping.
    bool Pause(int ms);
    // Leaves whatever arrives unread until stop, a reset, or a close with nothing unread before
    // it (a close behind unread bytes cannot be seen without reading them).
    void HoldUnread(SOCKET s);
    // Makes the close after Serve a reset (SO_LINGER 0, no FIN first), at once, whatever is unread.
    void Reset(SOCKET s);

private:
    bool Listen(const std::string& address, uint16_t port);
    void StopAccepting();
    void AcceptLoop();
    bool WaitReadable(SOCKET s);

    SOCKET m_listen = INVALID_SOCKET;
    uint16_t m_port = 0;
    std::string m_address;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_stopAccept{false};
    std::thread m_acceptThread;
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    mutable std::mutex m_mutex;
    std::list<Connection> m_connections;  // finished ones are joined at the next accept
    bool m_wsa = false;
};

}  // namespace provider
