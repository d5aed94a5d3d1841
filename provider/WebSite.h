// WebSite: stand-in of the provider's web server on loopback (the update server's version file,
// scripted pages for any other path), keeping every request as received. Also the HTTP framing
// the stand-in's HTTP services share: HttpReply, HttpRequestSize.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "provider/TcpServer.h"

namespace provider {

// A whole response that closes the connection after it; `extraHeaders` are header lines, each
// ended by CR LF, sent after the usual ones.
std::string HttpReply(const std::string& status, const std::string& contentType, const std::string& body,
                      const std::string& extraHeaders = std::string());
// The bytes a request takes in all (head, blank line and its Content-Length body); 0 while the
// head has not arrived whole.
size_t HttpRequestSize(const std::string& received);

class WebSite : public TcpServer {
public:
    static constexpr const char* kVersionPath = "/Quillex/version.txt";

    struct Page {
        int status = 200;
        std::string body;
        std::string charset;  // empty: the Content-Type names none
        std::string contentType = "text/html";
        // How long the answer is held back, as a slow server would (a stop ends the wait).
        int delayMs = 0;
        // Header lines of the peer's choosing, each ended by CR LF: long, odd or hostile ones.
        std::string extraHeaders;
    };
    struct Request {
        std::string method;
        std::string path;  // as sent, query included
        std::string head;  // the request line and the header lines, up to the blank line
        std::string body;
        // The value of the first header of that name (any case), or empty.
        std::string Header(const std::string& name) const;
        // How many header lines carry that name.
        int HeaderCount(const std::string& name) const;
    };

    WebSite() = default;
    ~WebSite() override { Stop(); }

    // The body of the version file, served as plain text.
    void SetVersionBody(const std::string& body);
    // The page for a path (compared without its query).
    void SetPage(const std::string& path, const Page& page);
    // What every path without a page of its own gets (404 at first).
    void SetDefaultPage(const Page& page);
    // A page whose body is made from each request (over the page set for that path).
    void SetResponder(const std::string& path, std::function<std::string(const Request&)> responder);

    size_t RequestCount() const;
    std::vector<Request> Requests() const;
    Request LastRequest() const;
    void ClearRequests();

protected:
    void Serve(SOCKET connection) override;

private:
    Page PageFor(const std::string& path) const;

    mutable std::mutex m_lock;
    std::map<std::string, Page> m_pages;
    std::map<std::string, std::function<std::string(const Request&)>> m_responders;
    Page m_defaultPage{404, "<html><body>Not Found</body></html>", "", "text/html"};
    std::vector<Request> m_requests;
};

}  // namespace provider
