#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "client/app/WebRequestClient.h"
#include "provider/WebSite.h"

namespace {

const char* const kSiteIp = "127.0.41.1";
const char* const kFormHeaders = "Content-Length: 0\r\nContent-Type: application/x-www-form-urlencoded\r\n";

CString Ansi(const std::string& bytes) {
    int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.c_str(), -1, &wide[0], n);
    return CString(wide.c_str());
}

// Letters of both cases, as a hostile peer might send in a header value.
std::wstring Letters(size_t count) {
    std::wstring text(count, L'a');
    for (size_t i = 0; i < count; ++i) text[i] = static_cast<wchar_t>((i % 2 ? L'A' : L'a') + i % 26);
    return text;
}

struct SmallStackWork {
    const std::function<void()>* work;
    bool returned;
};

DWORD WINAPI RunWork(LPVOID param) {
    auto* run = static_cast<SmallStackWork*>(param);
    (*run->work)();
    run->returned = true;
    return 0;
}

// A stack far smaller than a program's own: recursion that grows with the text overflows it.
// Under Wine that ends the thread quietly with code 0, so it is told by the work not returning.
bool RunOnSmallStack(const std::function<void()>& work) {
    SmallStackWork run{&work, false};
    HANDLE thread = CreateThread(nullptr, 64 * 1024, RunWork, &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return run.returned;
}

class WebRequestTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_site.Start(kSiteIp, 0)); }

    CString Url(const char* path) const {
        CString url;
        url.Format(L"http://%S:%u%S", kSiteIp, m_site.Port(), path);
        return url;
    }

    provider::WebSite m_site;
};

TEST_F(WebRequestTest, RequestsByVerbAndAddress) {
    m_site.SetPage("/page", {200, "answer", "", "text/plain"});
    // A port nobody listens on: the connection is refused.
    provider::WebSite closed;
    ASSERT_TRUE(closed.Start("127.0.41.2", 0));
    CString refused;
    refused.Format(L"http://127.0.41.2:%u/page", closed.Port());
    closed.Stop();

    struct Case {
        const char* name;
        CString url;
        const wchar_t* verb;
        bool ok;
        DWORD error;         // checked when not ok
        const char* method;  // as the site saw it; null: nothing arrived
    };
    const Case cases[] = {
        {"GET", Url("/page"), L"GET", true, 0, "GET"},
        {"lower-case get", Url("/page"), L"get", true, 0, "GET"},
        {"POST", Url("/page"), L"Post", true, 0, "POST"},
        {"PUT", Url("/page"), L"PUT", false, ERROR_INVALID_PARAMETER, nullptr},
        {"empty URL", CString(), L"GET", false, ERROR_PATH_NOT_FOUND, nullptr},
        {"no scheme", L"127.0.41.1/page", L"GET", false, 0, nullptr},
        {"refused", refused, L"GET", false, 0, nullptr},
    };
    for (const Case& c : cases) {
        m_site.ClearRequests();
        WebRequestClient client(c.url);
        EXPECT_EQ(client.SendHttpRequest(c.verb, false), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(client.GetResponseBody(), L"answer") << c.name;
            EXPECT_NE(client.GetResponseHeader().Find(L"HTTP/1.1 200 OK\r\n"), -1) << c.name;
        } else {
            EXPECT_TRUE(client.GetResponseBody().IsEmpty()) << c.name;
            DWORD expected = c.error ? c.error : client.GetLastErrorCode();
            EXPECT_EQ(client.GetLastErrorCode(), expected) << c.name;
            EXPECT_NE(client.GetLastErrorCode(), 0u) << c.name;
        }
        ASSERT_EQ(m_site.RequestCount(), c.method ? 1u : 0u) << c.name;
        if (c.method) {
            EXPECT_EQ(m_site.LastRequest().method, c.method) << c.name;
        }
    }
}

TEST_F(WebRequestTest, HeadersAndBodyArriveAsSet) {
    m_site.SetPage("/mail/login/opt/loginAction_loginCheck.do", {200, "result=1", "", "text/plain"});
    WebRequestClient client(Url("/mail/login/opt/loginAction_loginCheck.do?"));
    const std::string body = "usr=U&sid=S";
    ASSERT_TRUE(client.SetRequestBody(reinterpret_cast<const BYTE*>(body.data()), static_cast<DWORD>(body.size())));
    client.SetHeaders(L"Content-Length: 11\r\nContent-Type: application/x-www-form-urlencoded\r\n");
    ASSERT_TRUE(client.SendHttpRequest(L"POST", false));
    EXPECT_EQ(client.GetResponseBody(), L"result=1");

    ASSERT_EQ(m_site.RequestCount(), 1u);
    provider::WebSite::Request r = m_site.LastRequest();
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path.substr(0, r.path.find('?')), "/mail/login/opt/loginAction_loginCheck.do");
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(r.HeaderCount("Content-Length"), 1);
    EXPECT_EQ(r.Header("Content-Length"), "11");
    EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.Header("User-Agent"), "WinHttpClient");

    EXPECT_FALSE(client.SetRequestBody(nullptr, 4));
}

TEST_F(WebRequestTest, BodiesOfEverySizeArriveWhole) {
    // Sizes at and around the first buffer and its doublings, where the terminator must still fit.
    for (size_t size : {size_t(0), size_t(10239), size_t(10240), size_t(10241), size_t(20480), size_t(102400)}) {
        std::string body(size, 'x');
        for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + i % 26);
        m_site.SetPage("/big", {200, body, "", "text/plain"});
        m_site.ClearRequests();
        WebRequestClient client(Url("/big"));
        EXPECT_TRUE(client.SendHttpRequest(L"GET", false)) << size;
        EXPECT_EQ(client.GetResponseBody().GetLength(), static_cast<int>(size)) << size;
        EXPECT_TRUE(client.GetResponseBody() == CString(body.c_str())) << size;
        EXPECT_EQ(m_site.RequestCount(), 1u) << size;
    }
}

std::vector<double> g_progress;
void RecordProgress(double percent) { g_progress.push_back(percent); }

TEST_F(WebRequestTest, ProgressReportedAgainstTheContentLength) {
    m_site.SetPage("/big", {200, std::string(102400, 'p'), "", "text/plain"});
    g_progress.clear();
    WebRequestClient client(Url("/big"), &RecordProgress);
    ASSERT_TRUE(client.SendHttpRequest(L"GET", false));
    ASSERT_FALSE(g_progress.empty());
    for (size_t i = 1; i < g_progress.size(); ++i) EXPECT_GT(g_progress[i], g_progress[i - 1]);
    EXPECT_DOUBLE_EQ(g_progress.back(), 100.0);
}

TEST_F(WebRequestTest, BodyDecodedByCharset) {
    const std::string chinese = "\xe4\xb8\xad\xe6\x96\x87 ok";  // "中文 ok" in UTF-8
    const std::string invalid = "caf\xe9 \xff\xfe";             // not UTF-8
    struct Case {
        const char* name;
        const char* charset;
        std::string body;
        CString expected;
        const wchar_t* charsetSeen;
    };
    const Case cases[] = {
        {"no charset, ASCII", "", "plain text", L"plain text", L""},
        {"no charset: the ANSI code page", "", chinese, Ansi(chinese), L""},
        {"UTF-8", "UTF-8", chinese, L"中文 ok", L"UTF-8"},
        {"utf-8 in lower case", "utf-8", chinese, L"中文 ok", L"utf-8"},
        {"invalid UTF-8 falls back to ANSI", "UTF-8", invalid, Ansi(invalid), L"UTF-8"},
        {"another charset: ANSI", "gb_2312-80", chinese, Ansi(chinese), L"gb_2312-80"},
    };
    for (const Case& c : cases) {
        m_site.SetPage("/text", {200, c.body, c.charset, "text/plain"});
        WebRequestClient client(Url("/text"));
        EXPECT_TRUE(client.SendHttpRequest(L"GET", false)) << c.name;
        EXPECT_TRUE(client.GetResponseBody() == c.expected) << c.name;
        EXPECT_EQ(client.GetResponseBody().Find(L'\xFFFD'), -1) << c.name;
        EXPECT_EQ(client.GetResponseCharset(), c.charsetSeen) << c.name;
    }
}

TEST_F(WebRequestTest, HugeHeaderLinesLeaveCharsetAndLengthReadable) {
    const std::string chinese = "\xe4\xb8\xad\xe6\x96\x87 ok";  // "中文 ok" in UTF-8
    // After the stand-in's own Content-Type and Content-Length, so the real values come first.
    const std::string lines[] = {
        "X-Junk: " + std::string(100000, 'j') + "\r\n",
        "X-Junk: charset=" + std::string(100000, 'c') + "\r\n",
        "X-Junk: Content-Length: " + std::string(100000, '9') + "\r\n",
    };
    for (const std::string& line : lines) {
        provider::WebSite::Page page{200, chinese, "UTF-8", "text/plain"};
        page.extraHeaders = line;
        m_site.SetPage("/text", page);
        g_progress.clear();
        WebRequestClient client(Url("/text"), &RecordProgress);
        ASSERT_TRUE(client.SendHttpRequest(L"GET", false)) << line.substr(0, 20);
        // Wine's WinHTTP keeps only about 1.4 KB of a header line: the search over whole 100 KB
        // lines is tested on its own below.
        EXPECT_NE(client.GetResponseHeader().Find(CString(line.substr(0, 20).c_str())), -1) << line.substr(0, 20);
        EXPECT_EQ(client.GetResponseCharset(), L"UTF-8") << line.substr(0, 20);
        EXPECT_EQ(client.GetResponseBody(), L"中文 ok") << line.substr(0, 20);
        ASSERT_FALSE(g_progress.empty()) << line.substr(0, 20);
        EXPECT_DOUBLE_EQ(g_progress.back(), 100.0) << line.substr(0, 20);
    }
}

TEST_F(WebRequestTest, CutHtmlPageOfAGetIsAskedForAgain) {
    struct Case {
        const char* name;
        const char* body;
        const wchar_t* verb;
        bool disableRedirects;
        bool ok;
        size_t requests;
    };
    const Case cases[] = {
        {"cut page, GET", "<HTML><body>half", L"GET", false, false, 3},
        {"whole page, GET", "<html><body>all</body></HTML>", L"GET", false, true, 1},
        {"cut page, POST", "<html><body>half", L"POST", false, true, 1},
        {"cut page, redirects off", "<html><body>half", L"GET", true, true, 1},
        {"no page", "version=1.0.0.8", L"GET", false, true, 1},
    };
    for (const Case& c : cases) {
        m_site.SetPage("/page", {200, c.body, "", "text/html"});
        m_site.ClearRequests();
        WebRequestClient client(Url("/page"));
        client.SetHeaders(kFormHeaders);
        EXPECT_EQ(client.SendHttpRequest(c.verb, c.disableRedirects), c.ok) << c.name;
        if (!c.ok) {
            EXPECT_EQ(client.GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_DATA)) << c.name;
        }
        EXPECT_EQ(client.GetResponseBody(), CString(c.body)) << c.name;
        std::vector<provider::WebSite::Request> seen = m_site.Requests();
        ASSERT_EQ(seen.size(), c.requests) << c.name;
        // Every attempt carries the headers once, as set.
        for (const auto& r : seen) {
            EXPECT_EQ(r.HeaderCount("Content-Length"), 1) << c.name;
            EXPECT_EQ(r.Header("Content-Length"), "0") << c.name;
            EXPECT_EQ(r.HeaderCount("Content-Type"), 1) << c.name;
            EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded") << c.name;
        }
    }
}

TEST(ExtractRegexGroups, Table) {
    const CString header = L"HTTP/1.1 200 OK\r\nContent-Type: text/html; Charset=UTF-8\r\nContent-Length: 120\r\n";
    struct Case {
        const char* name;
        CString pattern;
        bool caseSensitive;
        int groups;
        CString source;
        bool allowDuplicates;
        bool ok;
        std::vector<CString> expected;
    };
    const Case cases[] = {
        {"charset, any case", L"charset={[A-Za-z0-9\\-_]+}", false, 1, header, false, true, {L"UTF-8"}},
        {"charset, case-sensitive", L"charset={[A-Za-z0-9\\-_]+}", true, 1, header, false, true, {}},
        {"content length", L"Content-Length: {[0-9]+}", false, 1, header, false, true, {L"120"}},
        {"repeated, duplicates dropped", L"{[0-9]+}", false, 1, L"7 8 7 9", false, true, {L"7", L"8", L"9"}},
        {"repeated, duplicates kept", L"{[0-9]+}", false, 1, L"7 8 7", true, true, {L"7", L"8", L"7"}},
        {"duplicates without case", L"{[a-z]+}", false, 1, L"ab AB ab", false, true, {L"ab"}},
        {"two groups", L"{[a-z]+}={[0-9]+}", false, 2, L"a=1&b=2", true, true, {L"a", L"1", L"b", L"2"}},
        {"plain grouping captures nothing", L"(x|y){[0-9]}", false, 1, L"x1 y2", true, true, {L"1", L"2"}},
        {"groups stop at the first unmatched", L"{a}{b}?", false, 2, L"a", true, true, {L"a"}},
        {"empty matches move on", L"{a*}", false, 1, L"baaab", false, true, {L"", L"aaa"}},
        {"no match", L"{z+}", false, 1, L"abc", false, true, {}},
        {"empty pattern", L"", false, 1, L"abc", false, false, {}},
        {"empty source", L"{a}", false, 1, L"", false, false, {}},
        {"no group asked for", L"{a}", false, 0, L"a", false, false, {}},
        {"pattern that does not parse", L"{[a-", false, 1, L"a", false, false, {}},
        {"left alternative first", L"{a|ab}", false, 1, L"ab", false, true, {L"a"}},
        {"leftmost before the left alternative", L"{b|ab}", false, 1, L"ab", false, true, {L"ab"}},
        {"greedy takes the most", L"<{.*}>", false, 1, L"<a><b>", true, true, {L"a><b"}},
        {"lazy takes the least", L"<{.*?}>", false, 1, L"<a><b>", true, true, {L"a", L"b"}},
        {"lazy plus", L"{a+?}", false, 1, L"aaa", true, true, {L"a", L"a", L"a"}},
        {"lazy option", L"x{a??}", false, 1, L"xa", true, true, {L""}},
        {"groups numbered by opening brace", L"{{a}b}", false, 2, L"ab", true, true, {L"ab", L"a"}},
        {"start of the source only", L"^{a}", false, 1, L"aaa", true, true, {L"a"}},
        {"end of the source only", L"{[a-z]+}$", false, 1, L"ab cd", true, true, {L"cd"}},
        {"dot takes any character", L"{a.c}", false, 1, L"abc a\rc", true, true, {L"abc", L"a\rc"}},
        {"digits", L"{\\d+}", false, 1, L"a12b3", true, true, {L"12", L"3"}},
        {"escaped literals", L"\\{{a\\.b}\\}", false, 1, L"{axb} {a.b}", true, true, {L"a.b"}},
        {"escaped tab in a set", L"{[^\\t]+}\\t", false, 1, L"ab\tcd", true, true, {L"ab"}},
        {"negated set", L"{[^,]+}", false, 1, L"a,bc,,d", true, true, {L"a", L"bc", L"d"}},
        {"set folded without case", L"{[a-c]+}", false, 1, L"xAbCx", true, true, {L"AbC"}},
        {"set with case", L"{[a-c]+}", true, 1, L"xAbCx", true, true, {L"b"}},
        {"negated set folded without case", L"{[^a]+}", false, 1, L"AAbA", true, true, {L"b"}},
        {"unclosed group", L"{a", false, 1, L"a", false, false, {}},
        {"unopened group", L"a}", false, 1, L"a}", false, false, {}},
        {"unopened parenthesis", L"a)", false, 1, L"a)", false, false, {}},
        {"unclosed parenthesis", L"({a}", false, 1, L"a", false, false, {}},
        {"unclosed set", L"{[a}", false, 1, L"a", false, false, {}},
        {"quantifier first", L"*{a}", false, 1, L"a", false, false, {}},
        {"quantifier twice", L"{a**}", false, 1, L"a", false, false, {}},
        {"trailing backslash", L"{a}\\", false, 1, L"a", false, false, {}},
        {"range backwards", L"{[z-a]}", false, 1, L"a", false, false, {}},
    };
    for (const Case& c : cases) {
        CStringArray result;
        result.Add(L"left over");
        EXPECT_EQ(ExtractRegexGroups(c.pattern, c.caseSensitive, c.groups, c.source, result, c.allowDuplicates), c.ok)
            << c.name;
        ASSERT_EQ(result.GetSize(), static_cast<INT_PTR>(c.expected.size())) << c.name;
        for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(result[i], c.expected[i]) << c.name << " " << i;
    }
}

// The client's own two searches over header blocks with 100 KB lines, on the test's stack and on
// a small one: each returns with the whole value.
TEST(ExtractRegexGroups, HugeHeaderLinesOnASmallStack) {
    const std::wstring letters = Letters(100000);
    const std::wstring digits(100000, L'7');
    struct Case {
        const char* name;
        std::wstring header;
        std::vector<CString> charset;
        std::vector<CString> length;
    };
    const Case cases[] = {
        {"junk line", L"HTTP/1.1 200 OK\r\nX-Junk: " + letters + L"\r\nContent-Length: 12\r\n", {}, {L"12"}},
        {"long charset, length after it",
         L"HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=" + letters + L"\r\nContent-Length: 12\r\n",
         {CString(letters)},
         {L"12"}},
        {"long length", L"HTTP/1.1 200 OK\r\nContent-Length: " + digits + L"\r\n", {}, {CString(digits)}},
    };
    for (bool smallStack : {true, false}) {
        for (const Case& c : cases) {
            CString header(c.header);
            bool charsetOk = false, lengthOk = false;
            CStringArray charset, length;
            std::function<void()> work = [&] {
                charsetOk = ExtractRegexGroups(L"charset={[A-Za-z0-9\\-_]+}", false, 1, header, charset, false);
                lengthOk = ExtractRegexGroups(L"Content-Length: {[0-9]+}", false, 1, header, length, false);
            };
            if (smallStack) {
                ASSERT_TRUE(RunOnSmallStack(work)) << c.name;
            } else {
                work();
            }
            EXPECT_TRUE(charsetOk) << c.name;
            EXPECT_TRUE(lengthOk) << c.name;
            ASSERT_EQ(charset.GetSize(), static_cast<INT_PTR>(c.charset.size())) << c.name;
            // Compared as a flag: a failure would print 100 KB.
            for (size_t i = 0; i < c.charset.size(); ++i) EXPECT_TRUE(charset[i] == c.charset[i]) << c.name;
            ASSERT_EQ(length.GetSize(), static_cast<INT_PTR>(c.length.size())) << c.name;
            for (size_t i = 0; i < c.length.size(); ++i) EXPECT_TRUE(length[i] == c.length[i]) << c.name;
        }
    }
}

}  // namespace
