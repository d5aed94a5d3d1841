#include "client/session/LoginSession.h"

#include <cstring>
#include <string>

#include "client/app/AppSettings.h"
#include "client/app/Utf8.h"
#include "client/session/SessionService.h"
#include "client/transfer/Protocol.h"
#include "client/transfer/TimeOutSocket.h"
#include "trace/Trace.h"

CLoginSession g_LoginSession;

namespace {

std::string ToUtf8(const CString& s) {
    return text::Utf16ToUtf8(reinterpret_cast<const char16_t*>(s.GetString()), static_cast<size_t>(s.GetLength()));
}

CString FromAnsi(const char* bytes, int length) {
    CString out;
    if (length <= 0)
        return out;
    int n = MultiByteToWideChar(CP_ACP, 0, bytes, length, nullptr, 0);
    if (n <= 0)
        return out;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, length, &wide[0], n);
    out = wide.c_str();
    return out;
}

std::string ToAnsi(const CString& s) {
    if (s.GetLength() == 0)
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, s.GetString(), s.GetLength(), nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, s.GetString(), s.GetLength(), &out[0], n, nullptr, nullptr);
    return out;
}

protocol::Receive ReceiveFrom(CTimeOutSocket& socket) {
    return [&socket](void* buffer, int size) { return socket.Receive(buffer, size); };
}

bool Connect(CTimeOutSocket& socket) {
    return socket.Create() && socket.Connect(g_Settings.m_strServerAddr, g_Settings.GetServerPort());
}

bool SendAll(CTimeOutSocket& socket, const protocol::Bytes& message) {
    return socket.Send(message.data(), static_cast<int>(message.size())) == static_cast<int>(message.size());
}

bool HasBothMarkers(const char* text) {
    const char* key = std::strstr(text, "</SessionKey>");
    const char* bind = std::strstr(text, "</BindId>");
    return key && bind;
}

// The session reply: at most 1024 bytes, header fields unread. Reading stops when both closing
// markers are in, when the header's announced length has come, or at a close, error or time-out.
int ReceiveSessionReply(CTimeOutSocket& socket, char* area, int size) {
    int got = 0;
    while (got < size) {
        int n = socket.Receive(area + got, size - got);
        if (n <= 0)
            break;
        got += n;
        if (got >= static_cast<int>(sizeof(protocol::PacketHeader))) {
            if (HasBothMarkers(area + sizeof(protocol::PacketHeader)))
                break;
            protocol::PacketHeader header;
            std::memcpy(&header, area, sizeof header);
            if (header.bodyLength != 0 &&
                static_cast<uint64_t>(got) >= sizeof header + static_cast<uint64_t>(header.bodyLength))
                break;
        }
    }
    return got;
}

}  // namespace

CLoginSession::CLoginSession() = default;

int CLoginSession::LoginExchange(uint32_t code, const CString& mail, const CString* password) {
    protocol::Bytes request;
    // A name or password that does not fit its field is refused before anything goes out.
    bool built = password ? protocol::BuildLogin(ToUtf8(mail), ToUtf8(*password), request)
                          : protocol::BuildLoginBySession(ToUtf8(mail), request);
    protocol::LoginResult reply;
    bool accepted = false;
    if (built) {
        CTimeOutSocket socket;
        if (Connect(socket) && SendAll(socket, request)) {
            protocol::Bytes message;
            // Only a whole 44-byte reply counts; anything shorter is a refusal.
            accepted = protocol::ReadFixedReply(ReceiveFrom(socket), sizeof(protocol::LoginReply), message) &&
                       protocol::ParseLoginReply(message.data(), message.size(), reply) && reply.accepted;
        }
        socket.Close();
    }
    const wchar_t* step = password ? L"MSG_CODE_REQ_LOGIN" : L"MSG_CODE_REQ_LOGIN_BY_SESSION";
    if (!accepted) {
        GetLogNode()->Send(step, built ? L"refused" : L"name or password too long");
        m_bLoggedIn = 0;
        return 0;
    }
    GetLogNode()->Send(step, L"accepted");
    m_nUsedSpace = reply.usedSpace;
    m_nTotalSpace = reply.totalSpace;
    m_strMail = mail;
    m_strPassword = password ? *password : CString();
    m_bLoggedIn = 1;
    m_nUserId = reply.userId;
    return 1;
}

int CLoginSession::Login(CString mail, CString password) {
    return LoginExchange(protocol::MSG_CODE_REQ_LOGIN, mail, &password);
}

int CLoginSession::LoginBySession(CString mail) {
    return LoginExchange(protocol::MSG_CODE_REQ_LOGIN_BY_SESSION, mail, nullptr);
}

int CLoginSession::QuerySessionKey(CString user) {
    std::string userName = ToUtf8(user);
    protocol::Bytes request;
    if (!protocol::BuildSessionQuery(userName, request)) {
        GetLogNode()->Send(L"MSG_CODE_REQ_SESSION_QUERY", L"user name too long");
        return 0;  // too long for one message: nothing is sent
    }

    CTimeOutSocket socket;
    if (!socket.Create()) {
        socket.Close();
        return 0;
    }
    socket.SetTimeOut(kSessionQueryTimeOut);
    if (!socket.Connect(g_Settings.m_strServerAddr, g_Settings.GetServerPort()) || !SendAll(socket, request)) {
        GetLogNode()->Send(L"MSG_CODE_REQ_SESSION_QUERY", L"control server not reached");
        socket.Close();
        return 0;
    }

    const int kReplyLimit = static_cast<int>(protocol::kSessionQueryLimit);
    char area[2048] = {};
    int got = ReceiveSessionReply(socket, area, kReplyLimit);
    const int head = static_cast<int>(sizeof(protocol::PacketHeader));
    CString replyText;
    if (got > head)
        replyText = FromAnsi(area + head, static_cast<int>(std::strlen(area + head)));
    CString sessionKey, bindId;
    // A failed, timed-out, short or incomplete reply gives nothing to confirm.
    if (!ExtractBetween(replyText, L"<SessionKey>", L"</SessionKey>", sessionKey) ||
        !ExtractBetween(replyText, L"<BindId>", L"</BindId>", bindId)) {
        GetLogNode()->Send(L"MSG_CODE_REQ_SESSION_QUERY", L"no session key or bind id in the reply");
        socket.Close();
        return 0;
    }

    session::AuthSessionOutcome outcome = session::CallAuthSession(userName, ToAnsi(sessionKey), ToAnsi(bindId));
    GetLogNode()->Send(L"authsession", outcome.Confirmed() ? L"session confirmed" : L"session not confirmed");
    if (outcome.Confirmed()) {
        m_bWebSession = 1;
        LoginBySession(user);
    }
    socket.Close();
    return outcome.error;
}

BOOL ExtractBetween(CString text, CString start, CString end, CString& out) {
    out = CString();
    int first = text.Find(start.GetString());
    if (first < 0)
        return FALSE;
    first += start.GetLength();
    int last = text.Find(end.GetString(), first);
    if (last < 0)
        return FALSE;
    out = text.Mid(first, last - first);
    return TRUE;
}
