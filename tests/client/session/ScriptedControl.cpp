#include "ScriptedControl.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

namespace sessiontest {

namespace {
void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put64(Bytes& b, uint64_t v) {
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
}  // namespace

Bytes LoginReplyBytes(uint32_t result, uint64_t used, uint64_t total, uint64_t userId) {
    Bytes b;
    Put32(b, 0x544E5246);
    Put32(b, 224);
    Put32(b, 32);
    Put32(b, result);
    Put32(b, 0);
    Put64(b, used);
    Put64(b, total);
    Put64(b, userId);
    return b;
}

Bytes SessionReplyBytes(const std::string& text) {
    Bytes b;
    Put32(b, 0x544E5246);
    Put32(b, 251);
    Put32(b, static_cast<uint32_t>(text.size()));
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

ScriptedControl::ScriptedControl() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

ScriptedControl::~ScriptedControl() {
    Stop();
    WSACleanup();
}

bool ScriptedControl::Start(const std::string& address, uint16_t port) {
    m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL reuse = TRUE;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(m_listen, 8) != 0) {
        int error = WSAGetLastError();
        closesocket(m_listen);
        m_listen = INVALID_SOCKET;
        WSASetLastError(error);  // for the caller's report
        return false;
    }
    m_stop = false;
    m_accept = std::thread([this] { AcceptLoop(); });
    return true;
}

void ScriptedControl::Stop() {
    if (!m_accept.joinable()) return;
    m_stop = true;
    m_accept.join();
    for (auto& t : m_threads) t.join();
    m_threads.clear();
    closesocket(m_listen);
    m_listen = INVALID_SOCKET;
}

void ScriptedControl::SetAnswer(uint32_t code, const Answer& answer) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_answers[code] = answer;
}

std::vector<Received> ScriptedControl::Requests() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_requests;
}

void ScriptedControl::ClearRequests() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_requests.clear();
}

bool ScriptedControl::Readable(SOCKET s) {
    while (!m_stop) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv = {0, 100000};
        int r = select(0, &set, nullptr, nullptr, &tv);
        if (r < 0) return false;
        if (r > 0) return true;
    }
    return false;
}

bool ScriptedControl::ReceiveExact(SOCKET s, uint8_t* p, size_t n) {
    size_t got = 0;
    while (got < n) {
        if (!Readable(s)) return false;
        int r = recv(s, reinterpret_cast<char*>(p + got), static_cast<int>(n - got), 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

void ScriptedControl::AcceptLoop() {
    while (Readable(m_listen)) {
        SOCKET s = accept(m_listen, nullptr, nullptr);
        if (s == INVALID_SOCKET) continue;
        std::lock_guard<std::mutex> hold(m_lock);
        int connection = ++m_connections;
        m_open.insert(connection);
        m_threads.emplace_back([this, s, connection] { Serve(s, connection); });
    }
}

void ScriptedControl::Serve(SOCKET s, int connection) {
    for (;;) {
        uint8_t head[12];
        if (!ReceiveExact(s, head, sizeof head)) break;
        uint32_t code, length;
        std::memcpy(&code, head + 4, 4);
        std::memcpy(&length, head + 8, 4);
        if (length > 4096) break;
        Received r;
        r.code = code;
        r.bytes.assign(head, head + 12);
        r.bytes.resize(12 + length);
        if (length && !ReceiveExact(s, r.bytes.data() + 12, length)) break;
        Answer answer;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            r.connection = connection;
            r.openConnections = m_open;
            m_requests.push_back(r);
            auto it = m_answers.find(code);
            if (it != m_answers.end())
                answer = it->second;
            else
                answer.kind = Answer::Close;
        }
        if (answer.kind == Answer::Close) break;
        if (answer.kind == Answer::Send) {
            size_t piece = answer.pieceBytes > 0 ? static_cast<size_t>(answer.pieceBytes) : answer.bytes.size();
            for (size_t at = 0; at < answer.bytes.size(); at += piece) {
                if (at) Sleep(20);
                size_t n = std::min(piece, answer.bytes.size() - at);
                send(s, reinterpret_cast<const char*>(answer.bytes.data() + at), static_cast<int>(n), 0);
            }
        }
        if (answer.closeAfter) break;
    }
    closesocket(s);
    std::lock_guard<std::mutex> hold(m_lock);
    m_open.erase(connection);
}

}  // namespace sessiontest
