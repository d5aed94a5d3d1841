#include <gtest/gtest.h>

#include "controls/CHyperLinker.h"
#include "tests/support/Capture.h"

namespace {

constexpr UINT kHost = 301;
constexpr int kLabel = 1300, kRect = 1301;
constexpr COLORREF kNormal = RGB(118, 132, 148), kHover = RGB(253, 143, 0);

class HostDialog : public CDialog {
public:
    CHyperLinker label, rect;
    int clicks = 0;
    void DoDataExchange(CDataExchange* dx) override {
        DDX_Control(dx, kLabel, label);
        DDX_Control(dx, kRect, rect);
    }

protected:
    afx_msg void OnLabel() { ++clicks; }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(HostDialog, CDialog)
    ON_STN_CLICKED(kLabel, &HostDialog::OnLabel)
END_MESSAGE_MAP()

class HyperLinker : public ::testing::Test {
protected:
    HostDialog dlg;

    void SetUp() override {
        ASSERT_TRUE(dlg.Create(kHost));
        ::SetWindowPos(dlg.m_hWnd, HWND_TOPMOST, 60, 60, 0, 0, SWP_NOSIZE);
        dlg.ShowWindow(SW_SHOW);
        dlg.label.SetLinkStyle(L"暂停", FALSE, kNormal, kNormal, kHover);
        test_capture::Pump(50);
    }
    void TearDown() override {
        ReleaseCapture();
        dlg.DestroyWindow();
    }
    void MoveTo(CWnd& w, int x, int y) { w.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }
    void Hover() {
        MoveTo(dlg.label, 3, 3);
        ASSERT_TRUE(dlg.label.IsHovered());
        ASSERT_EQ(::GetCapture(), dlg.label.m_hWnd);
    }

    // What the label answers to its parent's colour message, on a DC of our own.
    struct Colouring {
        HBRUSH brush;
        COLORREF text;
        int mode;
        BYTE underline;
    };
    Colouring Colour(CWnd& w) {
        HDC dc = CreateCompatibleDC(nullptr);
        SetTextColor(dc, RGB(1, 2, 3));
        SetBkMode(dc, OPAQUE);
        Colouring c{};
        c.brush = reinterpret_cast<HBRUSH>(
            dlg.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(w.m_hWnd)));
        c.text = GetTextColor(dc);
        c.mode = GetBkMode(dc);
        LOGFONTW lf{};
        GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof(lf), &lf);
        c.underline = lf.lfUnderline;
        DeleteDC(dc);
        return c;
    }
};

TEST_F(HyperLinker, SubclassingTurnsOnNotifyAndTheOwnerGetsTheClick) {
    EXPECT_TRUE(dlg.label.GetStyle() & SS_NOTIFY);
    EXPECT_TRUE(dlg.rect.GetStyle() & SS_NOTIFY);
    dlg.label.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    dlg.label.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    test_capture::Pump(20);
    EXPECT_EQ(dlg.clicks, 1);
}

TEST_F(HyperLinker, CursorIsTheProgramsLinkCursorElseTheHand) {
    HCURSOR own = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDC_LINK_CURSOR));
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    ASSERT_NE(own, nullptr);
    ASSERT_NE(own, hand);
    ::SetCursor(nullptr);
    EXPECT_TRUE(dlg.label.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(dlg.label.m_hWnd),
                                      MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(::GetCursor(), own);
    // A module without the resource.
    EXPECT_EQ(CHyperLinker::LinkCursor(GetModuleHandleW(L"kernel32.dll")), hand);
    EXPECT_NE(hand, nullptr);
}

TEST_F(HyperLinker, HoverCapturesAndEveryWayOfLeavingReleases) {
    struct Way {
        const char* name;
        std::function<void(HostDialog&)> leave;
    };
    CWnd other;
    ASSERT_TRUE(other.CreateEx(0, L"STATIC", L"", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
    const Way ways[] = {
        {"mouse outside", [](HostDialog& d) { d.label.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(-4, -4)); }},
        {"hidden", [](HostDialog& d) { d.label.ShowWindow(SW_HIDE); }},
        {"hidden by position",
         [](HostDialog& d) {
             d.label.SetWindowPos(nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
         }},
        {"capture taken", [&other](HostDialog&) { other.SetCapture(); }},
        {"text changed", [](HostDialog& d) { d.label.SetLinkText(L"继续"); }},
    };
    for (const Way& w : ways) {
        SCOPED_TRACE(w.name);
        dlg.label.ShowWindow(SW_SHOW);
        ReleaseCapture();
        Hover();
        w.leave(dlg);
        EXPECT_FALSE(dlg.label.IsHovered());
        EXPECT_NE(::GetCapture(), dlg.label.m_hWnd);
    }
    ReleaseCapture();
    // A hidden label under the mouse takes no capture.
    dlg.label.ShowWindow(SW_HIDE);
    MoveTo(dlg.label, 3, 3);
    EXPECT_FALSE(dlg.label.IsHovered());
    EXPECT_NE(::GetCapture(), dlg.label.m_hWnd);
    other.DestroyWindow();
}

TEST_F(HyperLinker, TextLabelIsColouredByStateOtherStaticsAreNot) {
    Colouring normal = Colour(dlg.label);
    EXPECT_EQ(normal.brush, GetStockObject(NULL_BRUSH));
    EXPECT_EQ(normal.text, kNormal);
    EXPECT_EQ(normal.mode, TRANSPARENT);
    EXPECT_EQ(normal.underline, 0);
    Hover();
    EXPECT_EQ(Colour(dlg.label).text, kHover);

    Colouring other = Colour(dlg.rect);
    EXPECT_NE(other.brush, GetStockObject(NULL_BRUSH));
    EXPECT_NE(other.text, kNormal);
    EXPECT_NE(other.text, kHover);
}

TEST_F(HyperLinker, SetLinkTextChangesTheShownText) {
    dlg.label.SetLinkText(L"继续");
    EXPECT_STREQ(dlg.label.GetWindowText(), L"继续");
    EXPECT_TRUE(dlg.label.IsWindowVisible());
    EXPECT_STREQ(dlg.label.GetLinkStyleText(), L"暂停");
    CHyperLinker unattached;
    unattached.SetLinkText(L"继续");  // no window: nothing happens
    EXPECT_EQ(unattached.m_hWnd, nullptr);
}

}  // namespace
