// ControlServer, DataServer: the control server (port 20000: login, lists, quota, announcement, rename, delete) and the
// data server (port 20001: one segment per connection) of the upload protocol.
#pragma once

#include "provider/ProviderState.h"
#include "provider/TcpServer.h"

namespace provider {

class ControlServer : public TcpServer {
public:
    explicit ControlServer(ProviderState& state) : m_state(state) {}
    ~ControlServer() override { Stop(); }

    // Largest request body taken; a longer announced body ends the connection.
    static const uint32_t kMaxRequestBody = 64 * 1024;

protected:
    void Serve(SOCKET connection) override;

private:
    // False when the connection is to be closed.
    bool SendReply(SOCKET s, uint32_t code, Bytes reply);
    ProviderState& m_state;
};

class DataServer : public TcpServer {
public:
    explicit DataServer(ProviderState& state) : m_state(state) {}
    ~DataServer() override { Stop(); }

    // Largest read of a data connection.
    static const uint32_t kDataChunk = 64 * 1024;

protected:
    void Serve(SOCKET connection) override;

private:
    ProviderState& m_state;
};

// Applies the reply-shaping parts of a fault (magic, length, count) to the reply to a request of
// `requestCode`.
void ShapeReply(const Fault& fault, uint32_t requestCode, Bytes& reply);

}  // namespace provider
