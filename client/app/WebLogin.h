// LoginCheck, and what the web-started login makes of a launch text over plain strings: the check to ask
// the web-mail server, whether that server is one of the deployment's, whether the text names the
// user already logged in, and whether the server's answer accepts the session.
#pragma once

#include <string>

namespace weblogin {

// Path of the web-mail server's session check, after the host.
constexpr const wchar_t kCheckPath[] = L"/mail/login/opt/loginAction_loginCheck.do";

// The check cut out of a launch text "url=" host "&usr=" user "&sid=" session: the URL
// "http://" host kCheckPath "?" "usr=" user "&sid=" session, split at its first '?'.
struct LoginCheck {
    std::wstring host;
    std::wstring user;
    std::wstring url;   // up to the first '?'
    std::wstring body;  // after it
};

// Empty, or all three parts left empty: no web session is handed over.
bool HandsOverNothing(const std::wstring& text);

// False when a key is missing, or the keys are not in their order with '&' between them.
bool CutLoginCheck(const std::wstring& text, LoginCheck& out);

// `host` is one of the ';'-separated entries of `trusted`, whole (letters in any case). Only such a
// server is asked: the launch text comes from any page, and a server it names could answer yes.
bool IsTrustedHost(const std::wstring& host, const std::wstring& trusted);

// The text hands over the session of exactly `current`, a non-empty user.
bool NamesUser(const std::wstring& text, const std::wstring& current);

// The web-mail server's answer accepts the session.
bool Accepted(const std::wstring& answer);

// The check's extra request headers for a body of `bodyBytes` bytes.
std::wstring CheckHeaders(size_t bodyBytes);

}  // namespace weblogin
