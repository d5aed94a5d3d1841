#include "provider/SessionService.h"

#include "provider/TcpServer.h"
#include "provider/WebSite.h"

#include <ws2tcpip.h>

namespace provider {
namespace {

// Waits up to `ms` for the socket to become readable, or for the stop event.
bool WaitReadable(SOCKET s, HANDLE stop, DWORD ms) {
    WSAEVENT event = WSACreateEvent();
    WSAEventSelect(s, event, FD_READ | FD_CLOSE | FD_ACCEPT);
    HANDLE handles[2] = {event, stop};
    DWORD r = WaitForMultipleObjects(2, handles, FALSE, ms);
    WSAEventSelect(s, nullptr, 0);
    WSACloseEvent(event);
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    return r == WAIT_OBJECT_0;
}

}  // namespace

SessionService::SessionService() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

SessionService::~SessionService() {
    Stop();
    CloseHandle(m_stop);
    WSACleanup();
}

bool SessionService::Start(const std::string& address, uint16_t port) {
    sockaddr_in bound = {};
    m_listener = ListenOn(address, port, bound);
    if (m_listener == INVALID_SOCKET) return false;
    ResetEvent(m_stop);
    m_thread = std::thread([this] { Run(); });
    return true;
}

void SessionService::Stop() {
    if (!m_thread.joinable()) return;
    SetEvent(m_stop);
    m_thread.join();
    closesocket(m_listener);
    m_listener = INVALID_SOCKET;
}

void SessionService::SetReply(Reply reply) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_reply = reply;
}

void SessionService::SetCustomBody(const std::string& body) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_reply = Reply::Custom;
    m_customBody = body;
}

std::vector<std::string> SessionService::Requests() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_requests;
}

std::string SessionService::LastRequest() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_requests.empty() ? std::string() : m_requests.back();
}

std::string SessionService::LastBody() const {
    std::string request = LastRequest();
    size_t end = request.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : request.substr(end + 4);
}

std::string SessionService::Envelope(const std::string& bodyContent) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:ns2=\"urn:qxd\" "
           "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
           "<SOAP-ENV:Body>" +
           bodyContent + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string SessionService::Response() const {
    std::lock_guard<std::mutex> hold(m_lock);
    const char* xml = "text/xml; charset=utf-8";
    switch (m_reply) {
    case Reply::Result0:
        return HttpReply("200 OK", xml,
                         Envelope("<ns2:authsessionResponse><result xsi:type=\"xsd:int\">0</result>"
                                  "</ns2:authsessionResponse>"));
    case Reply::Result1:
        return HttpReply("200 OK", xml,
                         Envelope("<ns2:authsessionResponse><result xsi:type=\"xsd:int\">1</result>"
                                  "</ns2:authsessionResponse>"));
    case Reply::Fault:
        return HttpReply("500 Internal Server Error", xml,
                         Envelope("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>"
                                  "<faultstring>session unknown</faultstring></SOAP-ENV:Fault>"));
    case Reply::NoResult:
        return HttpReply("200 OK", xml, Envelope("<ns2:authsessionResponse></ns2:authsessionResponse>"));
    case Reply::Html: return HttpReply("200 OK", "text/html", "<html><body><h1>Welcome</h1></body></html>");
    case Reply::NotFound: return HttpReply("404 Not Found", "text/html", "<html><body>Not Found</body></html>");
    case Reply::Custom: return HttpReply("200 OK", xml, m_customBody);
    default: return std::string();
    }
}

bool SessionService::ReadRequest(SOCKET client, std::string& request) {
    char buffer[4096];
    size_t wanted = 0;
    for (;;) {
        if (wanted != 0 && request.size() >= wanted) return true;
        if (!WaitReadable(client, m_stop, 15000)) return false;
        int n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return !request.empty();
        request.append(buffer, n);
        if (wanted == 0) wanted = HttpRequestSize(request);
    }
}

void SessionService::Serve(SOCKET client) {
    std::string request;
    bool complete = ReadRequest(client, request);
    Reply reply;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (!request.empty()) m_requests.push_back(request);
        reply = m_reply;
    }
    if (complete) {
        if (reply == Reply::Silence) {
            WaitForSingleObject(m_stop, INFINITE);
        } else if (reply != Reply::EarlyClose) {
            std::string response = Response();
            send(client, response.data(), static_cast<int>(response.size()), 0);
            shutdown(client, SD_SEND);
        }
    }
    closesocket(client);
}

void SessionService::Run() {
    while (WaitReadable(m_listener, m_stop, INFINITE)) {
        SOCKET client = accept(m_listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        Serve(client);
    }
}

}  // namespace provider
