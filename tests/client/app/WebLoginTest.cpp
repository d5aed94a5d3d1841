#include "client/app/WebLogin.h"

#include <gtest/gtest.h>

namespace {

using weblogin::LoginCheck;

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

TEST(WebLogin, NothingHandedOver) {
    EXPECT_TRUE(weblogin::HandsOverNothing(L""));
    EXPECT_TRUE(weblogin::HandsOverNothing(L"url=&usr=&sid="));
    EXPECT_TRUE(weblogin::HandsOverNothing(L"C:\\Ferrant.exe url=&usr=&sid="));
    EXPECT_FALSE(weblogin::HandsOverNothing(L"url=H&usr=U&sid=S"));
}

struct CutCase {
    const wchar_t* text;
    bool ok;
    const char* host;
    const char* user;
    const char* url;
    const char* body;
};

TEST(WebLogin, CutsTheCheckOutOfTheText) {
    const CutCase cases[] = {
        {L"url=H&usr=U&sid=S", true, "H", "U", "http://H/mail/login/opt/loginAction_loginCheck.do", "usr=U&sid=S"},
        {L"url=mail.example.com:8080/web&usr=a@b.c&sid=x&y=z", true, "mail.example.com:8080/web", "a@b.c",
         "http://mail.example.com:8080/web/mail/login/opt/loginAction_loginCheck.do", "usr=a@b.c&sid=x&y=z"},
        // A '?' in the host ends the request URL, a '&' in it the user; the host then matches no
        // trusted entry.
        {L"url=h?x&y&usr=U&sid=S", true, "h?x&y", "", "http://h",
         "x&y/mail/login/opt/loginAction_loginCheck.do?usr=U&sid=S"},
        {L"url=H&usr=&sid=S", true, "H", "", "http://H/mail/login/opt/loginAction_loginCheck.do", "usr=&sid=S"},
        {L"url=&usr=U&sid=S", true, "", "U", "http:///mail/login/opt/loginAction_loginCheck.do", "usr=U&sid=S"},
        {L"url=H&usr=U", false, "", "", "", ""},
        {L"usr=U&sid=S", false, "", "", "", ""},
        {L"usr=U&sid=S&url=H", false, "", "", "", ""},
        {L"url=Husr=U&sid=S", false, "", "", "", ""},
        {L"hello", false, "", "", "", ""},
    };
    for (const CutCase& c : cases) {
        LoginCheck check;
        SCOPED_TRACE(Narrow(c.text));
        ASSERT_EQ(c.ok, weblogin::CutLoginCheck(c.text, check));
        EXPECT_EQ(c.host, Narrow(check.host));
        EXPECT_EQ(c.user, Narrow(check.user));
        EXPECT_EQ(c.url, Narrow(check.url));
        EXPECT_EQ(c.body, Narrow(check.body));
    }
}

TEST(WebLogin, TrustsOnlyWholeDeploymentHosts) {
    const std::wstring trusted = L"mail.example.com;127.0.0.20:8080";
    struct {
        const wchar_t* host;
        bool trusted;
    } cases[] = {
        {L"mail.example.com", true},
        {L"MAIL.Example.COM", true},
        {L"127.0.0.20:8080", true},
        {L"127.0.0.20", false},
        {L"127.0.0.20:8081", false},
        {L"mail.example.com.evil.net", false},
        {L"evil.net/mail.example.com", false},
        {L"mail.example.com@evil.net", false},
        {L"mail.example.com?", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.host));
        EXPECT_EQ(c.trusted, weblogin::IsTrustedHost(c.host, trusted));
    }
    EXPECT_FALSE(weblogin::IsTrustedHost(L"mail.example.com", L""));
    EXPECT_FALSE(weblogin::IsTrustedHost(L"", L";;"));
}

TEST(WebLogin, NamesExactlyTheCurrentUser) {
    EXPECT_TRUE(weblogin::NamesUser(L"url=H&usr=a@b.c&sid=S", L"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(L"url=H&usr=xa@b.c&sid=S", L"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(L"url=H&usr=a@b.cc&sid=S", L"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(L"url=H&usr=A@B.C&sid=S", L"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(L"url=H&usr=U&sid=a@b.c", L"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(L"a@b.c url=H&usr=U&sid=S", L"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(L"url=H&usr=&sid=S", L""));
}

TEST(WebLogin, AnswerAndHeaders) {
    EXPECT_TRUE(weblogin::Accepted(L"result=1"));
    EXPECT_TRUE(weblogin::Accepted(L"<p>ok result=1;</p>"));
    EXPECT_FALSE(weblogin::Accepted(L"result=0"));
    EXPECT_FALSE(weblogin::Accepted(L""));
    EXPECT_EQ("Content-Length: 11\r\nContent-Type: application/x-www-form-urlencoded\r\n",
              Narrow(weblogin::CheckHeaders(11)));
}

}  // namespace
