#include <gtest/gtest.h>

#include "controls/CHyperLink.h"
#include "tests/support/Capture.h"

namespace {

constexpr UINT kHost = 302;
constexpr int kOwnText = 1400, kWithUrl = 1401, kNoText = 1402;
const wchar_t* const kSelf = L"http://127.0.0.1/ferrant";
const wchar_t* const kAbout = L"http://127.0.0.1/about";

class HostDialog : public CDialog {
public:
    CHyperLink own, withUrl, noText;
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Control(dx, kOwnText, own);
        DDX_Control(dx, kWithUrl, withUrl);
        DDX_Control(dx, kNoText, noText);
    }
};

// Launches are recorded, never made.
struct Launches {
    std::vector<CString> opened, run;
    UINT_PTR openResult = 42;
    UINT runResult = 33;
    CHyperLink::ShellOpener savedOpener = CHyperLink::Opener();
    CHyperLink::CommandRunner savedRunner = CHyperLink::Runner();
    Launches() {
        CHyperLink::Opener() = [this](LPCWSTR url, int) {
            opened.push_back(url);
            return reinterpret_cast<HINSTANCE>(openResult);
        };
        CHyperLink::Runner() = [this](LPCWSTR line, int) {
            run.push_back(line);
            return runResult;
        };
    }
    ~Launches() {
        CHyperLink::Opener() = savedOpener;
        CHyperLink::Runner() = savedRunner;
    }
};

class HyperLink : public ::testing::Test {
protected:
    Launches launches;
    HostDialog dlg;

    void SetUp() override {
        dlg.withUrl.SetURL(kAbout);
        dlg.noText.SetURL(kAbout);
        ASSERT_TRUE(dlg.Create(kHost));
        ::SetWindowPos(dlg.m_hWnd, HWND_TOPMOST, 60, 60, 0, 0, SWP_NOSIZE);
        dlg.ShowWindow(SW_SHOW);
        test_capture::Pump(50);
    }
    void TearDown() override {
        ReleaseCapture();
        dlg.DestroyWindow();
    }
    void Click(CHyperLink& link) {
        link.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        link.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        test_capture::Pump(20);
    }
    CString TipText(CHyperLink& link) {
        wchar_t buf[256] = {};
        TOOLINFOW ti{};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;
        ti.hwnd = link.m_hWnd;
        ti.uId = 1;
        ti.lpszText = buf;
        link.GetToolTip().SendMessage(TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&ti));
        return buf;
    }
    COLORREF TextColour(CHyperLink& link) {
        HDC dc = CreateCompatibleDC(nullptr);
        dlg.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(link.m_hWnd));
        COLORREF c = GetTextColor(dc);
        DeleteDC(dc);
        return c;
    }
};

TEST_F(HyperLink, UrlDefaultsToTheTextAndAnEmptyTextShowsTheUrl) {
    EXPECT_STREQ(dlg.own.GetURL(), kSelf);
    EXPECT_STREQ(dlg.withUrl.GetURL(), kAbout);
    EXPECT_STREQ(dlg.withUrl.GetWindowText(), L"关于我们");
    EXPECT_STREQ(dlg.noText.GetWindowText(), kAbout);
    EXPECT_TRUE(dlg.own.GetStyle() & SS_NOTIFY);
}

TEST_F(HyperLink, ClickOpensTheUrlAndMarksItVisited) {
    Click(dlg.own);
    ASSERT_EQ(launches.opened.size(), 1u);
    EXPECT_STREQ(launches.opened[0], kSelf);
    EXPECT_TRUE(dlg.own.IsVisited());
    EXPECT_EQ(TextColour(dlg.own), 0x8B1A55u);
    EXPECT_EQ(TextColour(dlg.withUrl), 0xEE0000u);
}

TEST_F(HyperLink, FailedShellOpenFallsBackToTheRegisteredBrowser) {
    launches.openResult = 2;
    launches.runResult = 0;
    Click(dlg.withUrl);
    EXPECT_FALSE(dlg.withUrl.IsVisited());
    CString command = CHyperLink::HtmlOpenCommand();
    if (command.IsEmpty()) {
        EXPECT_TRUE(launches.run.empty());
    } else {
        ASSERT_EQ(launches.run.size(), 1u);
        EXPECT_STREQ(launches.run[0], CHyperLink::BuildFallbackCommand(command, kAbout));
    }
    launches.runResult = 33;
    Click(dlg.withUrl);
    EXPECT_EQ(dlg.withUrl.IsVisited(), !command.IsEmpty());
}

TEST(HyperLinkCommand, FallbackLineIsCutAtTheUrlPlaceholder) {
    struct Case {
        const wchar_t* registered;
        const wchar_t* line;
    };
    const Case cases[] = {
        {L"\"C:\\web\\browser.exe\" \"%1\"", L"\"C:\\web\\browser.exe\"  U"},
        {L"C:\\web\\browser.exe -nohome %1 -x", L"C:\\web\\browser.exe -nohome  U"},
        {L"C:\\web\\browser.exe", L"C:\\web\\browser.exe U"},
        {L"b.exe %1 \"%1\"", L"b.exe %1  U"},  // the quoted placeholder wins
        {L"", L" U"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(CHyperLink::BuildFallbackCommand(c.registered, L"U"), c.line) << c.registered;
}

TEST_F(HyperLink, TooltipShowsTheUrlAndFollowsSetUrl) {
    EXPECT_STREQ(TipText(dlg.own), kSelf);
    EXPECT_STREQ(TipText(dlg.withUrl), kAbout);
    dlg.withUrl.SetURL(L"http://127.0.0.1/other");
    EXPECT_STREQ(TipText(dlg.withUrl), L"http://127.0.0.1/other");
}

TEST_F(HyperLink, MouseLeavingReleasesTheCaptureAndRestoresTheColour) {
    dlg.own.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    EXPECT_TRUE(dlg.own.IsMouseOver());
    EXPECT_EQ(::GetCapture(), dlg.own.m_hWnd);
    EXPECT_EQ(TextColour(dlg.own), GetSysColor(COLOR_HIGHLIGHT));
    dlg.own.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(-3, 2));
    EXPECT_FALSE(dlg.own.IsMouseOver());
    EXPECT_NE(::GetCapture(), dlg.own.m_hWnd);
    EXPECT_EQ(TextColour(dlg.own), 0xEE0000u);

    // Hidden while under the mouse: the capture goes too.
    dlg.own.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    dlg.own.ShowWindow(SW_HIDE);
    EXPECT_FALSE(dlg.own.IsMouseOver());
    EXPECT_NE(::GetCapture(), dlg.own.m_hWnd);
}

TEST_F(HyperLink, CursorIsTheHelpProgramsOrTheHand) {
    EXPECT_EQ(CHyperLink::LoadHelpCursor(L"Z:\\nonexistent\\winhlp32.exe"), nullptr);
    HCURSOR cursor = dlg.own.GetLinkCursor();
    ASSERT_NE(cursor, nullptr);
    // Without the help program's cursor the link has the system hand.
    wchar_t dir[MAX_PATH] = {};
    GetWindowsDirectoryW(dir, MAX_PATH);
    HCURSOR help = CHyperLink::LoadHelpCursor(CString(dir) + L"\\winhlp32.exe");
    if (help) {
        EXPECT_NE(cursor, LoadCursorW(nullptr, IDC_HAND));
        DestroyCursor(help);
    } else {
        EXPECT_EQ(cursor, LoadCursorW(nullptr, IDC_HAND));
    }
    ::SetCursor(nullptr);
    EXPECT_TRUE(dlg.own.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(dlg.own.m_hWnd),
                                    MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(::GetCursor(), cursor);
}

TEST_F(HyperLink, WindowIsFittedToItsText) {
    CRect r;
    dlg.withUrl.GetClientRect(&r);
    CClientDC dc(&dlg.withUrl);
    HGDIOBJ old = dc.SelectObject(reinterpret_cast<HGDIOBJ>(dlg.withUrl.SendMessage(WM_GETFONT)));
    CSize extent = dc.GetTextExtent(dlg.withUrl.GetWindowText());
    dc.SelectObject(old);
    EXPECT_EQ(r.Width(), extent.cx);
    EXPECT_EQ(r.Height(), extent.cy);
}

}  // namespace
