#include <gtest/gtest.h>

#include "common/LaunchText.h"

using launch::LaunchText;

TEST(LaunchText, FormatAndParseRoundTrip) {
    LaunchText in{"mail.example.test:8080/web", "user@example.test", "abc%20def&x"};
    std::string text = launch::Format(in);
    EXPECT_EQ(text, "url=mail.example.test:8080/web&usr=user@example.test&sid=abc%20def&x");
    LaunchText out = launch::Parse(text);
    EXPECT_EQ(out.host, in.host);
    EXPECT_EQ(out.user, in.user);
    EXPECT_EQ(out.session, in.session);  // the session runs to the end, '&' included
}

TEST(LaunchText, NothingHandedOver) {
    for (const char* text : {"", "url=&usr=&sid="}) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(launch::Parse(text).Empty());
    }
    EXPECT_EQ(launch::Format(LaunchText{}), "url=&usr=&sid=");
}

TEST(LaunchText, FromRequestTable) {
    struct Case {
        const wchar_t* request;
        const wchar_t* text;
    } cases[] = {
        {L"/Ferrant?url=a&usr=b&sid=c", L"url=a&usr=b&sid=c"},
        {L"/Ferrant", L""},
        {L"/Ferrant?", L""},
        {L"/x/Ferrant?a/Ferrant?b", L"a/Ferrant?b"},  // after the first marker only
        {L"/ferrant?url=a", L""},                     // case-sensitive
        {L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.request)));
        EXPECT_EQ(launch::FromRequest(c.request), c.text);
    }
}

TEST(LaunchText, CommandLine) {
    EXPECT_EQ(launch::CommandLine(L"C:\\a b\\Ferrant.exe", L"url=a&usr=b&sid=c"),
              L"C:\\a b\\Ferrant.exe url=a&usr=b&sid=c");
    EXPECT_EQ(launch::CommandLine(L"C:\\Ferrant.exe", L""), L"C:\\Ferrant.exe");
}

TEST(LaunchText, PartialTextsGiveEmptyParts) {
    LaunchText t = launch::Parse("usr=b&sid=c");
    EXPECT_EQ(t.host, "");
    EXPECT_EQ(t.session, "c");
}

TEST(LaunchText, CutsTable) {
    struct Case {
        const char* text;
        const char* host;
        const char* user;
        const char* session;
        const char* tail;
        bool whole;
    } cases[] = {
        {"", "", "", "", "", false},
        {"url=H&usr=U&sid=S", "H", "U", "S", "usr=U&sid=S", true},
        {"url=&usr=&sid=", "", "", "", "usr=&sid=", true},
        {"C:\\Ferrant.exe url=H&usr=U&sid=S", "H", "U", "S", "usr=U&sid=S", true},
        // A '&' in the host comes before the user's end in the check's URL: no user. Each key
        // counts where it first occurs.
        {"url=h?x&y&usr=U&sid=S", "h?x&y", "", "S", "usr=U&sid=S", true},
        {"url=H&usr=a&b&sid=S", "H", "a", "S", "usr=a&b&sid=S", true},
        {"url=H&usr=U&sid=x&sid=y&usr=V", "H", "U", "x&sid=y&usr=V", "usr=U&sid=x&sid=y&usr=V", true},
        // A key missing or out of order: empty or partial parts.
        {"url=H&usr=U", "H", "", "", "usr=U", false},
        {"usr=U&sid=S", "", "U", "S", "usr=U&sid=S", false},
        {"usr=U&sid=S&url=H", "", "U", "S&url=H", "usr=U&sid=S&url=H", false},
        {"url=Husr=U&sid=S", "", "U", "S", "usr=U&sid=S", false},
        {"url=H&sid=S", "", "", "", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        // The pipe's bytes and the client's wide text are cut alike.
        auto check = [&c](const auto& cuts, auto text) {
            EXPECT_EQ(cuts.whole, c.whole);
            EXPECT_EQ(cuts.host, text(c.host));
            EXPECT_EQ(cuts.user, text(c.user));
            EXPECT_EQ(cuts.session, text(c.session));
            EXPECT_EQ(cuts.tail, text(c.tail));
        };
        auto narrow = [](const char* s) { return std::string(s); };
        auto wide = [](const char* s) { return std::wstring(s, s + std::char_traits<char>::length(s)); };
        check(launch::Cut(narrow(c.text)), narrow);
        check(launch::Cut(wide(c.text)), wide);
    }
}
