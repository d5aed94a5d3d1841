#include <gtest/gtest.h>

#include <functional>

#include "controls/CScrollHelper.h"
#include "tests/support/Capture.h"

namespace {

constexpr int kWidth = 240, kHeight = 200, kDisplay = 1000;
constexpr int kStep = CScrollHelper::kLineStep;

// A borderless window with a vertical bar that forwards its scrolling messages to the helper,
// with one child at the content's origin to show where the contents are.
class Host : public CWnd {
public:
    CScrollHelper helper;
    CWnd probe;

protected:
    afx_msg void OnSize(UINT type, int cx, int cy) { helper.OnSize(type, cx, cy); }
    afx_msg void OnVScroll(UINT code, UINT pos, CWnd* bar) { helper.OnVScroll(code, pos, bar); }
    afx_msg BOOL OnMouseWheel(UINT flags, short delta, CPoint pt) { return helper.OnMouseWheel(flags, delta, pt); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Host, CWnd)
    ON_WM_SIZE()
    ON_WM_VSCROLL()
    ON_WM_MOUSEWHEEL()
END_MESSAGE_MAP()

// Sets the system's wheel lines for one test and puts the old value back.
class WheelLines {
public:
    WheelLines() { SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &m_nOld, 0); }
    ~WheelLines() { Set(m_nOld); }
    static void Set(UINT lines) { SystemParametersInfoW(SPI_SETWHEELSCROLLLINES, lines, nullptr, 0); }

private:
    UINT m_nOld = 3;
};

class ScrollHelper : public ::testing::Test {
protected:
    Host host;

    void SetUp() override {
        ASSERT_TRUE(host.CreateEx(0, nullptr, L"host", WS_POPUP | WS_VISIBLE | WS_VSCROLL,
                                  CRect(40, 40, 40 + kWidth, 40 + kHeight), nullptr, 0));
        ASSERT_TRUE(host.probe.CreateEx(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, CRect(0, 0, 20, 20), &host, 1));
        host.helper.AttachWnd(&host);
        host.helper.SetDisplaySize(0, kDisplay);
    }
    void TearDown() override {
        host.helper.DetachWnd();
        host.DestroyWindow();
    }

    // Where the content's origin is drawn, relative to the client's top.
    int ContentTop() const {
        CRect r;
        host.probe.GetWindowRect(&r);
        host.ScreenToClient(&r);
        return r.top;
    }
    int BarPos() const { return host.GetScrollPos(SB_VERT); }
    // Brings the contents to pos the way a dragged thumb does.
    void ScrollTo(int pos) {
        ::SetScrollPos(host.m_hWnd, SB_VERT, pos, FALSE);
        host.SendMessage(WM_VSCROLL, SB_THUMBPOSITION);
        ASSERT_EQ(host.helper.GetScrollPos().cy, pos);
    }
    // Position, bar and contents agree.
    void ExpectAt(int pos, const char* name) {
        EXPECT_EQ(host.helper.GetScrollPos().cy, pos) << name;
        EXPECT_EQ(BarPos(), pos) << name;
        EXPECT_EQ(ContentTop(), -pos) << name;
    }
    void Resize(int height) { host.SetWindowPos(nullptr, 0, 0, kWidth, height, SWP_NOMOVE | SWP_NOZORDER); }
};

TEST_F(ScrollHelper, DisplaySizeSetsBarsAndPageCountsTheBar) {
    // The bar that appears takes client width, but the page is the full window.
    SCROLLINFO si{};
    ASSERT_TRUE(host.GetScrollInfo(SB_VERT, &si));
    EXPECT_EQ(si.nMin, 0);
    EXPECT_EQ(si.nMax, kDisplay - 1);
    EXPECT_EQ(si.nPage, static_cast<UINT>(kHeight));
    EXPECT_EQ(si.nPos, 0);
    EXPECT_EQ(host.helper.GetPageSize(), CSize(0, kHeight));
    EXPECT_EQ(host.helper.GetDisplaySize(), CSize(0, kDisplay));
    EXPECT_TRUE(host.GetStyle() & WS_VSCROLL);

    // A display wider than the window keeps the horizontal bar in step too.
    host.helper.SetDisplaySize(kWidth + 100, kDisplay);
    ASSERT_TRUE(host.GetScrollInfo(SB_HORZ, &si));
    EXPECT_EQ(si.nMax, kWidth + 99);
    EXPECT_GT(si.nPage, 0u);
    EXPECT_EQ(static_cast<LONG>(si.nPage), host.helper.GetPageSize().cx);
    EXPECT_EQ(host.helper.GetPageSize().cy, kHeight);
}

TEST_F(ScrollHelper, DisplayThatFitsResetsAndMovesContentsBack) {
    const int heights[] = {kHeight, kHeight - 1, 0};
    for (int display : heights) {
        ScrollTo(300);
        ASSERT_EQ(ContentTop(), -300);
        host.helper.SetDisplaySize(0, display);
        EXPECT_EQ(host.helper.GetScrollPos(), CSize(0, 0)) << display;
        EXPECT_EQ(host.helper.GetPageSize(), CSize(0, 0)) << display;
        EXPECT_EQ(ContentTop(), 0) << display;
        int mn = -1, mx = -1;
        host.GetScrollRange(SB_VERT, &mn, &mx);
        EXPECT_EQ(mx, 0) << display;
        // Nothing to scroll: the wheel is not taken.
        EXPECT_FALSE(host.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA))) << display;
        EXPECT_EQ(ContentTop(), 0) << display;
        host.helper.SetDisplaySize(0, kDisplay);
    }
}

TEST_F(ScrollHelper, ShrinkingDisplayClampsAndMovesContents) {
    ScrollTo(700);
    host.helper.SetDisplaySize(0, 500);
    // Kept in proportion (same page), then short of the end by one.
    ExpectAt(500 - kHeight - 1, "shrunk");
}

TEST_F(ScrollHelper, ScrollCodes) {
    const int last = kDisplay - kHeight;
    HWND bar = CreateWindowExW(0, L"SCROLLBAR", L"", WS_CHILD | SBS_VERT, 0, 0, 10, 100, host.m_hWnd, nullptr, nullptr,
                               nullptr);
    ASSERT_TRUE(bar);
    SCROLLINFO si{sizeof si, SIF_RANGE | SIF_POS, 0, kDisplay, 0, 250};
    ::SetScrollInfo(bar, SB_CTL, &si, FALSE);
    struct Case {
        const char* name;
        int start;
        std::function<void()> act;
        int expected;
    };
    auto code = [this](UINT c) { return [this, c] { host.SendMessage(WM_VSCROLL, MAKEWPARAM(c, 0)); }; };
    const Case cases[] = {
        {"line down", 0, code(SB_LINEDOWN), kStep},
        {"line up", 100, code(SB_LINEUP), 100 - kStep},
        {"line up at the top", 0, code(SB_LINEUP), 0},
        {"line up near the top", 20, code(SB_LINEUP), 0},
        {"line down near the end", last - 10, code(SB_LINEDOWN), last},
        {"page down", 0, code(SB_PAGEDOWN), kHeight},
        {"page down near the end", last - 10, code(SB_PAGEDOWN), last},
        {"page down at the end", last, code(SB_PAGEDOWN), last},
        {"page up", 450, code(SB_PAGEUP), 450 - kHeight},
        {"page up near the top", 30, code(SB_PAGEUP), 0},
        {"thumb track on the window's bar", 0,
         [&] {
             ::SetScrollPos(host.m_hWnd, SB_VERT, 520, FALSE);
             host.SendMessage(WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, 0));
         },
         520},
        {"thumb position from a bar control", 600,
         [&] { host.SendMessage(WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), reinterpret_cast<LPARAM>(bar)); }, 250},
        {"thumb position ignores the message's own position", 0,
         [&] {
             ::SetScrollPos(host.m_hWnd, SB_VERT, 420, FALSE);
             host.SendMessage(WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 7));
         },
         420},
        {"end scroll", 300, code(SB_ENDSCROLL), 300},
        {"top", 300, code(SB_TOP), 300},
    };
    for (const Case& c : cases) {
        ScrollTo(c.start);
        c.act();
        ExpectAt(c.expected, c.name);
    }
    ::DestroyWindow(bar);

    // Positions past 16 bits come from the bar, not from the message.
    host.helper.SetDisplaySize(0, 100000);
    ScrollTo(70000);
    EXPECT_EQ(BarPos(), 70000);
}

TEST_F(ScrollHelper, WheelStepsByLinesAndNotches) {
    WheelLines restore;
    const int last = kDisplay - kHeight;
    struct Case {
        const char* name;
        UINT lines;
        short delta;
        int start, expected;
    };
    const Case cases[] = {
        {"3 lines, one notch down", 3, -WHEEL_DELTA, 0, kStep},
        {"3 lines, two notches down", 3, -2 * WHEEL_DELTA, 0, 2 * kStep},
        {"3 lines, one notch up", 3, WHEEL_DELTA, 300, 300 - kStep},
        {"6 lines, one notch", 6, -WHEEL_DELTA, 0, 2 * kStep},
        {"6 lines, two notches", 6, -2 * WHEEL_DELTA, 0, 4 * kStep},
        {"1 line still one step", 1, -WHEEL_DELTA, 0, kStep},
        {"delta 0 is one step down", 3, 0, 100, 100 + kStep},
        {"part of a notch is one step", 3, 40, 100, 100 - kStep},
        {"page per notch, down", WHEEL_PAGESCROLL, -3 * WHEEL_DELTA, 100, 100 + kHeight},
        {"page per notch, up", WHEEL_PAGESCROLL, WHEEL_DELTA, 300, 300 - kHeight},
        {"many notches stop at the end", 3, -100 * WHEEL_DELTA, 0, last},
        {"a huge lines setting stops at the end", 0xFFFFFFFE, -273 * WHEEL_DELTA, 0, last},
    };
    for (const Case& c : cases) {
        WheelLines::Set(c.lines);
        UINT got = 0;
        SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &got, 0);
        ASSERT_EQ(got, c.lines) << c.name;
        ScrollTo(c.start);
        EXPECT_TRUE(host.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(c.delta)), MAKELPARAM(50, 50)))
            << c.name;
        ExpectAt(c.expected, c.name);
    }
}

TEST_F(ScrollHelper, ResizeKeepsProportionAndClamps) {
    struct Case {
        int start, height, expected, page;
    };
    const Case cases[] = {
        {300, 250, 375, 250},                 // 300 * 250 / 200
        {300, 100, 150, 100},                 // shrinking keeps the proportion too
        {600, 400, kDisplay - 400 - 1, 400},  // 1200 would pass the end
        {333, 300, 499, 300},                 // truncated: 499.5
        {0, 300, 0, 300},                     // the top stays the top
        {300, kDisplay, 0, 0},                // everything fits
        {300, 0, 0, 0},                       // a page of 0 keeps no proportion
    };
    for (const Case& c : cases) {
        Resize(kHeight);
        ScrollTo(c.start);
        Resize(c.height);
        EXPECT_EQ(host.helper.GetPageSize().cy, c.page) << c.start << " -> " << c.height;
        EXPECT_EQ(host.helper.GetScrollPos().cy, c.expected) << c.start << " -> " << c.height;
        EXPECT_EQ(ContentTop(), -c.expected) << c.start << " -> " << c.height;
    }
    // With no page the thumb can still move; growing again must not divide by the zero page.
    ScrollTo(500);
    host.SendMessage(WM_VSCROLL, MAKEWPARAM(SB_PAGEDOWN, 0));
    EXPECT_EQ(host.helper.GetScrollPos().cy, 500);
    Resize(kDisplay - 100);
    EXPECT_EQ(host.helper.GetScrollPos().cy, 99);
    host.SendMessage(WM_VSCROLL, MAKEWPARAM(SB_PAGEDOWN, 0));
    ExpectAt(100, "page down after a zero page");
}

TEST(ScrollHelperDetached, DoesNothingWithoutAWindow) {
    CScrollHelper none;
    none.SetDisplaySize(10, 500);
    none.OnSize(0, 100, 100);
    none.OnVScroll(SB_PAGEDOWN, 0, nullptr);
    EXPECT_FALSE(none.OnMouseWheel(0, -WHEEL_DELTA, CPoint()));
    EXPECT_EQ(none.GetDisplaySize(), CSize(10, 500));
    EXPECT_EQ(none.GetPageSize(), CSize(0, 0));
    EXPECT_EQ(none.GetScrollPos(), CSize(0, 0));

    // Attached to an object whose window is gone, or detached from a live one.
    CWnd unmade;
    none.AttachWnd(&unmade);
    none.OnSize(0, 100, 100);
    none.OnVScroll(SB_LINEDOWN, 0, nullptr);
    EXPECT_FALSE(none.OnMouseWheel(0, -WHEEL_DELTA, CPoint()));
    EXPECT_EQ(none.GetScrollPos(), CSize(0, 0));

    CWnd live;
    ASSERT_TRUE(live.CreateEx(0, nullptr, L"", WS_POPUP | WS_VSCROLL, CRect(0, 0, 100, 100), nullptr, 0));
    none.AttachWnd(&live);
    none.SetDisplaySize(0, 500);
    none.OnVScroll(SB_LINEDOWN, 0, nullptr);
    ASSERT_EQ(none.GetScrollPos().cy, kStep);
    none.DetachWnd();
    none.OnVScroll(SB_LINEDOWN, 0, nullptr);
    none.SetDisplaySize(0, 50);
    EXPECT_FALSE(none.OnMouseWheel(0, -WHEEL_DELTA, CPoint()));
    EXPECT_EQ(none.GetScrollPos().cy, kStep);
    EXPECT_EQ(live.GetScrollPos(SB_VERT), kStep);
    live.DestroyWindow();
}

}  // namespace
