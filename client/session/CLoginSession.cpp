#include "client/session/CLoginSession.h"

#include <string>

#include "client/app/Utf8.h"
#include "client/session/SessionService.h"
#include "client/transfer/CServerExchange.h"
#include "client/transfer/Protocol.h"
#include "trace/Trace.h"

CLoginSession g_LoginSession;

namespace {

std::string ToUtf8(const CString& s) {
    return text::Utf16ToUtf8(reinterpret_cast<const char16_t*>(s.GetString()), static_cast<size_t>(s.GetLength()));
}

CString FromAnsi(const char* bytes, int length) {
    CString out;
    if (length <= 0) return out;
    int n = MultiByteToWideChar(CP_ACP, 0, bytes, length, nullptr, 0);
    if (n <= 0) return out;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, length, &wide[0], n);
    out = wide.c_str();
    return out;
}

std::string ToAnsi(const CString& s) {
    if (s.GetLength() == 0) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, s.GetString(), s.GetLength(), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, s.GetString(), s.GetLength(), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

CLoginSession::CLoginSession() = default;

int CLoginSession::LoginExchange(const CString& mail, const CString* password) {
    protocol::Bytes request;
    // A name or password that does not fit its field is refused before anything goes out.
    bool built = password ? protocol::BuildLogin(ToUtf8(mail), ToUtf8(*password), request)
                          : protocol::BuildLoginBySession(ToUtf8(mail), request);
    protocol::LoginResult reply;
    bool accepted = false;
    if (built) {
        CServerExchange exchange;
        protocol::Bytes message;
        // A silent server ends as a refusal after the exchange's time-out; a reply shorter than
        // the 44 bytes is a refusal too.
        accepted = exchange.ConnectToControl() && exchange.Request(request, message) &&
                   protocol::ParseLoginReply(message.data(), message.size(), reply) && reply.accepted;
    }
    const wchar_t* step = password ? L"MSG_CODE_REQ_LOGIN" : L"MSG_CODE_REQ_LOGIN_BY_SESSION";
    if (!accepted) {
        GetLogNode()->Send(step, built ? L"refused" : L"name or password too long");
        m_bLoggedIn = false;
        return 0;
    }
    GetLogNode()->Send(step, L"accepted");
    m_nUsedSpace = reply.usedSpace;
    m_nTotalSpace = reply.totalSpace;
    m_strMail = mail;
    m_strPassword = password ? *password : CString();
    m_bLoggedIn = true;
    m_nUserId = reply.userId;
    return 1;
}

int CLoginSession::Login(CString mail, CString password) { return LoginExchange(mail, &password); }

int CLoginSession::LoginBySession(CString mail) { return LoginExchange(mail, nullptr); }

int CLoginSession::QuerySessionKey(CString user) {
    std::string userName = ToUtf8(user);
    protocol::Bytes request;
    if (!protocol::BuildSessionQuery(userName, request)) {
        GetLogNode()->Send(L"MSG_CODE_REQ_SESSION_QUERY", L"user name too long");
        return 0;  // too long for one message: nothing is sent
    }

    // Kept open until the session login is over: that login takes a second connection.
    CServerExchange query(kSessionQueryTimeOut);
    if (!query.ConnectToControl()) {
        GetLogNode()->Send(L"MSG_CODE_REQ_SESSION_QUERY", L"control server not reached");
        return 0;
    }
    protocol::Bytes reply;
    CString replyText;
    // A failed, timed-out, oversized or cut reply gives nothing to confirm.
    if (query.Request(request, reply)) {
        const char* body = reinterpret_cast<const char*>(reply.data()) + sizeof(protocol::PacketHeader);
        const size_t size = reply.size() - sizeof(protocol::PacketHeader);
        replyText = FromAnsi(body, static_cast<int>(text::FieldLength(body, size)));
    }
    CString sessionKey, bindId;
    if (!ExtractBetween(replyText, L"<SessionKey>", L"</SessionKey>", sessionKey) ||
        !ExtractBetween(replyText, L"<BindId>", L"</BindId>", bindId)) {
        GetLogNode()->Send(L"MSG_CODE_REQ_SESSION_QUERY", L"no session key or bind id in the reply");
        return 0;
    }

    session::AuthSessionOutcome outcome = session::CallAuthSession(userName, ToAnsi(sessionKey), ToAnsi(bindId));
    GetLogNode()->Send(L"authsession", outcome.Confirmed() ? L"session confirmed" : L"session not confirmed");
    if (outcome.Confirmed()) {
        m_bWebSession = true;
        LoginBySession(user);
    }
    return outcome.error;
}

BOOL ExtractBetween(CString text, CString start, CString end, CString& out) {
    out = CString();
    int first = text.Find(start.GetString());
    if (first < 0) return FALSE;
    first += start.GetLength();
    int last = text.Find(end.GetString(), first);
    if (last < 0) return FALSE;
    out = text.Mid(first, last - first);
    return TRUE;
}
