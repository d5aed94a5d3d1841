#include <gtest/gtest.h>

#include <vector>

#include "controls/CSkinFrame.h"
#include "tests/support/Capture.h"

using test_capture::PumpUntil;
using test_capture::WindowPixel;

namespace {

constexpr UINT kMainStyle = 200, kLoginStyle = 201, kResizable = 202;

// A dialog that routes its frame messages the way the client's skinned dialogs do.
class SkinnedDialog : public CDialog {
public:
    CSkinFrame frame;
    int closes = 0;
    std::vector<WPARAM> sysCommands;

protected:
    afx_msg int OnCreate(LPCREATESTRUCTW cs) {
        CDialog::OnCreate(cs);
        frame.Init(AfxGetInstanceHandle(), m_hWnd);
        // The frame's borders take effect with the next frame calculation.
        SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        frame.Paint(m_hWnd);
        return 0;
    }
    afx_msg void OnPaint() {
        CDialog::OnPaint();
        frame.Paint(m_hWnd);
    }
    afx_msg void OnNcPaint() { frame.Paint(m_hWnd); }
    afx_msg BOOL OnNcActivate(BOOL) {
        frame.Paint(m_hWnd);
        return TRUE;
    }
    afx_msg void OnNcCalcSize(BOOL valid, NCCALCSIZE_PARAMS* p) {
        frame.HandleMessage(m_hWnd, WM_NCCALCSIZE, valid, reinterpret_cast<LPARAM>(p));
    }
    afx_msg LRESULT OnNcHitTest(CPoint p) { return frame.HandleMessage(m_hWnd, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y)); }
    afx_msg void OnNcMouseMove(UINT hit, CPoint p) {
        frame.OnNcMouseMove(m_hWnd, WM_NCMOUSEMOVE, hit, MAKELPARAM(p.x, p.y));
    }
    afx_msg void OnNcLButtonDown(UINT hit, CPoint p) {
        frame.OnNcLButtonDown(m_hWnd, WM_NCLBUTTONDOWN, hit, MAKELPARAM(p.x, p.y));
    }
    afx_msg void OnNcLButtonUp(UINT hit, CPoint p) {
        frame.OnNcLButtonUp(m_hWnd, WM_NCLBUTTONUP, hit, MAKELPARAM(p.x, p.y));
    }
    afx_msg void OnClose() { ++closes; }
    afx_msg void OnSysCommand(UINT id, LPARAM) { sysCommands.push_back(id); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(SkinnedDialog, CDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_NCPAINT()
    ON_WM_NCACTIVATE()
    ON_WM_NCCALCSIZE()
    ON_WM_NCHITTEST()
    ON_WM_NCMOUSEMOVE()
    ON_WM_NCLBUTTONDOWN()
    ON_WM_NCLBUTTONUP()
    ON_WM_CLOSE()
    ON_WM_SYSCOMMAND()
END_MESSAGE_MAP()

struct Shown {
    SkinnedDialog dlg;
    CRect window;
    explicit Shown(UINT id, LPCWSTR title = nullptr) {
        EXPECT_TRUE(dlg.Create(id));
        if (title) dlg.SetWindowText(title);
        dlg.SetWindowPos(nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        dlg.ShowWindow(SW_SHOW);
        dlg.UpdateWindow();
        test_capture::Pump(100);
        dlg.frame.Paint(dlg.m_hWnd);
        dlg.GetWindowRect(&window);
    }
    ~Shown() { dlg.DestroyWindow(); }
    int W() const { return window.Width(); }
    int H() const { return window.Height(); }
    LPARAM Screen(int x, int y) const { return MAKELPARAM(window.left + x, window.top + y); }
    LRESULT Hit(int x, int y) { return dlg.SendMessage(WM_NCHITTEST, 0, Screen(x, y)); }
};

TEST(SkinFrame, LayoutAndHitCodes) {
    // Positions come from the real window rectangle: x < 0 counts from the right edge.
    struct Case {
        const char* where;
        int x, y;
        int main, login, resizable;
    };
    const Case cases[] = {
        {"close", -19, 10, HTCLOSE, HTCLOSE, HTCLOSE},
        {"minimise", -42, 10, CSkinFrame::kHitMinimise, HTCAPTION, HTCAPTION},
        {"menu", -66, 10, CSkinFrame::kHitMenu, HTCAPTION, HTCAPTION},
        {"caption", 100, 12, HTCAPTION, HTCAPTION, HTCAPTION},
        {"icon", 3, 8, HTSYSMENU, HTSYSMENU, HTSYSMENU},
        {"top edge", 100, 0, HTCLIENT, HTCLIENT, HTTOP},
        {"above the caption", 100, 2, HTCLIENT, HTCLIENT, HTCLIENT},
        {"left border", 0, 60, HTCLIENT, HTCLIENT, HTLEFT},
        {"right border", -1, 60, HTCLIENT, HTCLIENT, HTRIGHT},
        {"bottom border", 100, -1, HTCLIENT, HTCLIENT, HTBOTTOM},
        {"top-left corner", 0, 0, HTCLIENT, HTCLIENT, HTTOPLEFT},
        {"client", 100, 60, HTCLIENT, HTCLIENT, HTCLIENT},
    };
    for (UINT id : {kMainStyle, kLoginStyle, kResizable}) {
        Shown s(id);
        EXPECT_EQ(s.dlg.frame.LeftWidth(), 1);
        EXPECT_EQ(s.dlg.frame.CaptionHeight(), 29);
        // The client area starts where the frame says it does.
        CRect client;
        s.dlg.GetClientRect(&client);
        s.dlg.ClientToScreen(&client);
        EXPECT_EQ(client.left - s.window.left, 1) << id;
        EXPECT_EQ(client.top - s.window.top, 29) << id;
        // The frame takes the system-menu and box styles away.
        EXPECT_EQ(s.dlg.GetStyle() & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
        for (const Case& c : cases) {
            int x = c.x < 0 ? s.W() + c.x : c.x;
            int y = c.y < 0 ? s.H() + c.y : c.y;
            int expected = id == kMainStyle ? c.main : id == kLoginStyle ? c.login : c.resizable;
            EXPECT_EQ(s.Hit(x, y), expected) << id << " " << c.where;
        }
    }
}

TEST(SkinFrame, CaptionButtonStatesFollowTheMouse) {
    Shown s(kMainStyle);
    test_capture::SaveWindow(s.dlg.m_hWnd, "frame_main");
    const COLORREF hotClose = RGB(214, 72, 64);
    int cx = s.W() - 27 + 2, cy = 4 + 2;  // inside the close button's rounded face
    EXPECT_NE(WindowPixel(s.dlg.m_hWnd, cx, cy), hotClose);
    s.dlg.SendMessage(WM_NCMOUSEMOVE, HTCLOSE, s.Screen(cx, cy));
    EXPECT_EQ(s.dlg.frame.HotCode(), HTCLOSE);
    EXPECT_EQ(WindowPixel(s.dlg.m_hWnd, cx, cy), hotClose);
    test_capture::SaveWindow(s.dlg.m_hWnd, "frame_close_hovered");
    s.dlg.SendMessage(WM_NCMOUSEMOVE, HTCAPTION, s.Screen(100, 12));
    EXPECT_NE(WindowPixel(s.dlg.m_hWnd, cx, cy), hotClose);
}

TEST(SkinFrame, PressesAndReleases) {
    Shown s(kMainStyle);
    s.dlg.frame.SetCaptionMenu(136);
    std::vector<UINT> tracked;
    CSkinFrame::Tracker() = [&](HMENU, UINT flags, int, int, HWND) {
        tracked.push_back(flags);
        return TRUE;
    };
    struct Case {
        const char* what;
        UINT message;
        int hit;
        size_t tracks;
        int closes;
        size_t minimises;
    };
    const Case cases[] = {
        // Only the icon area opens the window menu; the buttons act on their own.
        {"press close", WM_NCLBUTTONDOWN, HTCLOSE, 0, 0, 0},
        {"press minimise", WM_NCLBUTTONDOWN, CSkinFrame::kHitMinimise, 0, 0, 0},
        {"press icon", WM_NCLBUTTONDOWN, HTSYSMENU, 1, 0, 0},
        {"press menu button", WM_NCLBUTTONDOWN, CSkinFrame::kHitMenu, 2, 0, 0},
        {"release close", WM_NCLBUTTONUP, HTCLOSE, 2, 1, 0},
        {"release minimise", WM_NCLBUTTONUP, CSkinFrame::kHitMinimise, 2, 1, 1},
        {"release caption", WM_NCLBUTTONUP, HTCAPTION, 2, 1, 1},
    };
    for (const Case& c : cases) {
        s.dlg.SendMessage(c.message, static_cast<WPARAM>(c.hit), s.Screen(50, 10));
        EXPECT_EQ(tracked.size(), c.tracks) << c.what;
        EXPECT_EQ(s.dlg.closes, c.closes) << c.what;
        EXPECT_EQ(s.dlg.sysCommands.size(), c.minimises) << c.what;
    }
    ASSERT_EQ(tracked.size(), 2u);
    EXPECT_EQ(tracked[0], 0u);
    EXPECT_EQ(tracked[1], static_cast<UINT>(TPM_RIGHTBUTTON));
    EXPECT_EQ(s.dlg.sysCommands.at(0), static_cast<WPARAM>(SC_MINIMIZE));
    EXPECT_EQ(s.dlg.frame.HotCode(), 0);  // cleared by the release on minimise
    CSkinFrame::Tracker() = [](HMENU, UINT, int, int, HWND) { return FALSE; };
}

TEST(SkinFrame, LongTitleStopsBeforeTheButtons) {
    Shown s(kMainStyle, L"一个非常非常长的标题 WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW");
    test_capture::SaveWindow(s.dlg.m_hWnd, "frame_long_title");
    // Below the menu button's glyph only the caption bar may show: no white title text.
    int whites = 0;
    for (int x = s.W() - 74; x < s.W() - 58; ++x)
        for (int y = 15; y < 20; ++y)
            if (WindowPixel(s.dlg.m_hWnd, x, y) == RGB(255, 255, 255)) ++whites;
    EXPECT_EQ(whites, 0);
    // Some title text is drawn left of the buttons.
    int titleWhites = 0;
    for (int x = 10; x < 60; ++x)
        for (int y = 6; y < 24; ++y)
            if (WindowPixel(s.dlg.m_hWnd, x, y) == RGB(255, 255, 255)) ++titleWhites;
    EXPECT_GT(titleWhites, 0);
}

TEST(SkinFrame, PaintBeforeInitDoesNothing) {
    CSkinFrame frame;
    Shown s(kLoginStyle);
    COLORREF before = WindowPixel(s.dlg.m_hWnd, 100, 12);
    frame.Paint(s.dlg.m_hWnd);
    EXPECT_FALSE(frame.IsInitialised());
    EXPECT_EQ(WindowPixel(s.dlg.m_hWnd, 100, 12), before);
}

TEST(SkinFrame, SignedPointsOnASecondMonitor) {
    Shown s(kMainStyle);
    s.dlg.SetWindowPos(nullptr, -500, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    s.dlg.GetWindowRect(&s.window);
    EXPECT_EQ(s.Hit(s.W() - 19, 10), HTCLOSE);
    EXPECT_EQ(s.Hit(100, 12), HTCAPTION);
}

}  // namespace
