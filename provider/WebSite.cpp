#include "provider/WebSite.h"

#include <cstdlib>

namespace provider {
namespace {

std::string Lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string StatusLine(int status) {
    const char* reason = "Status";
    switch (status) {
    case 200: reason = "OK"; break;
    case 302: reason = "Found"; break;
    case 404: reason = "Not Found"; break;
    case 500: reason = "Internal Server Error"; break;
    case 503: reason = "Service Unavailable"; break;
    }
    return std::to_string(status) + " " + reason;
}

// The header lines of a head (the request line left out), each as name and value.
std::vector<std::pair<std::string, std::string>> HeaderLines(const std::string& head) {
    std::vector<std::pair<std::string, std::string>> lines;
    size_t at = head.find("\r\n");
    while (at != std::string::npos) {
        size_t start = at + 2;
        size_t end = head.find("\r\n", start);
        std::string line = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t value = line.find_first_not_of(' ', colon + 1);
            lines.emplace_back(line.substr(0, colon), value == std::string::npos ? "" : line.substr(value));
        }
        at = end;
    }
    return lines;
}

}  // namespace

std::string HttpReply(const std::string& status, const std::string& contentType, const std::string& body,
                      const std::string& extraHeaders) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" + extraHeaders + "\r\n" +
           body;
}

size_t HttpRequestSize(const std::string& received) {
    size_t headEnd = received.find("\r\n\r\n");
    if (headEnd == std::string::npos) return 0;
    std::string head = Lower(received.substr(0, headEnd));
    size_t length = 0;
    size_t at = head.find("\r\ncontent-length:");
    if (at != std::string::npos) length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
    return headEnd + 4 + length;
}

std::string WebSite::Request::Header(const std::string& name) const {
    for (const auto& line : HeaderLines(head))
        if (Lower(line.first) == Lower(name)) return line.second;
    return std::string();
}

int WebSite::Request::HeaderCount(const std::string& name) const {
    int count = 0;
    for (const auto& line : HeaderLines(head))
        if (Lower(line.first) == Lower(name)) ++count;
    return count;
}

void WebSite::SetVersionBody(const std::string& body) { SetPage(kVersionPath, {200, body, "", "text/plain"}); }

void WebSite::SetPage(const std::string& path, const Page& page) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_pages[path] = page;
}

void WebSite::SetDefaultPage(const Page& page) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_defaultPage = page;
}

size_t WebSite::RequestCount() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_requests.size();
}

std::vector<WebSite::Request> WebSite::Requests() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_requests;
}

WebSite::Request WebSite::LastRequest() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_requests.empty() ? Request() : m_requests.back();
}

void WebSite::ClearRequests() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_requests.clear();
}

void WebSite::SetResponder(const std::string& path, std::function<std::string(const Request&)> responder) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_responders[path] = std::move(responder);
    m_pages.emplace(path, Page());
}

WebSite::Page WebSite::PageFor(const std::string& path) const {
    std::lock_guard<std::mutex> hold(m_lock);
    auto found = m_pages.find(path.substr(0, path.find('?')));
    return found == m_pages.end() ? m_defaultPage : found->second;
}

void WebSite::Serve(SOCKET connection) {
    std::string received;
    char buffer[4096];
    size_t wanted = 0;
    while (wanted == 0 || received.size() < wanted) {
        int n = ReceiveSome(connection, buffer, sizeof buffer);
        if (n <= 0) return;
        received.append(buffer, static_cast<size_t>(n));
        if (wanted == 0) wanted = HttpRequestSize(received);
    }
    Request request;
    size_t headEnd = received.find("\r\n\r\n");
    request.head = received.substr(0, headEnd);
    request.body = received.substr(headEnd + 4);
    std::string line = request.head.substr(0, request.head.find("\r\n"));
    size_t space = line.find(' ');
    request.method = line.substr(0, space);
    if (space != std::string::npos) request.path = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_requests.push_back(request);
    }
    Page page = PageFor(request.path);
    std::function<std::string(const Request&)> responder;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        auto found = m_responders.find(request.path.substr(0, request.path.find('?')));
        if (found != m_responders.end()) responder = found->second;
    }
    if (responder) page.body = responder(request);
    if (page.delayMs > 0 && !Pause(page.delayMs)) return;
    std::string type = page.contentType + (page.charset.empty() ? "" : "; charset=" + page.charset);
    std::string reply = HttpReply(StatusLine(page.status), type, page.body, page.extraHeaders);
    SendAll(connection, reply.data(), reply.size());
}

}  // namespace provider
