#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/windows/UpdateCheck.h"
#include "provider/WebSite.h"
#include "tests/support/TipsWatch.h"

namespace {

const char* const kSiteIp = "127.0.41.11";
const wchar_t* const kNewest = L"您的版本已是最新，没有新版本可用。";

std::vector<CString> Split(const CString& text, const CString& separator, int& count, CStringArray& array) {
    count = SplitString(text, separator, array);
    std::vector<CString> pieces;
    for (INT_PTR i = 0; i < array.GetSize(); ++i) pieces.push_back(array[i]);
    return pieces;
}

TEST(SplitString, Table) {
    struct Case {
        CString text, separator;
        std::vector<CString> expected;
    };
    const Case cases[] = {
        {L"1.0.0.7", L".", {L"1", L"0", L"0", L"7"}},
        {L"1,0,0,7", L".", {L"1,0,0,7"}},
        {L"", L".", {L""}},
        {L"a.", L".", {L"a", L""}},
        {L".a", L".", {L"", L"a"}},
        {L"a..b", L".", {L"a", L"", L"b"}},
        {L"a::b::c", L"::", {L"a", L"b", L"c"}},
        {L"abc", L"", {L"abc"}},
    };
    for (const Case& c : cases) {
        CStringArray array;
        int count = 0;
        std::vector<CString> pieces = Split(c.text, c.separator, count, array);
        EXPECT_EQ(pieces, c.expected) << CStringA(c.text).GetString();
        EXPECT_EQ(count, static_cast<int>(c.expected.size())) << CStringA(c.text).GetString();
    }
    // Appends, and counts what the array holds afterwards, with or without a separator found.
    CStringArray array;
    array.Add(L"x");
    EXPECT_EQ(SplitString(L"a.b", L".", array), 3);
    EXPECT_EQ(SplitString(L"c", L".", array), 4);
    EXPECT_EQ(array[3], L"c");
}

TEST(CompareVersions, Table) {
    struct Case {
        const wchar_t* first;
        const wchar_t* second;
        int expected;
    };
    const Case cases[] = {
        {L"1.0.0.8", L"1.0.0.7", 1},
        {L"1.0.0.7", L"1.0.0.7", 3},
        {L"1.0.0.6", L"1.0.0.7", 2},
        {L"1.1.0.0", L"1.0.9.9", 1},
        {L"1.0.0.10", L"1.0.0.9", 1},
        {L"2.0.0.0", L"10.0.0.0", 2},
        {L"1.0.0.8\r\n", L"1.0.0.7", 1},
        {L"1.0.0.7\r\n", L"1.0.0.7", 3},
        {L"1.0.0.8.1", L"1.0.0.7", 0},
        {L"1.0.8", L"1.0.0.7", 0},
        {L"1.0.0.8", L"1, 0, 0, 7", 1},
        {L"1.0.0.7", L"1, 0, 0, 7", 3},
        {L"1.0.0.8", L"1,0.0,7", 0},
        {L"", L"1.0.0.7", 0},
        {L"1.0.0.8", L"", 0},
        {L"<html>", L"1.0.0.7", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareVersions(c.first, c.second), c.expected)
            << CStringA(c.first).GetString() << " / " << CStringA(c.second).GetString();
}

TEST(FileVersionInfo, OwnVersionFromTheResource) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    CFileVersionInfo info;
    EXPECT_TRUE(info.GetProductVersion().IsEmpty());
    ASSERT_TRUE(info.Load(path));
    CString translation;
    translation.Format(L"%08lx", info.GetTranslation());
    EXPECT_EQ(translation, L"080404b0");
    EXPECT_EQ(info.GetProductVersion(), L"1.0.0.7");
    EXPECT_EQ(info.QueryString(L"FileDescription"), L"Tebrin上传助手");
    EXPECT_EQ(info.QueryString(L"ProductVersion", 0x080404b0), L"1.0.0.7");
    EXPECT_TRUE(info.QueryString(L"ProductVersion", 0x040904b0).IsEmpty());
    EXPECT_TRUE(info.QueryString(L"NoSuchValue").IsEmpty());
    info.Free();
    EXPECT_EQ(info.GetTranslation(), 0u);
    EXPECT_TRUE(info.GetProductVersion().IsEmpty());

    EXPECT_FALSE(info.Load(L"C:\\no\\such\\file.exe"));
    EXPECT_TRUE(info.GetProductVersion().IsEmpty());
}

bool QuitPosted() {
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_site.Start(kSiteIp, 0));
        SetUpdateHost(Host(m_site.Port()));
        SetupOpener() = [this](const CString& url) {
            m_opened.push_back(url);
            return m_browserStarts;
        };
    }
    void TearDown() override {
        SetupOpener() = nullptr;
        SetUpdateHost(CString());
        QuitPosted();
    }
    static CString Host(unsigned port) {
        CString host;
        host.Format(L"%S:%u", kSiteIp, port);
        return host;
    }

    provider::WebSite m_site;
    std::vector<CString> m_opened;
    bool m_browserStarts = true;
};

TEST_F(UpdateCheckTest, ServerVersionAgainstOwn) {
    struct Case {
        const char* name;
        const char* body;  // null: the server is down
        BOOL silent;
        bool offered;        // the download is offered
        const wchar_t* box;  // the other box's text; null: none
        BOOL silentAfter;
    };
    const Case cases[] = {
        {"newer, start-up", "version=1.0.0.8", TRUE, true, nullptr, TRUE},
        {"newer, on demand", "version=1.0.0.8\r\n", FALSE, true, nullptr, FALSE},
        {"same, start-up", "version=1.0.0.7\r\n", TRUE, false, nullptr, FALSE},
        {"same, on demand", "version=1.0.0.7", FALSE, false, kNewest, FALSE},
        {"older, start-up", "version=1.0.0.6", TRUE, false, nullptr, FALSE},
        {"older, on demand", "version=1.0.0.6", FALSE, false, kNewest, FALSE},
        {"five parts, on demand", "version=1.0.0.8.1", FALSE, false, kNewest, FALSE},
        {"empty body, on demand", "", FALSE, false, kNewest, FALSE},
        {"unreachable, start-up", nullptr, TRUE, false, nullptr, FALSE},
        {"unreachable, on demand", nullptr, FALSE, false, kNewest, FALSE},
    };
    provider::WebSite down;
    ASSERT_TRUE(down.Start("127.0.41.12", 0));
    CString downHost = Host(down.Port());
    down.Stop();
    for (const Case& c : cases) {
        if (c.body) {
            m_site.SetVersionBody(c.body);
            SetUpdateHost(Host(m_site.Port()));
        } else {
            SetUpdateHost(downHost);
        }
        m_site.ClearRequests();
        BOOL silent = c.silent;
        TipsWatch tips;
        CheckForUpdate(nullptr, silent);
        EXPECT_EQ(tips.seen, (c.offered || c.box) ? 1 : 0) << c.name;
        if (c.offered) {
            EXPECT_EQ(tips.title, L"版本更新") << c.name;
            EXPECT_NE(tips.text.Find(L"新版本"), -1) << c.name;
            EXPECT_EQ(tips.ok, L"立即下载") << c.name;
            EXPECT_EQ(tips.cancel, L"下次再说") << c.name;
        } else if (c.box) {
            EXPECT_EQ(tips.title, L"版本更新") << c.name;
            EXPECT_EQ(tips.text, c.box) << c.name;
            EXPECT_EQ(tips.ok, L"确定") << c.name;
            EXPECT_EQ(tips.cancel, L"取消") << c.name;
        }
        EXPECT_EQ(silent, c.silentAfter) << c.name;
        EXPECT_TRUE(m_opened.empty()) << c.name;
        EXPECT_FALSE(QuitPosted()) << c.name;
        EXPECT_EQ(m_site.RequestCount(), c.body ? 1u : 0u) << c.name;
    }
}

TEST_F(UpdateCheckTest, RequestForTheVersionFile) {
    m_site.SetVersionBody("version=1.0.0.7");
    BOOL silent = TRUE;
    CheckForUpdate(nullptr, silent);
    ASSERT_EQ(m_site.RequestCount(), 1u);
    provider::WebSite::Request r = m_site.LastRequest();
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, provider::WebSite::kVersionPath);
    EXPECT_EQ(r.HeaderCount("Content-Length"), 1);
    EXPECT_EQ(r.Header("Content-Length"), "0");
    EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.Header("User-Agent"), "WinHttpClient");
}

TEST_F(UpdateCheckTest, MenuCheckAfterSilentStartUpSpeaks) {
    m_site.SetVersionBody("version=1.0.0.7");
    BOOL silent = TRUE;
    TipsWatch tips;
    CheckForUpdate(nullptr, silent);
    EXPECT_EQ(tips.seen, 0);
    CheckForUpdate(nullptr, silent);
    ASSERT_EQ(tips.seen, 1);
    EXPECT_EQ(tips.text, kNewest);
}

TEST_F(UpdateCheckTest, AcceptedDownloadEndsTheClientOnlyWhenTheBrowserStarted) {
    m_site.SetVersionBody("version=1.0.0.8");
    const CString url = L"http://" + Host(m_site.Port()) + L"/QuillexSetup.exe";
    {
        m_browserStarts = true;
        BOOL silent = TRUE;
        TipsWatch tips;
        tips.answers = {IDOK};
        CheckForUpdate(nullptr, silent);
        EXPECT_EQ(tips.seen, 1);
        ASSERT_EQ(m_opened.size(), 1u);
        EXPECT_EQ(m_opened[0], url);
        EXPECT_TRUE(QuitPosted());
        EXPECT_EQ(silent, TRUE);
    }
    {
        m_opened.clear();
        m_browserStarts = false;
        BOOL silent = FALSE;
        TipsWatch tips;
        tips.answers = {IDOK};
        CheckForUpdate(nullptr, silent);
        ASSERT_EQ(tips.seen, 2);
        EXPECT_EQ(m_opened.size(), 1u);
        EXPECT_FALSE(QuitPosted());
        EXPECT_EQ(tips.title, L"版本更新");
        EXPECT_NE(tips.texts[1].Find(url), -1);
    }
}

TEST(UpdateHost, BuildValueUntilSet) {
    const CString built = UpdateHost();
    EXPECT_FALSE(built.IsEmpty());
    SetUpdateHost(L"127.0.41.13:8080");
    EXPECT_EQ(UpdateHost(), L"127.0.41.13:8080");
    SetUpdateHost(CString());
    EXPECT_EQ(UpdateHost(), built);
}

}  // namespace
