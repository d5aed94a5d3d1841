#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "client/windows/CFloatWnd.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"

namespace {

constexpr COLORREF kText = 0x82523A;

// The test runs in a fresh working folder, where the window's ".\Setting.ini" lands.
class InTempDir : public TempWorkingFolder {
public:
    int Read(const wchar_t* key) const {
        return static_cast<int>(::GetPrivateProfileIntW(L"FloatWndInfo", key, -9999, Dir().File(L"Setting.ini")));
    }
    bool IniExists() const { return ::GetFileAttributesW(Dir().File(L"Setting.ini")) != INVALID_FILE_ATTRIBUTES; }
};

// Puts the seams back whatever a test did with them.
struct SeamGuard {
    CFloatWnd::KeyStateReader keys = CFloatWnd::KeyState();
    MenuTracker tracker = CFloatWnd::Tracker();
    ~SeamGuard() {
        CFloatWnd::KeyState() = keys;
        CFloatWnd::Tracker() = tracker;
    }
};

using test_capture::Pixels;
using test_capture::ReadDC;
using test_capture::WindowPixels;

Pixels BackgroundPixels() {
    HBITMAP bmp = ::LoadBitmapW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(CFloatWnd::IDB_BACKGROUND));
    BITMAP info{};
    ::GetObjectW(bmp, sizeof(info), &info);
    HDC screen = ::GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, bmp);
    Pixels p = ReadDC(mem, info.bmWidth, info.bmHeight);
    SelectObject(mem, old);
    DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
    DeleteObject(bmp);
    return p;
}

// A stand-in for the main dialog, the floating window's parent; hidden unless a test shows it
// (every window shown costs a wait when it goes under Wine without a window manager).
struct Main {
    CWnd wnd;
    Main() { wnd.CreateEx(0, L"STATIC", L"main", WS_POPUP, CRect(600, 500, 800, 600), nullptr, 0); }
    ~Main() { wnd.DestroyWindow(); }
};

// As the main dialog shows it.
void Show(CFloatWnd& f) {
    f.LoadSetLayeredWindowAttributes(255);
    f.ShowWindow(SW_SHOWNOACTIVATE);
    f.UpdateWindow();
}

TEST(FloatWnd, TakesTheBackgroundSizeTopmostAndLayered) {
    Main main;
    CFloatWnd f;
    ASSERT_TRUE(f.Create(CFloatWnd::IDD, &main.wnd));
    Pixels bg = BackgroundPixels();
    ASSERT_GT(bg.w, 0);
    CRect r;
    f.GetWindowRect(&r);
    EXPECT_EQ(r.Width(), bg.w);
    EXPECT_EQ(r.Height(), bg.h);
    EXPECT_TRUE(f.GetExStyle() & WS_EX_TOPMOST);
    EXPECT_TRUE(f.GetExStyle() & WS_EX_LAYERED);
    EXPECT_FALSE(f.IsWindowVisible()) << "shown only by its owner";
    EXPECT_EQ(f.GetParent(), &main.wnd);
    for (BYTE alpha : {BYTE(128), BYTE(255)}) {
        f.LoadSetLayeredWindowAttributes(alpha);
        BYTE got = 0;
        DWORD flags = 0;
        ASSERT_TRUE(::GetLayeredWindowAttributes(f.m_hWnd, nullptr, &got, &flags));
        EXPECT_EQ(got, alpha);
        EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));
    }
    f.DestroyWindow();
}

TEST(FloatWnd, PaintsTheStatusLineOverTheBackground) {
    InTempDir dir;
    Main main;
    CFloatWnd f;
    f.SetTexts(L"before the window", L"");  // no window yet: stored only
    EXPECT_EQ(f.GetFirstText(), L"before the window");
    ASSERT_TRUE(f.Create(CFloatWnd::IDD, &main.wnd));
    Show(f);
    Pixels bg = BackgroundPixels();

    auto onlyBackground = [&](const char* when) {
        Pixels p = WindowPixels(f.m_hWnd);
        ASSERT_EQ(p.w, bg.w);
        int differing = 0;
        for (size_t i = 0; i < p.px.size(); ++i) differing += p.px[i] != bg.px[i];
        EXPECT_EQ(differing, 0) << when;
    };
    onlyBackground("empty at first");

    const CString status = L"■■ 剩余 00:01:40";
    f.SetTexts(L"文件名：a.txt速度：10KB/s剩余：00:01:40\n\r", status);
    EXPECT_EQ(f.GetFirstText(), L"文件名：a.txt速度：10KB/s剩余：00:01:40\n\r");
    EXPECT_EQ(f.GetStatusLine(), status);
    f.UpdateWindow();
    Pixels p = WindowPixels(f.m_hWnd);
    test_capture::SaveWindow(f.m_hWnd, "float_wnd");
    // The line starts at (20, 3): every change is right of and below that corner, and its
    // solid squares show the text colour itself.
    int inText = 0, changedOutside = 0, left = p.w, top = p.h;
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            if (p.At(x, y) == bg.At(x, y)) continue;
            left = std::min(left, x);
            top = std::min(top, y);
            if (x < 20 || y < 3)
                ++changedOutside;
            else if (p.At(x, y) == kText)
                ++inText;
        }
    EXPECT_EQ(changedOutside, 0);
    EXPECT_LE(left, 24);
    EXPECT_LE(top, 8);
    EXPECT_GT(inText, 20);

    f.SetTexts(L"", L"");
    f.UpdateWindow();
    onlyBackground("emptied again");
    f.DestroyWindow();
}

TEST(FloatWnd, WritesItsPositionWhenHiddenByItsMenuOrDestroyed) {
    struct Case {
        const char* name;
        POINT at;
        std::function<void(std::unique_ptr<CFloatWnd>&)> act;
        bool shown;
    };
    const Case cases[] = {
        {"menu command",
         {123, 45},
         [](std::unique_ptr<CFloatWnd>& f) { f->SendMessage(WM_COMMAND, CFloatWnd::IDM_HIDE); },
         true},
        {"DestroyWindow", {-20, 300}, [](std::unique_ptr<CFloatWnd>& f) { f->DestroyWindow(); }, false},
        {"object deleted with its window", {400, 7}, [](std::unique_ptr<CFloatWnd>& f) { f.reset(); }, false},
    };
    for (const Case& c : cases) {
        InTempDir dir;
        Main main;
        auto f = std::make_unique<CFloatWnd>();
        ASSERT_TRUE(f->Create(CFloatWnd::IDD, &main.wnd));
        if (c.shown) Show(*f);
        f->SetWindowPos(nullptr, c.at.x, c.at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        EXPECT_FALSE(dir.IniExists()) << c.name;
        HWND h = f->m_hWnd;
        c.act(f);
        EXPECT_EQ(dir.Read(L"Top"), c.at.y) << c.name;
        EXPECT_EQ(dir.Read(L"Left"), c.at.x) << c.name;
        EXPECT_FALSE(::IsWindowVisible(h)) << c.name;
        if (f) f->DestroyWindow();
    }
}

TEST(FloatWnd, RightButtonReleaseOpensTheHideMenuThere) {
    SeamGuard guard;
    struct Call {
        int count = 0;
        UINT flags = 99;
        POINT at{};
        HWND owner = nullptr;
        std::vector<UINT> ids;
        CString text;
    } call;
    CFloatWnd::Tracker() = [&](HMENU menu, UINT flags, int x, int y, HWND owner) {
        ++call.count;
        call.flags = flags;
        call.at = {x, y};
        call.owner = owner;
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i) call.ids.push_back(::GetMenuItemID(menu, i));
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
        call.text = text;
        return FALSE;
    };
    Main main;
    CFloatWnd f;
    ASSERT_TRUE(f.Create(CFloatWnd::IDD, &main.wnd));
    f.SetWindowPos(nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    f.SendMessage(WM_RBUTTONUP, 0, MAKELPARAM(30, 8));
    EXPECT_EQ(call.count, 1);
    EXPECT_EQ(call.flags, 0u);
    EXPECT_EQ(call.at.x, 230);
    EXPECT_EQ(call.at.y, 158);
    EXPECT_EQ(call.owner, f.m_hWnd);
    EXPECT_EQ(call.ids, std::vector<UINT>{CFloatWnd::IDM_HIDE});
    EXPECT_EQ(call.text, L"隐藏悬浮框");
    f.DestroyWindow();
}

TEST(FloatWnd, DragsFromAnywhereWhileAButtonIsDown) {
    SeamGuard guard;
    Main main;
    CFloatWnd f;
    ASSERT_TRUE(f.Create(CFloatWnd::IDD, &main.wnd));
    CRect r;
    f.GetWindowRect(&r);
    const CPoint inside(r.left + 40, r.top + 10), outside(r.right + 30, r.bottom + 30);
    struct Case {
        const char* name;
        int downKey;  // 0: none
        CPoint at;
        LRESULT expected;
    };
    const Case cases[] = {
        {"no button", 0, inside, HTCLIENT},
        {"left button", VK_LBUTTON, inside, HTCAPTION},
        {"right button", VK_RBUTTON, inside, HTCAPTION},
        {"middle button", VK_MBUTTON, inside, HTCLIENT},
        {"left button, outside", VK_LBUTTON, outside, HTNOWHERE},
    };
    for (const Case& c : cases) {
        CFloatWnd::KeyState() = [&](int key) -> SHORT { return key == c.downKey ? SHORT(0x8000) : SHORT(0); };
        EXPECT_EQ(f.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(c.at.x, c.at.y)), c.expected) << c.name;
    }
    f.DestroyWindow();
}

TEST(FloatWnd, DoubleClickTogglesTheMainWindow) {
    Main main;
    main.wnd.ShowWindow(SW_SHOWNOACTIVATE);
    CFloatWnd f;
    ASSERT_TRUE(f.Create(CFloatWnd::IDD, &main.wnd));
    CRect r;
    f.GetWindowRect(&r);
    LPARAM at = MAKELPARAM(r.left + 40, r.top + 10);
    f.SendMessage(WM_NCLBUTTONDBLCLK, HTCAPTION, at);
    EXPECT_FALSE(main.wnd.IsWindowVisible());
    f.SendMessage(WM_NCLBUTTONDBLCLK, HTCAPTION, at);
    EXPECT_TRUE(main.wnd.IsWindowVisible());
    f.DestroyWindow();

    // Without a main window there is nothing to toggle.
    CFloatWnd alone;
    ASSERT_TRUE(alone.Create(CFloatWnd::IDD, nullptr));
    alone.SendMessage(WM_NCLBUTTONDBLCLK, HTCAPTION, at);
    EXPECT_TRUE(alone.IsWindow());
    alone.DestroyWindow();
}

TEST(FloatWnd, EnterAndEscapeDoNothing) {
    Main main;
    CFloatWnd f;
    ASSERT_TRUE(f.Create(CFloatWnd::IDD, &main.wnd));
    Show(f);
    for (WPARAM key : {WPARAM(VK_RETURN), WPARAM(VK_ESCAPE)}) {
        MSG msg{f.m_hWnd, WM_KEYDOWN, key, 0x00010001, ::GetTickCount(), {}};
        // The dialog manager takes the key (and turns it into IDOK or IDCANCEL).
        EXPECT_TRUE(f.PreTranslateMessage(&msg)) << key;
        EXPECT_TRUE(f.IsWindow()) << key;
        EXPECT_TRUE(f.IsWindowVisible()) << key;
    }
    f.DestroyWindow();
}

}  // namespace
