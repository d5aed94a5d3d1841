// A control server for the login tests: answers each message code with scripted bytes and keeps
// what it received, with the number of connections open when each message arrived.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace sessiontest {

using Bytes = std::vector<uint8_t>;

struct Answer {
    enum Kind { Send, Close, Silence } kind = Send;
    Bytes bytes;              // sent as they are (a short reply is just fewer bytes)
    bool closeAfter = false;  // close the connection once they are sent
    int pieceBytes = 0;       // send in pieces of this size, a little apart
};

struct Received {
    uint32_t code = 0;
    Bytes bytes;  // header and body
    int connection = 0;
    std::set<int> openConnections;  // connections open when it arrived
};

class ScriptedControl {
public:
    ScriptedControl();
    ~ScriptedControl();
    bool Start(const std::string& address, uint16_t port = 20000);
    void Stop();
    void SetAnswer(uint32_t code, const Answer& answer);
    std::vector<Received> Requests() const;
    void ClearRequests();

private:
    void AcceptLoop();
    void Serve(SOCKET s, int connection);
    bool Readable(SOCKET s);
    bool ReceiveExact(SOCKET s, uint8_t* p, size_t n);

    SOCKET m_listen = INVALID_SOCKET;
    std::atomic<bool> m_stop{false};
    std::thread m_accept;
    mutable std::mutex m_lock;
    std::list<std::thread> m_threads;
    std::map<uint32_t, Answer> m_answers;
    std::vector<Received> m_requests;
    std::set<int> m_open;
    int m_connections = 0;
};

// A login reply: header {magic, code, 32} and the body the client reads.
Bytes LoginReplyBytes(uint32_t result, uint64_t used, uint64_t total, uint64_t userId);
// A session-query reply: header and the given text.
Bytes SessionReplyBytes(const std::string& text);

}  // namespace sessiontest
