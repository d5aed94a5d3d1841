#include "client/session/CLoginSession.h"

#include <string>

#include "client/app/CAppSettings.h"
#include "client/session/SessionService.h"
#include "client/transfer/CServerExchange.h"
#include "client/transfer/Protocol.h"
#include "trace/Trace.h"

CLoginSession g_LoginSession;

CLoginSession::CLoginSession() = default;

int CLoginSession::LoginExchange(const CString& mail, const CString* password, const protocol::Bytes& request) {
    // A name or password that does not fit its field is refused before anything goes out.
    const bool built = !request.empty();
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

int CLoginSession::Login(CString mail, CString password) {
    protocol::Bytes request;
    if (!protocol::BuildLogin(WideToUtf8String(mail), WideToUtf8String(password), request)) request.clear();
    return LoginExchange(mail, &password, request);
}

int CLoginSession::LoginBySession(CString mail) {
    protocol::Bytes request;
    if (!protocol::BuildLoginBySession(WideToUtf8String(mail), request)) request.clear();
    return LoginExchange(mail, nullptr, request);
}

bool CLoginSession::BuildSessionMessages(const CString& user, SessionMessages& out) {
    out = SessionMessages();
    out.user = user;
    out.userName = WideToUtf8String(user);
    if (!protocol::BuildSessionQuery(out.userName, out.query)) out.query.clear();
    if (!protocol::BuildLoginBySession(out.userName, out.login)) out.login.clear();
    return !out.query.empty() && !out.login.empty();
}

int CLoginSession::QuerySessionKey(CString user) {
    SessionMessages messages;
    BuildSessionMessages(user, messages);
    return QuerySessionKey(messages);
}

int CLoginSession::QuerySessionKey(const SessionMessages& messages) {
    if (messages.query.empty()) {
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
    // The reply's header says nothing that counts; a reply that did not even bring a header
    // gives nothing to confirm.
    if (query.Request(messages.query, reply)) {
        const std::string text = protocol::SessionReplyText(reply.data(), reply.size());
        replyText = AnsiToWide(text.data(), static_cast<int>(text.size()));
    }
    CString sessionKey, bindId;
    if (!ExtractBetween(replyText, L"<SessionKey>", L"</SessionKey>", sessionKey) ||
        !ExtractBetween(replyText, L"<BindId>", L"</BindId>", bindId)) {
        GetLogNode()->Send(L"MSG_CODE_REQ_SESSION_QUERY", L"no session key or bind id in the reply");
        return 0;
    }

    session::AuthSessionOutcome outcome =
        session::CallAuthSession(messages.userName, WideToAnsi(sessionKey), WideToAnsi(bindId));
    GetLogNode()->Send(L"authsession", outcome.Confirmed() ? L"session confirmed" : L"session not confirmed");
    if (outcome.Confirmed()) {
        m_bWebSession = true;
        LoginExchange(messages.user, nullptr, messages.login);
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
