#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "controls/CCustomTabCtrl.h"
#include "tests/support/Capture.h"

namespace {

constexpr UINT kTabId = 1003;
constexpr UINT kScript = WM_APP + 7;
constexpr int kWidth = 300, kThick = 24;
constexpr COLORREF kStripBack = RGB(249, 251, 255);
constexpr COLORREF kFill = RGB(225, 231, 242);
constexpr COLORREF kOutline = RGB(190, 204, 226);
constexpr COLORREF kSelText = RGB(85, 85, 85);
constexpr COLORREF kUnselText = RGB(141, 143, 148);

const BYTE kGlyphBits[7][6] = {
    {0xbd, 0xfb, 0xdf, 0xbd, 0x3c, 0x00}, {0xb9, 0xf3, 0xcf, 0x9d, 0x99, 0x00}, {0xb1, 0xe3, 0xc7, 0x8d, 0xc3, 0x00},
    {0xa3, 0xc7, 0xe3, 0xc5, 0xe7, 0x00}, {0xb1, 0xe3, 0xc7, 0x8d, 0xc3, 0x00}, {0xb9, 0xf3, 0xcf, 0x9d, 0x99, 0x00},
    {0xbd, 0xfb, 0xdf, 0xbd, 0x3c, 0x00},
};
constexpr int kClick = -2, kRClick = -5, kRDblClk = -6;
bool Ink(int glyph, int x, int y) { return !(kGlyphBits[y][glyph] & (0x80 >> x)); }

// The parent: keeps every notification and answers with `answer`; runs `script` when posted kScript.
class Host : public CWnd {
public:
    std::vector<TabNotifyRecord> notes;
    std::function<LRESULT(const TabNotifyRecord&)> answer;
    std::function<void()> script;

protected:
    LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
        if (m == WM_NOTIFY) {
            const auto* rec = reinterpret_cast<const TabNotifyRecord*>(l);
            notes.push_back(*rec);
            return answer ? answer(*rec) : 0;
        }
        if (m == kScript) {
            if (script) script();
            return 0;
        }
        return CWnd::WindowProc(m, w, l);
    }
};

class TabCtrl : public ::testing::Test {
protected:
    Host host;
    CCustomTabCtrl tab;

    void SetUp() override {
        ASSERT_TRUE(test_capture::CreatePlainWindow(host, L"TabHost", CRect(40, 40, 440, 200)));
        ::SetWindowPos(host.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    void TearDown() override {
        if (tab.m_hWnd) tab.DestroyWindow();
        host.DestroyWindow();
    }
    void Make(DWORD style, int width = kWidth, int height = kThick) {
        ASSERT_TRUE(tab.Create(WS_VISIBLE | style, CRect(10, 10, 10 + width, 10 + height), &host, kTabId));
    }
    void Fill(const std::vector<const wchar_t*>& texts) {
        for (const wchar_t* t : texts) ASSERT_GE(tab.InsertItem(tab.GetItemCount(), t, 100 + tab.GetItemCount()), 0);
    }
    static std::vector<std::wstring> Texts(const CCustomTabCtrl& t) {
        std::vector<std::wstring> v;
        for (int i = 0; i < t.GetItemCount(); ++i) v.push_back(t.GetItem(i)->m_strText.GetString());
        return v;
    }
    std::vector<std::wstring> Texts() const { return Texts(tab); }
    static int SelectedFlags(const CCustomTabCtrl& t) {
        int n = 0;
        for (int i = 0; i < t.GetItemCount(); ++i) n += t.GetItem(i)->m_bSelected ? 1 : 0;
        return n;
    }
    void Click(UINT message, CPoint p, UINT flags = 0) { tab.SendMessage(message, flags, MAKELPARAM(p.x, p.y)); }
    std::vector<int> Codes() const {
        std::vector<int> v;
        for (const auto& n : host.notes) v.push_back(static_cast<int>(n.hdr.code));
        return v;
    }
};

TEST_F(TabCtrl, InsertTable) {
    Make(TABS_AUTOSCROLLBUTTONS);
    struct Case {
        int index;
        const wchar_t* text;
        int result;
    } cases[] = {
        {0, L"b", 0},
        {1, L"d", 1},                                // at count: appended
        {3, L"x", -2},                               // count + 1
        {-1, L"x", -2},                              //
        {1, L"c", 1},                                // between
        {0, L"a", 0},                                // before all
        {4, L"12345678901234567890123456789", 4},    // 29 characters
        {0, L"123456789012345678901234567890", -7},  // 30 characters
    };
    for (const Case& c : cases) EXPECT_EQ(tab.InsertItem(c.index, c.text, 7), c.result) << c.index << " " << c.text;
    EXPECT_EQ(Texts(), (std::vector<std::wstring>{L"a", L"b", L"c", L"d", L"12345678901234567890123456789"}));
    EXPECT_EQ(tab.GetCurSel(), -1);  // inserting doesn't select

    // Inserting before the selection keeps the same item selected.
    ASSERT_EQ(tab.SetCurSel(2), 0);
    EXPECT_EQ(tab.InsertItem(1, L"new"), 1);
    EXPECT_EQ(tab.GetCurSel(), 3);
    EXPECT_EQ(tab.GetItem(3)->m_strText, L"c");
    EXPECT_EQ(tab.InsertItem(4, L"after"), 4);
    EXPECT_EQ(tab.GetCurSel(), 3);
    EXPECT_EQ(SelectedFlags(tab), 1);
}

TEST_F(TabCtrl, MoveTable) {
    Make(TABS_AUTOSCROLLBUTTONS);
    struct Case {
        int from, to, result;
        std::vector<std::wstring> order;
    } cases[] = {
        {1, 2, 1, {L"A", L"B", L"C", L"D"}},  // before its right neighbour: no move
        {1, 1, 1, {L"A", L"B", L"C", L"D"}},   {0, 4, 3, {L"B", L"C", L"D", L"A"}},  // to the end
        {3, 0, 0, {L"D", L"A", L"B", L"C"}},   {2, 1, 1, {L"A", L"C", L"B", L"D"}},
        {0, 5, -2, {L"A", L"B", L"C", L"D"}},  {4, 0, -2, {L"A", L"B", L"C", L"D"}},
        {-1, 0, -2, {L"A", L"B", L"C", L"D"}},
    };
    for (const Case& c : cases) {
        CCustomTabCtrl t;
        ASSERT_TRUE(t.Create(WS_VISIBLE | TABS_AUTOSCROLLBUTTONS, CRect(0, 40, 300, 64), &host, 5));
        for (const wchar_t* s : {L"A", L"B", L"C", L"D"}) t.InsertItem(t.GetItemCount(), s);
        t.SetCurSel(3);
        EXPECT_EQ(t.MoveItem(c.from, c.to), c.result) << c.from << "->" << c.to;
        EXPECT_EQ(Texts(t), c.order) << c.from << "->" << c.to;
        // The moved item is the selection, and the only item marked selected.
        EXPECT_EQ(SelectedFlags(t), 1) << c.from << "->" << c.to;
        if (c.result >= 0 && c.from != c.result) {
            EXPECT_EQ(t.GetCurSel(), c.result);
            EXPECT_TRUE(t.GetItem(c.result)->m_bSelected);
        }
    }
    EXPECT_TRUE(host.notes.empty());
    Fill({L"A", L"B", L"C", L"D"});
    EXPECT_EQ(tab.MoveItem(0, 2, TRUE), 1);
    ASSERT_EQ(host.notes.size(), 1u);
    EXPECT_EQ(static_cast<int>(host.notes[0].hdr.code), TABN_ITEMMOVE);
    EXPECT_EQ(host.notes[0].nItem, 1);
}

TEST_F(TabCtrl, CopyCaptionTable) {
    Make(TABS_AUTOSCROLLBUTTONS);
    struct Case {
        std::vector<const wchar_t*> items;
        const wchar_t* copy;
    } cases[] = {
        {{L"Tab"}, L"Tab (2)"},       {{L"Tab (2)"}, L"Tab (3)"}, {{L"Tab(12)"}, L"Tab(2)"},
        {{L"Tab(1)"}, L"Tab(1) (2)"}, {{L"Tab(9)"}, L"Tab(2)"},   {{L"Tab", L"Tab (2)"}, L"Tab (3)"},
        {{L"(5)"}, L"(5) (2)"},
    };
    for (const Case& c : cases) {
        CCustomTabCtrl t;
        ASSERT_TRUE(t.Create(WS_VISIBLE | TABS_AUTOSCROLLBUTTONS, CRect(0, 40, 300, 64), &host, 5));
        for (const wchar_t* s : c.items) t.InsertItem(t.GetItemCount(), s, 42);
        EXPECT_EQ(t.CopyItem(0, 1), 1) << c.copy;
        EXPECT_EQ(t.GetItem(1)->m_strText, c.copy);
        EXPECT_EQ(t.GetItem(1)->m_dwData, 42u);
        EXPECT_EQ(t.GetCurSel(), 1);  // the copy is selected
    }
    tab.InsertItem(0, L"12345678901234567890123456789");
    EXPECT_EQ(tab.CopyItem(0, 1), -7);
    EXPECT_EQ(tab.CopyItem(1, 0), -2);
    EXPECT_EQ(tab.GetItemCount(), 1);
}

TEST_F(TabCtrl, ClicksSendTheExactRecord) {
    Make(TABS_AUTOSCROLLBUTTONS);
    Fill({L"Upload", L"Uploaded"});
    tab.SetCurSel(0);
    host.notes.clear();
    const CPoint p(220, 12);
    Click(WM_LBUTTONDOWN, p);
    Click(WM_LBUTTONUP, p);
    ASSERT_EQ(Codes(), (std::vector<int>{kClick, TABN_SELCHANGE}));
    const TabNotifyRecord& click = host.notes[0];
    EXPECT_EQ(click.hdr.hwndFrom, tab.m_hWnd);
    EXPECT_EQ(click.hdr.idFrom, kTabId);
    EXPECT_EQ(click.nItem, 1);
    EXPECT_STREQ(click.szText, L"Uploaded");
    EXPECT_EQ(click.dwData, 101u);
    EXPECT_EQ(CRect(click.rc), tab.GetItem(1)->m_rectText);
    EXPECT_EQ(CPoint(click.pt), p);
    EXPECT_FALSE(click.bSelected);  // not yet selected when the click is reported
    EXPECT_FALSE(click.bHighlighted);
    const TabNotifyRecord& sel = host.notes[1];
    EXPECT_EQ(sel.nItem, 1);
    EXPECT_TRUE(sel.bSelected);
    EXPECT_EQ(CPoint(sel.pt), p);
    EXPECT_EQ(tab.GetCurSel(), 1);

    // The selected tab again: a click, no selection change.
    host.notes.clear();
    Click(WM_LBUTTONDOWN, p);
    Click(WM_LBUTTONUP, p);
    EXPECT_EQ(Codes(), (std::vector<int>{kClick}));

    host.notes.clear();
    Click(WM_RBUTTONDOWN, CPoint(20, 12));
    Click(WM_RBUTTONDBLCLK, CPoint(20, 12));
    ASSERT_EQ(Codes(), (std::vector<int>{kRClick, kRDblClk}));
    EXPECT_EQ(host.notes[0].nItem, 0);
    EXPECT_EQ(tab.GetCurSel(), 1);
}

TEST_F(TabCtrl, EmptyListHitsNothingAndLaysOutWithoutItems) {
    // The main dialog's order: style and font first, tabs later.
    Make(TABS_AUTOSCROLLBUTTONS);
    LOGFONTW lf{};
    lf.lfHeight = -12;
    lstrcpyW(lf.lfFaceName, L"Tahoma");
    tab.SetControlFont(&lf, TRUE);
    tab.ModifyStyle(0, TABS_CLOSEBUTTON);
    tab.ModifyStyle(TABS_CLOSEBUTTON, 0);
    tab.UpdateWindow();
    for (CPoint p : {CPoint(0, 0), CPoint(5, 12), CPoint(150, 12), CPoint(299, 23)}) EXPECT_EQ(tab.HitTest(p), -6);
    host.notes.clear();
    Click(WM_LBUTTONDOWN, CPoint(30, 12));
    Click(WM_LBUTTONUP, CPoint(30, 12));
    ASSERT_EQ(Codes(), (std::vector<int>{kClick}));
    // For a hit code only the header, item and point are filled.
    const TabNotifyRecord& n = host.notes[0];
    EXPECT_EQ(n.nItem, -6);
    EXPECT_EQ(n.szText[0], L'\0');
    EXPECT_EQ(n.dwData, 0u);
    EXPECT_TRUE(CRect(n.rc).IsRectNull());
    EXPECT_EQ(CPoint(n.pt), CPoint(30, 12));

    // Without automatic buttons they always show: points hit them or nothing.
    tab.ModifyStyle(TABS_AUTOSCROLLBUTTONS, 0);
    EXPECT_EQ(tab.HitTest(CPoint(5, 12)), CCustomTabCtrl::kHitPrev);
    EXPECT_EQ(tab.HitTest(CPoint(30, 12)), CCustomTabCtrl::kHitNext);
    EXPECT_EQ(tab.HitTest(CPoint(150, 12)), -6);
}

TEST_F(TabCtrl, ScrollButtonRepeatsEvery250ms) {
    DWORD now = 5000;
    CCustomTabCtrl::TickSource old = CCustomTabCtrl::Ticks();
    CCustomTabCtrl::Ticks() = [&] { return now; };
    Make(TABS_AUTOSCROLLBUTTONS | TABS_WIDEST, 200);
    for (int i = 0; i < 12; ++i) {
        CString s;
        s.Format(L"Tab %d", i);
        tab.InsertItem(i, s);
    }
    tab.SetCurSel(0);
    ASSERT_EQ(tab.GetButtonState(CCustomTabCtrl::kHitNext), CCustomTabCtrl::kNormal);
    ASSERT_EQ(tab.GetFirstVisible(), 0);
    const CPoint next(33, 12);
    ASSERT_EQ(tab.HitTest(next), CCustomTabCtrl::kHitNext);
    Click(WM_LBUTTONDOWN, next);
    EXPECT_EQ(tab.GetFirstVisible(), 1);  // one step at the press
    EXPECT_EQ(tab.GetButtonState(CCustomTabCtrl::kHitNext), CCustomTabCtrl::kPressed);
    // The first tab is now the stub beside the buttons.
    EXPECT_EQ(tab.GetItem(0)->m_nShape, CCustomTabCtrlItem::kStubSelected);
    EXPECT_EQ(tab.GetItem(0)->m_rect.Width(), kThick / 2);
    struct Tick {
        DWORD at;
        int first;
    } ticks[] = {{100, 1}, {200, 1}, {250, 2}, {300, 2}, {400, 2}, {500, 3}, {749, 3}, {750, 4}};
    for (const Tick& t : ticks) {
        now = 5000 + t.at;
        tab.SendMessage(WM_TIMER, CCustomTabCtrl::kRepeatTimer);
        EXPECT_EQ(tab.GetFirstVisible(), t.first) << t.at;
    }
    EXPECT_EQ(tab.GetItem(2)->m_nShape, CCustomTabCtrlItem::kHidden);
    EXPECT_EQ(tab.GetItem(3)->m_nShape, CCustomTabCtrlItem::kStub);
    Click(WM_LBUTTONUP, next);
    EXPECT_EQ(tab.GetButtonState(CCustomTabCtrl::kHitNext), CCustomTabCtrl::kNormal);
    now += 1000;
    tab.SendMessage(WM_TIMER, CCustomTabCtrl::kRepeatTimer);
    EXPECT_EQ(tab.GetFirstVisible(), 4);  // released: no more steps
    // Scrolling to the last tab scrolls back as far as the strip stays filled.
    tab.RecalcLayout(CCustomTabCtrl::kLast, 0);
    const int first = tab.GetFirstVisible();
    EXPECT_LT(first, 11);
    // One tab further back would run past the strip's end.
    const CCustomTabCtrlItem* last = tab.GetItem(11);
    EXPECT_LE(last->m_rect.right, 200);
    EXPECT_GT(last->m_rect.right + last->m_rect.Width() - kThick / 2, 200);
    CCustomTabCtrl::Ticks() = old;
}

TEST_F(TabCtrl, TwoShortTabsShowNoButtons) {
    Make(TABS_AUTOSCROLLBUTTONS | TABS_WIDEST);
    Fill({L"One", L"Two"});
    for (int hit : {-1, -2, -3, -4, -5}) EXPECT_EQ(tab.GetButtonState(hit), 0) << hit;
    EXPECT_EQ(tab.GetFirstVisible(), 0);
    EXPECT_EQ(tab.GetItem(0)->m_nShape, CCustomTabCtrlItem::kOverlapped);
    EXPECT_EQ(tab.GetItem(1)->m_nShape, CCustomTabCtrlItem::kFull);
}

TEST_F(TabCtrl, VerticalStripStartsAtTheBottom) {
    Make(TABS_AUTOSCROLLBUTTONS | TABS_VERTICAL, kThick, kWidth);
    Fill({L"One", L"Two"});
    // Strip x 30 and 200: inside the first and the second tab's outline.
    EXPECT_EQ(tab.HitTest(CPoint(12, kWidth - 30)), 0);
    EXPECT_EQ(tab.HitTest(CPoint(12, kWidth - 200)), 1);
    EXPECT_EQ(tab.HitTest(CPoint(12, kWidth - 2)), -6);  // left of the first tab's slanted edge
    EXPECT_EQ(tab.EditLabel(0), -3);
}

// Runs EditLabel while the host, from inside the rename's own loop, types and presses keys.
class Rename : public TabCtrl {
protected:
    void SetUp() override {
        TabCtrl::SetUp();
        Make(TABS_AUTOSCROLLBUTTONS | TABS_EDITLABELS);
        Fill({L"Upload", L"Uploaded"});
        tab.SetCurSel(0);
        host.notes.clear();
    }
    HWND Edit() const { return ::GetDlgItem(tab.m_hWnd, CCustomTabCtrl::kEditId); }
    void Script(const wchar_t* text, std::vector<WPARAM> keys) {
        host.script = [this, text, keys] {
            HWND edit = Edit();
            ASSERT_TRUE(edit);
            ::SetWindowTextW(edit, text);
            for (WPARAM k : keys) ::PostMessageW(edit, WM_KEYDOWN, k, 1);
        };
        host.PostMessage(kScript);
    }
};

TEST_F(Rename, ReturnCommitsAfterTheParentAgrees) {
    Script(L"Renamed", {VK_RETURN});
    EXPECT_EQ(tab.EditLabel(0), 0);
    EXPECT_EQ(tab.GetItem(0)->m_strText, L"Renamed");
    EXPECT_EQ(Edit(), nullptr);
    ASSERT_EQ(Codes(), (std::vector<int>{TABN_LABELUPDATE}));
    EXPECT_EQ(host.notes[0].nItem, 0);
    EXPECT_STREQ(host.notes[0].szText, L"Renamed");
    EXPECT_EQ(CPoint(host.notes[0].pt), CPoint(0, 0));
}

TEST_F(Rename, EscapeRestoresAndSendsNothing) {
    Script(L"Other", {VK_ESCAPE});
    EXPECT_EQ(tab.EditLabel(0), 0);
    EXPECT_EQ(tab.GetItem(0)->m_strText, L"Upload");
    EXPECT_EQ(Edit(), nullptr);
    EXPECT_TRUE(host.notes.empty());
}

TEST_F(Rename, RefusalKeepsTheEditOpenAndLongTextIsCut) {
    host.answer = [](const TabNotifyRecord& r) -> LRESULT { return r.hdr.code == TABN_LABELUPDATE ? 1 : 0; };
    // Thirty characters: the edit takes them, the record holds 29.
    Script(L"abcdefghijklmnopqrstuvwxyz0123", {VK_RETURN, VK_ESCAPE});
    EXPECT_EQ(tab.EditLabel(0), 0);
    ASSERT_EQ(Codes(), (std::vector<int>{TABN_LABELUPDATE}));
    EXPECT_STREQ(host.notes[0].szText, L"abcdefghijklmnopqrstuvwxyz012");
    EXPECT_EQ(tab.GetItem(0)->m_strText, L"Upload");
}

TEST_F(Rename, ChecksComeFirst) {
    EXPECT_EQ(tab.EditLabel(1), -5);
    EXPECT_EQ(tab.EditLabel(2), -2);
    tab.ModifyStyle(TABS_EDITLABELS, 0);
    EXPECT_EQ(tab.EditLabel(0), -3);
}

TEST_F(Rename, QuitEndsTheLoopAndStaysForTheOuterOne) {
    host.script = [] { ::PostQuitMessage(3); };
    host.PostMessage(kScript);
    EXPECT_EQ(tab.EditLabel(0), 0);
    EXPECT_EQ(Edit(), nullptr);
    EXPECT_EQ(tab.GetItem(0)->m_strText, L"Upload");
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(Rename, ControlClosedUnderTheLoop) {
    host.script = [this] { tab.DestroyWindow(); };
    host.PostMessage(kScript);
    EXPECT_EQ(tab.EditLabel(0), 0);
    EXPECT_FALSE(tab.IsWindow());
}

TEST(TabGlyphs, ReproduceTheirBitTable) {
    CCustomTabCtrl tab;
    CClientDC screen(nullptr);
    CDC dc;
    CBitmap bmp;
    ASSERT_TRUE(dc.CreateCompatibleDC(&screen));
    ASSERT_TRUE(bmp.CreateCompatibleBitmap(screen, 48, 7));
    CBitmap* old = dc.SelectObject(&bmp);
    const COLORREF back = RGB(30, 160, 90);
    dc.FillSolidRect(0, 0, 48, 7, back);
    const COLORREF ink = tab.GetGlyphColor(0);
    for (int g = 0; g < 6; ++g) tab.DrawGlyph(&dc, CPoint(g * 8, 0), g, 0);
    int wrong = 0;
    for (int g = 0; g < 6; ++g)
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 8; ++x) {
                const COLORREF want = Ink(g, x, y) ? ink : back;
                if (dc.GetPixel(g * 8 + x, y) != want && ++wrong < 5) ADD_FAILURE() << g << " " << x << "," << y;
            }
    EXPECT_EQ(wrong, 0);
    dc.SelectObject(old);
}

// The strip the main dialog uses: two tabs sharing the width, no buttons.
class Strip : public TabCtrl {
protected:
    void SetUp() override {
        TabCtrl::SetUp();
        Make(TABS_AUTOSCROLLBUTTONS);
        LOGFONTW lf{};
        lf.lfHeight = -12;
        lf.lfQuality = NONANTIALIASED_QUALITY;
        lstrcpyW(lf.lfFaceName, L"Tahoma");
        tab.SetControlFont(&lf, TRUE);
        Fill({L"Upload", L"Uploaded"});
    }
    test_capture::Pixels Shot() {
        tab.RedrawWindow();
        test_capture::Pump(50);
        return test_capture::WindowPixels(tab.m_hWnd);
    }
    static bool Has(const test_capture::Pixels& p, int x0, int x1, COLORREF c) {
        for (int y = 0; y < p.h; ++y)
            for (int x = x0; x < x1; ++x)
                if (p.At(x, y) == c) return true;
        return false;
    }
};

TEST_F(Strip, SelectedAndUnselectedTabs) {
    for (int sel : {0, 1}) {
        tab.SetCurSel(sel);
        const test_capture::Pixels p = Shot();
        ASSERT_EQ(p.w, kWidth);
        test_capture::SaveWindow(host.m_hWnd, sel == 0 ? "tab_strip_first_selected" : "tab_strip_second_selected");
        const int half = kWidth / 2;
        const int selLeft = sel * half, unLeft = (1 - sel) * half;
        // Selected: strip background inside, outline left, top and (doubled) right.
        EXPECT_EQ(p.At(selLeft + 5, 12), kStripBack) << sel;
        EXPECT_EQ(p.At(selLeft + 5, kThick - 1), kStripBack) << sel;
        EXPECT_EQ(p.At(selLeft, 12), kOutline) << sel;
        EXPECT_EQ(p.At(selLeft + 5, 0), kOutline) << sel;
        EXPECT_EQ(p.At(selLeft + half - 1, 12), kOutline) << sel;
        EXPECT_EQ(p.At(selLeft + half - 2, 12), kOutline) << sel;
        // Unselected: filled, with the bottom line too.
        EXPECT_EQ(p.At(unLeft + 5, 12), kFill) << sel;
        EXPECT_EQ(p.At(unLeft + 5, kThick - 1), kOutline) << sel;
        EXPECT_EQ(p.At(unLeft + 5, 0), kOutline) << sel;
        EXPECT_EQ(p.At(unLeft, 12), kOutline) << sel;
        // Captions in their colours, each only on its own tab.
        EXPECT_TRUE(Has(p, selLeft, selLeft + half, kSelText)) << sel;
        EXPECT_FALSE(Has(p, selLeft, selLeft + half, kUnselText)) << sel;
        EXPECT_TRUE(Has(p, unLeft, unLeft + half, kUnselText)) << sel;
        EXPECT_FALSE(Has(p, unLeft, unLeft + half, kSelText)) << sel;
    }
}

TEST_F(TabCtrl, PlainLookUnderWinesTheme) {
    Make(0);  // buttons always shown
    Fill({L"One", L"Two"});
    tab.SendMessage(WM_THEMECHANGED);
    EXPECT_FALSE(tab.HasThemedButtons());
    tab.RedrawWindow();
    test_capture::Pump(50);
    const test_capture::Pixels p = test_capture::WindowPixels(tab.m_hWnd);
    const COLORREF text = ::GetSysColor(COLOR_BTNTEXT);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(tab.GetGlyphColor(i), text);
    // Button area outline, framed push buttons with their glyphs.
    const int b = kThick - 3;
    EXPECT_EQ(p.At(0, 12), text);
    EXPECT_EQ(p.At(2 * b + 2, 12), text);
    struct Button {
        CRect rect;
        int glyph;
        int shift;
    } buttons[] = {{CRect(1, 2, b + 1, kThick - 1), 1, 0}, {CRect(b + 2, 2, 2 * b + 2, kThick - 1), 2, -1}};
    for (const Button& btn : buttons) {
        const int w = btn.rect.Width(), h = btn.rect.Height();
        const int gx = btn.rect.left + (w - 8) / 2 + (w % 2) + btn.shift, gy = btn.rect.top + (h - 7) / 2;
        int inkSeen = 0, faceSeen = 0;
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 8; ++x) {
                const COLORREF c = p.At(gx + x, gy + y);
                if (Ink(btn.glyph, x, y)) {
                    EXPECT_EQ(c, text) << btn.glyph << " " << x << "," << y;
                    ++inkSeen;
                } else if (c == ::GetSysColor(COLOR_BTNFACE)) {
                    ++faceSeen;
                }
            }
        EXPECT_GT(inkSeen, 5);
        EXPECT_GT(faceSeen, 20);
    }
    test_capture::SaveWindow(host.m_hWnd, "tab_strip_plain_buttons");
}

}  // namespace
