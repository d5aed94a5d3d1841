// Stand-in of the session service: answers `authsession` over HTTP on one loopback address and
// keeps the exact bytes of every request it received.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace provider {

class SessionService {
public:
    enum class Reply {
        Result0,     // result 0: the session is valid
        Result1,     // result 1: refused
        Fault,       // a SOAP fault
        NoResult,    // a response element without "result"
        Html,        // an HTML page with status 200
        NotFound,    // status 404
        Silence,     // reads the request, never answers
        EarlyClose,  // reads the request and closes
        Custom,      // the body given to SetCustomBody, status 200
    };

    SessionService();
    ~SessionService();

    // Listens on address:port (port 14002 by default); false when it cannot bind.
    bool Start(const std::string& address, uint16_t port = 14002);
    void Stop();

    void SetReply(Reply reply);
    void SetCustomBody(const std::string& body);

    std::vector<std::string> Requests() const;  // every request as received, head and body
    std::string LastRequest() const;
    std::string LastBody() const;  // the last request's body (after the blank line)

    static std::string Envelope(const std::string& bodyContent);

private:
    void Run();
    void Serve(SOCKET client);
    bool ReadRequest(SOCKET client, std::string& request);
    std::string Response() const;

    SOCKET m_listener = INVALID_SOCKET;
    HANDLE m_stop = nullptr;
    std::thread m_thread;
    mutable std::mutex m_lock;
    Reply m_reply = Reply::Result0;
    std::string m_customBody;
    std::vector<std::string> m_requests;
};

}  // namespace provider
