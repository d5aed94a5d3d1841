#include "framework/CString.h"

#include <gtest/gtest.h>

TEST(CString, NullAndEmptySourcesGiveEmptyStrings) {
    const wchar_t* none = nullptr;
    EXPECT_TRUE(CString(none).IsEmpty());
    EXPECT_TRUE(CString(static_cast<const char*>(nullptr)).IsEmpty());
    CString s(L"abc");
    s = none;
    EXPECT_EQ(0, s.GetLength());
}

TEST(CString, ExtractionClampsCounts) {
    struct Case {
        int first, count;
        const wchar_t* mid;
    } cases[] = {
        {0, 3, L"abc"}, {1, 100, L"bcdef"}, {-5, 2, L"ab"}, {4, -1, L""}, {10, 2, L""}, {6, 0, L""},
    };
    CString s(L"abcdef");
    for (const auto& c : cases) EXPECT_EQ(CString(c.mid), s.Mid(c.first, c.count)) << c.first << "," << c.count;
    EXPECT_EQ(CString(L"abcdef"), s.Left(99));
    EXPECT_EQ(CString(L""), s.Left(-1));
    EXPECT_EQ(CString(L"ef"), s.Right(2));
    EXPECT_EQ(CString(L"abcdef"), s.Right(99));
    EXPECT_EQ(CString(L""), s.Right(-3));
}

TEST(CString, FormatFollowsMicrosoftRules) {
    CString s;
    s.Format(L"%s|%S|%d|%I64u|%.1f", L"宽", "narrow", -7, 18446744073709551615ULL, 1.24);
    EXPECT_EQ(CString(L"宽|narrow|-7|18446744073709551615|1.2"), s);
    CStringA a;
    a.Format("%s-%016lu", "x", 192UL);
    EXPECT_STREQ("x-0000000000000192", a);
}

TEST(CString, SearchAndReplace) {
    CString s(L"a\\b\\c.txt");
    EXPECT_EQ(3, s.ReverseFind(L'\\'));
    EXPECT_EQ(1, s.Find(L'\\'));
    EXPECT_EQ(-1, s.Find(L"zz"));
    EXPECT_EQ(-1, s.Find(L"a", 50));
    EXPECT_EQ(2, s.Replace(L"\\", L"//"));
    EXPECT_EQ(CString(L"a//b//c.txt"), s);
    int pos = 0;
    CString list(L"url=x&usr=y&&sid=z");
    EXPECT_EQ(CString(L"url=x"), list.Tokenize(L"&", pos));
    EXPECT_EQ(CString(L"usr=y"), list.Tokenize(L"&", pos));
    EXPECT_EQ(CString(L"sid=z"), list.Tokenize(L"&", pos));
    list.Tokenize(L"&", pos);
    EXPECT_EQ(-1, pos);
}

TEST(CString, BufferRoundTrip) {
    CString s;
    wchar_t* p = s.GetBuffer(10);
    wcscpy(p, L"hi");
    s.ReleaseBuffer();
    EXPECT_EQ(2, s.GetLength());
}

namespace {
std::string AnsiOf(const wchar_t* w) {
    char buf[256] = {};
    int n = WideCharToMultiByte(CP_ACP, 0, w, -1, buf, sizeof(buf), nullptr, nullptr);
    return std::string(buf, n > 0 ? n - 1 : 0);
}
}  // namespace

// Between the widths the ANSI code page rules, whatever it is on this machine.
TEST(CString, ConversionsUseTheAnsiCodePage) {
    const wchar_t* texts[] = {L"plain ascii", L"中文文件名.txt", L"Größe", L"mixed 宽 and narrow", L""};
    for (const wchar_t* w : texts) {
        CStringA narrow(w);
        EXPECT_EQ(AnsiOf(w), std::string(narrow.GetString())) << CStringA(w).GetString();
        CString back(narrow);
        EXPECT_EQ(CString(back), CString(narrow)) << narrow.GetString();
    }
    CString s(L"x");
    s = "from narrow";
    EXPECT_EQ(CString(L"from narrow"), s);
    CStringA a;
    a = CString(L"to narrow");
    EXPECT_STREQ("to narrow", a);
    EXPECT_EQ(3, CStringA("abcdef", 3).GetLength());
}

TEST(CString, ExplicitCodePagesRoundTripCjk) {
    struct Case {
        UINT cp;
        const char* bytes;
        const wchar_t* wide;
    } cases[] = {
        {936, "\xD6\xD0\xCE\xC4", L"中文"},
        {CP_UTF8, "\xE4\xB8\xAD\xE6\x96\x87", L"中文"},
        {CP_UTF8, "\xF0\x9F\x98\x80", L"\U0001F600"},  // a surrogate pair
        {1252, "\xE9", L"é"},
    };
    for (const auto& c : cases) {
        std::wstring w = afx_string::Widen(c.bytes, static_cast<int>(strlen(c.bytes)), c.cp);
        EXPECT_EQ(std::wstring(c.wide), w) << c.cp;
        EXPECT_EQ(std::string(c.bytes), afx_string::Narrow(c.wide, static_cast<int>(wcslen(c.wide)), c.cp)) << c.cp;
    }
    EXPECT_EQ(2, CString(L"\U0001F600").GetLength());  // UTF-16 units
    EXPECT_TRUE(afx_string::Widen(nullptr, 4).empty());
    EXPECT_TRUE(afx_string::Narrow(L"abc", 0).empty());
    // Characters the code page lacks become its default character, never vanish.
    EXPECT_EQ(std::string("?"), afx_string::Narrow(L"中", 1, 1252));
}

TEST(CString, FormatEdgeCases) {
    struct Case {
        const wchar_t* expected;
        CString got;
    };
    CString empty, percent, chars, widths, nothing, longText;
    empty.Format(L"%s", L"");
    percent.Format(L"100%% of %d", 5);
    chars.Format(L"%c%C|%lc%hc", L'宽', 'n', L'中', 'h');
    widths.Format(L"[%-4s][%4s][%05.1f][%x][%I64d]", L"ab", L"cd", 3.14159, 255, -5LL);
    nothing.Format(nullptr);
    std::wstring big(5000, L'z');
    longText.Format(L"<%s>", big.c_str());
    Case cases[] = {
        {L"", empty},   {L"100% of 5", percent}, {L"宽n|中h", chars}, {L"[ab  ][  cd][003.1][ff][-5]", widths},
        {L"", nothing},
    };
    for (const auto& c : cases) EXPECT_EQ(CString(c.expected), c.got) << CStringA(c.expected).GetString();
    EXPECT_EQ(5002, longText.GetLength());
    EXPECT_EQ(L'>', longText[5001]);

    CString appended(L"size=");
    appended.AppendFormat(L"%d.%dGB", 1, 5);
    appended.AppendFormat(L"%S|%hs", "narrow", "short");
    EXPECT_EQ(CString(L"size=1.5GBnarrow|short"), appended);
}
