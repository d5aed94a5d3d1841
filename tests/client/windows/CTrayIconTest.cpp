#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/windows/CTrayIcon.h"
#include "tests/support/Capture.h"

namespace {

struct ShellCall {
    DWORD message;
    NOTIFYICONDATAW data;
};

// Replaces the shell for one test and keeps every call it would have made.
class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = CTrayIcon::Shell();
        CTrayIcon::Shell() = [this](DWORD message, NOTIFYICONDATAW* data) {
            m_calls.push_back({message, *data});
            return m_bShellResult;
        };
    }
    void TearDown() override { CTrayIcon::Shell() = m_saved; }

    std::vector<ShellCall> m_calls;
    BOOL m_bShellResult = TRUE;

private:
    CTrayIcon::ShellNotify m_saved;
};

HICON AppIcon() { return LoadIconW(nullptr, IDI_APPLICATION); }
HICON NewIcon() { return CopyIcon(LoadIconW(nullptr, IDI_INFORMATION)); }
bool IconAlive(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return false;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return true;
}

void ExpectRecord(const ShellCall& call, DWORD message, UINT id, UINT flags) {
    EXPECT_EQ(call.message, message);
    EXPECT_EQ(call.data.cbSize, CTrayIcon::kRecordSize);
    EXPECT_EQ(call.data.hWnd, CTrayIcon::MessageWindow());
    EXPECT_NE(call.data.hWnd, nullptr);
    EXPECT_EQ(call.data.uID, id);
    EXPECT_EQ(call.data.uFlags, flags);
}

struct Notified {
    static inline CTrayIcon* s_icon = nullptr;
    static inline LPARAM s_message = 0;
    static inline int s_count = 0;
    static void Record(CTrayIcon* icon, LPARAM message) {
        s_icon = icon;
        s_message = message;
        ++s_count;
    }
};

TEST(TrayIconRecord, IsTheFirstShellVersionsSize) {
#if defined(__i386__)
    EXPECT_EQ(CTrayIcon::kRecordSize, 152u);
#endif
    EXPECT_EQ(CTrayIcon::kRecordSize, offsetof(NOTIFYICONDATAW, szTip) + 64 * sizeof(wchar_t));
}

TEST_F(TrayIconTest, ClientIconIsTheFirstAndStartsHidden) {
    EXPECT_EQ(g_TrayIcon.GetId(), 1u);
    EXPECT_EQ(g_TrayIcon.GetName(), "TrayIcon1");
    EXPECT_FALSE(g_TrayIcon.IsVisible());
    CTrayIcon a("a", false, nullptr, false);
    CTrayIcon b("b", false, nullptr, false);
    EXPECT_EQ(b.GetId(), a.GetId() + 1);
    EXPECT_GT(a.GetId(), 1u);
    EXPECT_TRUE(m_calls.empty());
}

TEST_F(TrayIconTest, ShowAddsOnceAndHideDeletes) {
    CTrayIcon icon("Ferrant uploads", false, nullptr, false);
    ASSERT_TRUE(icon.ShowIcon(true));
    ASSERT_EQ(m_calls.size(), 1u);
    ExpectRecord(m_calls[0], NIM_ADD, icon.GetId(), NIF_MESSAGE | NIF_ICON | NIF_TIP);
    EXPECT_EQ(m_calls[0].data.uCallbackMessage, 1124u);
    EXPECT_EQ(m_calls[0].data.hIcon, AppIcon());
    EXPECT_STREQ(m_calls[0].data.szTip, L"Ferrant uploads");

    EXPECT_TRUE(icon.ShowIcon(true));
    EXPECT_EQ(m_calls.size(), 1u) << "a second show sends nothing";

    EXPECT_TRUE(icon.ShowIcon(false));
    ASSERT_EQ(m_calls.size(), 2u);
    ExpectRecord(m_calls[1], NIM_DELETE, icon.GetId(), 0);
    EXPECT_TRUE(icon.ShowIcon(false));
    EXPECT_EQ(m_calls.size(), 2u);
}

TEST_F(TrayIconTest, ShellRefusalIsReturnedAndTheRequestKept) {
    CTrayIcon icon("x", false, nullptr, false);
    m_bShellResult = FALSE;
    EXPECT_FALSE(icon.ShowIcon(true));
    EXPECT_TRUE(icon.IsVisible());
    EXPECT_FALSE(icon.SetTooltipText("y"));
    m_bShellResult = TRUE;
}

TEST_F(TrayIconTest, TooltipIsCutToSixtyThreeCharacters) {
    const std::string longName(100, 'n');
    CTrayIcon icon(longName.c_str(), true, nullptr, false);
    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_EQ(std::wstring(m_calls[0].data.szTip), std::wstring(63, L'n'));

    EXPECT_TRUE(icon.SetTooltipText("short tip"));
    ASSERT_EQ(m_calls.size(), 2u);
    ExpectRecord(m_calls[1], NIM_MODIFY, icon.GetId(), NIF_TIP);
    EXPECT_STREQ(m_calls[1].data.szTip, L"short tip");

    icon.ShowIcon(false);
    m_calls.clear();
    EXPECT_FALSE(icon.SetTooltipText("hidden tip"));
    EXPECT_TRUE(m_calls.empty()) << "nothing is sent while hidden";
    EXPECT_EQ(icon.GetName(), "hidden tip");
}

TEST_F(TrayIconTest, SetIconReplacesDestroysAndModifiesOnlyWhenVisible) {
    HICON first = NewIcon();
    HICON second = NewIcon();
    CTrayIcon icon("i", false, first, true);

    icon.SetIcon(first, TRUE);
    EXPECT_TRUE(IconAlive(first)) << "the same handle is neither destroyed nor sent";
    EXPECT_TRUE(m_calls.empty());

    icon.SetIcon(second, TRUE);
    EXPECT_FALSE(IconAlive(first));
    EXPECT_TRUE(m_calls.empty()) << "a hidden icon sends nothing";

    icon.ShowIcon(true);
    HICON third = NewIcon();
    icon.SetIcon(third, FALSE);
    EXPECT_TRUE(IconAlive(second)) << "kept when destroy-old is not set";
    ASSERT_EQ(m_calls.size(), 2u);
    ExpectRecord(m_calls[1], NIM_MODIFY, icon.GetId(), NIF_ICON);
    EXPECT_EQ(m_calls[1].data.hIcon, third);

    icon.SetIcon(nullptr, FALSE);
    ASSERT_EQ(m_calls.size(), 3u);
    EXPECT_EQ(m_calls[2].data.hIcon, AppIcon()) << "no icon shows the application icon";
    DestroyIcon(second);
    DestroyIcon(third);
}

TEST_F(TrayIconTest, DestructionRemovesTheIconAndDestroysAnOwnedOne) {
    HICON owned = NewIcon();
    HICON borrowed = NewIcon();
    UINT ownedId = 0;
    {
        CTrayIcon a("a", true, owned, true);
        CTrayIcon b("b", false, borrowed, false);
        ownedId = a.GetId();
        m_calls.clear();
    }
    ASSERT_EQ(m_calls.size(), 1u) << "only the visible icon is deleted from the shell";
    ExpectRecord(m_calls[0], NIM_DELETE, ownedId, 0);
    EXPECT_FALSE(IconAlive(owned));
    EXPECT_TRUE(IconAlive(borrowed));
    DestroyIcon(borrowed);
}

TEST_F(TrayIconTest, TaskbarCreatedAddsBackOnlyVisibleIcons) {
    HICON own = NewIcon();
    CTrayIcon shown("shown", true, own, true);
    CTrayIcon hidden("hidden", false, nullptr, false);
    m_calls.clear();
    ASSERT_NE(CTrayIcon::TaskbarCreatedMessage(), 0u);
    SendMessageW(CTrayIcon::MessageWindow(), CTrayIcon::TaskbarCreatedMessage(), 0, 0);
    ASSERT_EQ(m_calls.size(), 1u);
    ExpectRecord(m_calls[0], NIM_ADD, shown.GetId(), NIF_MESSAGE | NIF_ICON | NIF_TIP);
    EXPECT_EQ(m_calls[0].data.hIcon, own);
    EXPECT_STREQ(m_calls[0].data.szTip, L"shown");
    EXPECT_EQ(m_calls[0].data.uCallbackMessage, CTrayIcon::kCallbackMessage);
}

TEST_F(TrayIconTest, CallbackMessageReachesItsIconOnly) {
    CTrayIcon first("first", false, nullptr, false);
    CTrayIcon second("second", false, nullptr, false);
    second.SetNotifyCallback(&Notified::Record);
    HWND wnd = CTrayIcon::MessageWindow();
    ASSERT_NE(wnd, nullptr);
    Notified::s_count = 0;

    struct Case {
        const char* name;
        UINT id;
        LPARAM message;
        int calls;
    };
    const Case cases[] = {
        {"known id with callback", second.GetId(), WM_RBUTTONUP, 1},
        {"known id without callback", first.GetId(), WM_LBUTTONUP, 0},
        {"unknown id", second.GetId() + 1000, WM_LBUTTONUP, 0},
    };
    for (const Case& c : cases) {
        Notified::s_count = 0;
        Notified::s_icon = nullptr;
        EXPECT_EQ(SendMessageW(wnd, CTrayIcon::kCallbackMessage, c.id, c.message), 0) << c.name;
        EXPECT_EQ(Notified::s_count, c.calls) << c.name;
        if (c.calls) {
            EXPECT_EQ(Notified::s_icon, &second) << c.name;
            EXPECT_EQ(Notified::s_message, c.message) << c.name;
        }
    }
    EXPECT_TRUE(m_calls.empty());
}

TEST(TrayIconWindow, IsOneHiddenPopupOfItsOwnClass) {
    HWND wnd = CTrayIcon::MessageWindow();
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(CTrayIcon::MessageWindow(), wnd);
    wchar_t name[128] = {};
    GetClassNameW(wnd, name, 128);
    EXPECT_STREQ(name, L"TRAY_ICON_MESSAGE_PROCESSOR_WND_CLASS");
    GetWindowTextW(wnd, name, 128);
    EXPECT_STREQ(name, L"TRAY_ICON_MESSAGE_PROCESSOR_WND");
    EXPECT_FALSE(IsWindowVisible(wnd));
    EXPECT_EQ(GetWindowLongW(wnd, GWL_STYLE) & WS_POPUP, static_cast<LONG>(WS_POPUP));
}

// Against Wine's own tray, which exists only in a virtual desktop: this program runs itself again
// on a desktop that Wine's explorer serves, and the child checks the icon with the real shell.
const wchar_t kChildVariable[] = L"FERRANT_TRAY_SMOKE_CHILD";

// The shell knows an icon when it accepts a change to it.
bool ShellKnows(const CTrayIcon& icon) {
    NOTIFYICONDATAW data{};
    data.cbSize = CTrayIcon::kRecordSize;
    data.hWnd = CTrayIcon::MessageWindow();
    data.uID = icon.GetId();
    data.uFlags = NIF_TIP;
    lstrcpynW(data.szTip, L"probe", 64);
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

TEST(TrayIconRealShellChild, AddsAndRemovesTheIcon) {
    if (!GetEnvironmentVariableW(kChildVariable, nullptr, 0)) GTEST_SKIP() << "runs in the child only";
    ASSERT_TRUE(test_capture::PumpUntil([] { return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }, 20000))
        << "no tray on this desktop";
    CTrayIcon icon("Ferrant smoke", false, nullptr, false);
    EXPECT_FALSE(ShellKnows(icon));
    EXPECT_TRUE(icon.ShowIcon(true));
    EXPECT_TRUE(ShellKnows(icon));
    EXPECT_TRUE(icon.ShowIcon(true));
    HICON own = NewIcon();
    icon.SetIcon(own, TRUE);
    EXPECT_TRUE(icon.SetTooltipText("Ferrant smoke 2"));
    EXPECT_TRUE(icon.ShowIcon(false));
    EXPECT_FALSE(ShellKnows(icon));
    icon.SetIcon(nullptr, TRUE);
}

TEST(TrayIconRealShell, IconInWinesTrayOfAVirtualDesktop) {
    if (GetEnvironmentVariableW(kChildVariable, nullptr, 0)) GTEST_SKIP() << "the child does not start another";
    wchar_t desktop[64];
    wsprintfW(desktop, L"FerrantTray%lu", GetCurrentProcessId());

    wchar_t explorerLine[160];
    wsprintfW(explorerLine, L"explorer.exe /desktop=%s,640x480", desktop);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION explorer{};
    ASSERT_TRUE(CreateProcessW(nullptr, explorerLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &explorer));

    // The desktop is there once explorer made it.
    HDESK desk = nullptr;
    EXPECT_TRUE(test_capture::PumpUntil(
        [&] { return (desk = OpenDesktopW(desktop, 0, FALSE, GENERIC_READ)) != nullptr; }, 20000));
    if (desk) CloseDesktop(desk);

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t childLine[MAX_PATH + 80];
    wsprintfW(childLine, L"\"%s\" --gtest_filter=TrayIconRealShellChild.*", self);
    SetEnvironmentVariableW(kChildVariable, L"1");
    STARTUPINFOW childSi{};
    childSi.cb = sizeof childSi;
    childSi.lpDesktop = desktop;
    PROCESS_INFORMATION child{};
    BOOL started = CreateProcessW(nullptr, childLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &childSi, &child);
    SetEnvironmentVariableW(kChildVariable, nullptr);
    DWORD childExit = 1;
    EXPECT_TRUE(started);
    if (started) {
        EXPECT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
        GetExitCodeProcess(child.hProcess, &childExit);
        if (childExit == STILL_ACTIVE) TerminateProcess(child.hProcess, 1);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    EXPECT_EQ(childExit, 0u) << "the child's checks against the real tray failed";

    TerminateProcess(explorer.hProcess, 0);
    WaitForSingleObject(explorer.hProcess, 10000);
    CloseHandle(explorer.hThread);
    CloseHandle(explorer.hProcess);
}

}  // namespace
