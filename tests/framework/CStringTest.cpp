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
    struct Case { int first, count; const wchar_t* mid; } cases[] = {
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
