#include "client/app/WebLogin.h"

#include <gtest/gtest.h>

namespace {

using weblogin::LoginCheck;

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

TEST(WebLogin, NothingHandedOver) {
    EXPECT_TRUE(weblogin::HandsOverNothing(u""));
    EXPECT_TRUE(weblogin::HandsOverNothing(u"url=&usr=&sid="));
    EXPECT_TRUE(weblogin::HandsOverNothing(u"C:\\Ferrant.exe url=&usr=&sid="));
    EXPECT_FALSE(weblogin::HandsOverNothing(u"url=H&usr=U&sid=S"));
}

struct CutCase {
    const char16_t* text;
    bool ok;
    const char* host;
    const char* user;
    const char* url;
    const char* body;
};

TEST(WebLogin, CutsTheCheckOutOfTheText) {
    const CutCase cases[] = {
        {u"url=H&usr=U&sid=S", true, "H", "U", "http://H/mail/login/opt/loginAction_loginCheck.do", "usr=U&sid=S"},
        {u"url=mail.example.com:8080/web&usr=a@b.c&sid=x&y=z", true, "mail.example.com:8080/web", "a@b.c",
         "http://mail.example.com:8080/web/mail/login/opt/loginAction_loginCheck.do", "usr=a@b.c&sid=x&y=z"},
        // A '?' or '&' in the host stays in the host, which then matches no trusted entry.
        {u"url=h?x&y&usr=U&sid=S", true, "h?x&y", "U", "http://h?x&y/mail/login/opt/loginAction_loginCheck.do",
         "usr=U&sid=S"},
        {u"url=H&usr=&sid=S", true, "H", "", "http://H/mail/login/opt/loginAction_loginCheck.do", "usr=&sid=S"},
        {u"url=&usr=U&sid=S", true, "", "U", "http:///mail/login/opt/loginAction_loginCheck.do", "usr=U&sid=S"},
        {u"url=H&usr=U", false, "", "", "", ""},
        {u"usr=U&sid=S", false, "", "", "", ""},
        {u"usr=U&sid=S&url=H", false, "", "", "", ""},
        {u"url=Husr=U&sid=S", false, "", "", "", ""},
        {u"hello", false, "", "", "", ""},
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
    const std::u16string trusted = u"mail.example.com;127.0.0.20:8080";
    struct {
        const char16_t* host;
        bool trusted;
    } cases[] = {
        {u"mail.example.com", true},
        {u"MAIL.Example.COM", true},
        {u"127.0.0.20:8080", true},
        {u"127.0.0.20", false},
        {u"127.0.0.20:8081", false},
        {u"mail.example.com.evil.net", false},
        {u"evil.net/mail.example.com", false},
        {u"mail.example.com@evil.net", false},
        {u"mail.example.com?", false},
        {u"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.host));
        EXPECT_EQ(c.trusted, weblogin::IsTrustedHost(c.host, trusted));
    }
    EXPECT_FALSE(weblogin::IsTrustedHost(u"mail.example.com", u""));
    EXPECT_FALSE(weblogin::IsTrustedHost(u"", u";;"));
}

TEST(WebLogin, NamesExactlyTheCurrentUser) {
    EXPECT_TRUE(weblogin::NamesUser(u"url=H&usr=a@b.c&sid=S", u"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(u"url=H&usr=xa@b.c&sid=S", u"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(u"url=H&usr=a@b.cc&sid=S", u"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(u"url=H&usr=A@B.C&sid=S", u"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(u"url=H&usr=U&sid=a@b.c", u"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(u"a@b.c url=H&usr=U&sid=S", u"a@b.c"));
    EXPECT_FALSE(weblogin::NamesUser(u"url=H&usr=&sid=S", u""));
}

TEST(WebLogin, AnswerAndHeaders) {
    EXPECT_TRUE(weblogin::Accepted(u"result=1"));
    EXPECT_TRUE(weblogin::Accepted(u"<p>ok result=1;</p>"));
    EXPECT_FALSE(weblogin::Accepted(u"result=0"));
    EXPECT_FALSE(weblogin::Accepted(u""));
    EXPECT_EQ("Content-Length: 11\r\nContent-Type: application/x-www-form-urlencoded\r\n",
              Narrow(weblogin::CheckHeaders(11)));
}

}  // namespace
