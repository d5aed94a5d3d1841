// Who is logged in, and the exchanges with the control server that get there: a login by mail
// and password, or a web session confirmed by the session service and then a session login.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "client/transfer/Protocol.h"
#include "framework/CString.h"

class CLoginSession {
public:
    // The session query and the session login of one web user, built before anything is sent.
    struct SessionMessages {
        CString user;
        std::string userName;  // UTF-8, as the session service takes it
        protocol::Bytes query;
        protocol::Bytes login;
    };
    // False when the user does not fit the fields of either message.
    static bool BuildSessionMessages(const CString& user, SessionMessages& out);

    CLoginSession();

    // 1 when the control server accepted the login, else 0 (also when it stays silent past the
    // exchange's time-out).
    int Login(CString mail, CString password);
    // The same exchange without a password, for a confirmed web session.
    int LoginBySession(CString mail);
    // Asks the control server for the user's session key and bind id, has the session service
    // confirm them and then logs in by session. 0 when the control server gave no usable
    // answer, else the session service call's error code (0 when the call succeeded); the
    // outcome is IsLoggedIn().
    int QuerySessionKey(CString user);
    int QuerySessionKey(const SessionMessages& messages);
    int IsLoggedIn() const { return m_bLoggedIn ? 1 : 0; }

    CString m_strMail;
    CString m_strPassword;
    uint64_t m_nUsedSpace = 0;
    uint64_t m_nTotalSpace = 0;
    bool m_bLoggedIn = false;
    bool m_bWebSession = false;
    uint64_t m_nUserId = 0;

    // How long the session query may wait for the control server.
    static const UINT kSessionQueryTimeOut = 5000;

private:
    // A login by mail and password, or by session when there is no password; `request` is that
    // login's message, or empty when it did not fit.
    int LoginExchange(const CString& mail, const CString* password, const protocol::Bytes& request);
};

extern CLoginSession g_LoginSession;

// out := the text between the first `start` and the first `end` after it. Both markers must be
// found in that order; otherwise out is empty and the result FALSE.
BOOL ExtractBetween(CString text, CString start, CString end, CString& out);
