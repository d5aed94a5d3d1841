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
        const char* request;
        const char* text;
    } cases[] = {
        {"/Ferrant?url=a&usr=b&sid=c", "url=a&usr=b&sid=c"},
        {"/Ferrant", ""},
        {"/Ferrant?", ""},
        {"/x/Ferrant?a/Ferrant?b", "a/Ferrant?b"},  // after the first marker only
        {"/ferrant?url=a", ""},                     // case-sensitive
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_EQ(launch::FromRequest(c.request), c.text);
    }
}

TEST(LaunchText, CommandLine) {
    EXPECT_EQ(launch::CommandLine(u"C:\\a b\\Ferrant.exe", u"url=a&usr=b&sid=c"),
              u"C:\\a b\\Ferrant.exe url=a&usr=b&sid=c");
    EXPECT_EQ(launch::CommandLine(u"C:\\Ferrant.exe", u""), u"C:\\Ferrant.exe");
}

TEST(LaunchText, PartialTextsGiveEmptyParts) {
    LaunchText t = launch::Parse("usr=b&sid=c");
    EXPECT_EQ(t.host, "");
    EXPECT_EQ(t.session, "c");
}
