#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/app/CAppSettings.h"
#include "client/session/CLoginSession.h"
#include "client/storage/CSqlite.h"
#include "client/windows/CDialogAbout.h"
#include "client/windows/CDialogLogin.h"
#include "client/windows/CFerrantDlg.h"
#include "client/windows/CSettingWnd.h"
#include "client/windows/CTips.h"
#include "client/windows/CTrayIcon.h"
#include "client/windows/LoginStore.h"
#include "client/windows/UpdateCheck.h"
#include "provider/Provider.h"
#include "provider/WebSite.h"
#include "tests/support/Capture.h"
#include "tests/support/ModalRun.h"
#include "tests/support/TempDir.h"
#include "tests/support/TipsWatch.h"
#include "tests/support/UploadTestSupport.h"

namespace {

testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new upload_test::WindowNetworkEnvironment);

using test_capture::Pump;
using test_capture::PumpUntil;

// The shown popup menu of this thread, if any (a plain function: enumeration callbacks are
// stdcall on 32-bit x86, which a lambda cannot be).
BOOL CALLBACK FindShownMenu(HWND h, LPARAM found) {
    wchar_t cls[16] = {};
    GetClassNameW(h, cls, 16);
    if (std::wstring(cls) != L"#32768" || !IsWindowVisible(h)) return TRUE;
    *reinterpret_cast<HWND*>(found) = h;
    return FALSE;
}

const uint64_t kUserId = 501;
const wchar_t kMail[] = L"main@example.com";
const wchar_t kOtherMail[] = L"other@example.com";
const wchar_t kNewest[] = L"您的版本已是最新，没有新版本可用。";
const UINT kSafetyMs = 60000;

upload_test::Addresses g_addresses("127.0.52.");

std::wstring W(const CString& s) { return std::wstring(static_cast<LPCWSTR>(s)); }

bool TakeQuit() {
    MSG msg;
    bool any = false;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) any = true;
    return any;
}

bool Shown(HWND h) { return h && (GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE); }

// Acts once on the first visible dialog of this thread that holds control `id`, from a timer: the
// dialogs under test run modally inside the code that opens them.
class DialogWatch {
public:
    DialogWatch(int id, std::function<void(HWND)> act) : m_nId(id), m_act(std::move(act)) {
        s_current = this;
        m_nTimer = SetTimer(nullptr, 0, 100, &Tick);
    }
    ~DialogWatch() {
        KillTimer(nullptr, m_nTimer);
        s_current = nullptr;
    }
    DialogWatch(const DialogWatch&) = delete;
    DialogWatch& operator=(const DialogWatch&) = delete;
    bool Seen() const { return m_bSeen; }

private:
    static BOOL CALLBACK Visit(HWND h, LPARAM) {
        DialogWatch* w = s_current;
        wchar_t cls[32] = {};
        GetClassNameW(h, cls, 32);
        if (!w || w->m_bSeen || std::wstring(cls) != L"#32770" || !IsWindowVisible(h) || !GetDlgItem(h, w->m_nId))
            return TRUE;
        w->m_bSeen = true;
        w->m_act(h);
        return FALSE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (s_current && !s_current->m_bSeen) EnumThreadWindows(GetCurrentThreadId(), &Visit, 0);
    }
    static inline DialogWatch* s_current = nullptr;
    int m_nId;
    std::function<void(HWND)> m_act;
    UINT_PTR m_nTimer = 0;
    bool m_bSeen = false;
};

// Runs `step` from a timer on this thread until it returns true.
struct Poll {
    static inline std::function<bool()> s_step;
    static inline UINT_PTR s_timer = 0;
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (!s_step || s_step()) Stop();
    }
    static void Start(std::function<bool()> step) {
        Stop();
        s_step = std::move(step);
        s_timer = SetTimer(nullptr, 0, 100, &Tick);
    }
    static void Stop() {
        if (s_timer) KillTimer(nullptr, s_timer);
        s_timer = 0;
        s_step = nullptr;
    }
};

CString Text(HWND h) {
    wchar_t buffer[256] = {};
    GetWindowTextW(h, buffer, 256);
    return buffer;
}

// The user's hands on the login dialog.
enum class Answer { Login, Close, Exit };
void Reply(HWND login, Answer answer, const wchar_t* mail, const wchar_t* password) {
    switch (answer) {
    case Answer::Login:
        SetWindowTextW(GetDlgItem(login, CDialogLogin::IDC_MAIL), mail);
        SetWindowTextW(GetDlgItem(login, CDialogLogin::IDC_PASSWORD), password);
        SendMessageW(login, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(login, IDOK)));
        break;
    case Answer::Close: PostMessageW(login, WM_CLOSE, 0, 0); break;
    case Answer::Exit:
        SendMessageW(login, WM_COMMAND, MAKEWPARAM(CDialogLogin::IDC_EXIT, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(login, CDialogLogin::IDC_EXIT)));
        break;
    }
}

// The main dialog with a record of what reached it: whether it was ever visible, the commands.
class WatchedDialog : public CFerrantDlg {
public:
    bool m_bEverVisible = false;
    std::vector<UINT> m_commands;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_COMMAND) m_commands.push_back(LOWORD(wParam));
        const LRESULT r = CFerrantDlg::WindowProc(message, wParam, lParam);
        if (m_hWnd && ::IsWindowVisible(m_hWnd)) m_bEverVisible = true;
        return r;
    }
};

// The client area's pixels as the screen shows them.
test_capture::Pixels ClientPixels(HWND h) {
    CRect r;
    GetClientRect(h, &r);
    HDC dc = GetDC(h);
    test_capture::Pixels p = test_capture::ReadDC(dc, r.Width(), r.Height());
    ReleaseDC(h, dc);
    return p;
}

CRect ChildRect(HWND parent, HWND child) {
    CRect r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<LPPOINT>(&r), 2);
    return r;
}

CSize HeaderSize() {
    CBitmap header;
    return header.LoadBitmap(CFerrantDlg::IDB_HEADER) ? header.GetSize() : CSize();
}

// How many pixels of `r` (client coordinates, within the header picture) differ from the
// picture: what was drawn over it.
int InkIn(HWND h, const CRect& r) {
    CBitmap header;
    if (!header.LoadBitmap(CFerrantDlg::IDB_HEADER)) return -1;
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, header.m_hObject);
    const test_capture::Pixels p = ClientPixels(h);
    int ink = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) ink += p.At(x, y) != GetPixel(mem, x, y);
    SelectObject(mem, old);
    DeleteDC(mem);
    return ink;
}

struct ShellCall {
    DWORD message;
    NOTIFYICONDATAW data;
};

// One test's world: a working folder for ".\Setting.ini", a prepared database, the stand-in
// provider with two accounts, the update site answering with no newer version, the tray through a
// recording seam, and a logged-in user.
class MainDialogTest : public testing::Test {
protected:
    void SetUp() override {
        g_strDbPath = m_data.File(L"Quillex.db");
        PrepareLocalDatabase(g_Database, g_strDbPath, L"upload.example.test", L"127.0.0.1", L"2020-01-01 00:00:00");
        const std::string address = g_addresses.Next();
        m_provider.reset(new provider::Provider);
        for (const auto& a :
             {std::make_pair(kUserId, "main@example.com"), std::make_pair(kUserId + 1, "other@example.com")}) {
            provider::UserAccount user;
            user.mail = a.second;
            user.password = "secret";
            user.userId = a.first;
            user.totalSpace = 1000000000000ull;
            m_provider->State().AddUser(user);
        }
        protocol::ServerInfo server;
        server.serverId = 7;
        server.host = address;
        server.port = protocol::kDataPort;
        m_provider->State().AddServer(server);
        ASSERT_TRUE(m_provider->Start(address));
        g_Settings.m_strServerAddr = upload_test::Wide(address);
        g_Settings.SetServerPort(protocol::kControlPort);
        g_Settings.m_nSecondPort = protocol::kDataPort;
        g_Settings.m_nMaxSendFileThread = 3;

        ASSERT_TRUE(m_site.Start("127.0.53.1", 0));
        m_site.SetVersionBody("version=1.0.0.7");
        CString host;
        host.Format(L"127.0.53.1:%u", m_site.Port());
        SetUpdateHost(host);

        m_savedShell = CTrayIcon::Shell();
        CTrayIcon::Shell() = [this](DWORD message, NOTIFYICONDATAW* data) {
            m_shell.push_back({message, *data});
            return TRUE;
        };
        m_savedTracker = CFerrantDlg::Tracker();
        m_savedFrameTracker = CSkinFrame::Tracker();

        g_LoginSession = CLoginSession();
        g_LoginSession.m_bLoggedIn = true;
        g_LoginSession.m_nUserId = kUserId;
        g_LoginSession.m_strMail = kMail;
        g_strUserName = kMail;
        TakeQuit();
    }
    void TearDown() override {
        CUpload::Chooser() = nullptr;
        g_TrayIcon.ShowIcon(false);
        CTrayIcon::Shell() = m_savedShell;
        CFerrantDlg::Tracker() = m_savedTracker;
        CSkinFrame::Tracker() = m_savedFrameTracker;
        SetUpdateHost(CString());
        m_site.Stop();
        m_provider->Stop();
        g_Database.Close();
        TakeQuit();
    }

    size_t FileLists() { return m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_FILE_LIST).size(); }

    static void SeedUser(const wchar_t* mail, const wchar_t* floatWnd) {
        CSqlite db;
        ASSERT_EQ(db.Open(g_strDbPath), 0);
        const std::wstring sql =
            L"insert into qxuser (id, username, usermail, password, isrempwd, isautologin, isshowfloatwnd, "
            L"logintime, comment) values(NULL,'','" +
            SqlEscape(mail) + L"','',0,0," + floatWnd + L",'2020-01-01 00:00:00','')";
        ASSERT_EQ(db.ExecDML(sql.c_str()), 0);
        db.Close();
    }

    static void Tray(LPARAM message) {
        SendMessageW(CTrayIcon::MessageWindow(), CTrayIcon::kCallbackMessage, g_TrayIcon.GetId(), message);
    }

    // As the strip tells its parent of a new selection.
    static void Select(CFerrantDlg& d, int item) {
        TabNotifyRecord record{};
        record.hdr.hwndFrom = d.m_tabs.m_hWnd;
        record.hdr.idFrom = CFerrantDlg::IDC_TABS;
        record.hdr.code = TABN_SELCHANGE;
        record.nItem = item;
        d.SendMessage(WM_NOTIFY, CFerrantDlg::IDC_TABS, reinterpret_cast<LPARAM>(&record));
    }
    // A real click on the strip's tab.
    static void Click(CFerrantDlg& d, int item) {
        CRect r;
        d.m_tabs.GetClientRect(&r);
        for (int x = r.left; x < r.right; ++x) {
            const CPoint p(x, r.Height() / 2);
            if (d.m_tabs.HitTest(p) != item) continue;
            d.m_tabs.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
            d.m_tabs.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
            return;
        }
        ADD_FAILURE() << "no point of the strip hits tab " << item;
    }

    TempWorkingFolder m_working;
    TempDir m_data;
    std::unique_ptr<provider::Provider> m_provider;
    provider::WebSite m_site;
    std::vector<ShellCall> m_shell;

private:
    CTrayIcon::ShellNotify m_savedShell;
    MenuTracker m_savedTracker;
    MenuTracker m_savedFrameTracker;
};

TEST_F(MainDialogTest, HeaderLineAndBackgroundArePaintedInTheirColours) {
    CFerrantDlg dlg;
    const INT_PTR result = test_modal::RunModal<CFerrantDlg>(dlg, [&](CFerrantDlg& d) {
        d.GetFloatWnd()->ShowWindow(SW_HIDE);
        Pump(300);
        const test_capture::Pixels p = ClientPixels(d.m_hWnd);
        const CRect strip = ChildRect(d.m_hWnd, d.m_tabs.m_hWnd);
        const CSize size = HeaderSize();
        ASSERT_GT(size.cx, 0);
        // The picture fills the top area and no more; the line under the strip is on both sides of it.
        EXPECT_GE(size.cx, p.w);
        EXPECT_LE(size.cy, strip.top);
        EXPECT_EQ(InkIn(d.m_hWnd, CRect(0, 0, p.w, 3)), 0);
        EXPECT_EQ(strip.left, 5);
        EXPECT_EQ(p.At(2, strip.bottom - 1), CFerrantDlg::kLineColour);
        EXPECT_EQ(p.At(strip.right + 2, strip.bottom - 1), CFerrantDlg::kLineColour);
        EXPECT_EQ(p.At(p.w - 3, strip.bottom - 1), CFerrantDlg::kLineColour);
        EXPECT_EQ(p.At(p.w - 3, (size.cy + strip.bottom - 1) / 2), CFerrantDlg::kBackground);
        // The greeting and the address are drawn on it; the statics that give them are not shown.
        const CRect user = ChildRect(d.m_hWnd, d.m_stcUser.m_hWnd);
        const CRect greeting = ChildRect(d.m_hWnd, d.m_stcGreeting.m_hWnd);
        EXPECT_GT(InkIn(d.m_hWnd, CRect(user.left, user.top, std::min<int>(user.right, size.cx), size.cy)), 0);
        EXPECT_GT(InkIn(d.m_hWnd, greeting), 0);
        EXPECT_FALSE(Shown(d.m_stcUser.m_hWnd));
        EXPECT_FALSE(Shown(d.m_stcGreeting.m_hWnd));
        EXPECT_EQ(W(d.m_stcUser.GetWindowText()), kMail);
        EXPECT_EQ(W(d.GetWindowText()), L"Tebrin上传助手");
        EXPECT_NE(d.GetIcon(), nullptr);
        EXPECT_EQ(reinterpret_cast<HICON>(d.SendMessage(WM_GETICON, ICON_BIG)), d.GetIcon());
        d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(MainDialogTest, TabsLoadTheirListsWhenTheyBecomeVisible) {
    provider::StoredFile stored;
    stored.userId = kUserId;
    stored.serverId = 7;
    stored.name = "report.pdf";
    stored.path = "C:\\up\\report.pdf";
    stored.linkKey = "key1";
    stored.size = 123456;
    stored.forceFinished = true;
    m_provider->State().AddFile(stored);

    struct Step {
        const char* name;
        int item;
        bool click;
        size_t lists;  // file lists asked for by this step
    };
    const Step steps[] = {
        {"tab 1 by a click", 1, true, 1},
        {"tab 1 again: shown already", 1, false, 0},
        {"tab 0 by a click: no second reload", 0, true, 0},
        {"tab 1 once more", 1, false, 1},
    };
    CFerrantDlg dlg;
    const INT_PTR result = test_modal::RunModal<CFerrantDlg>(
        dlg,
        [&](CFerrantDlg& d) {
            // The first showing of the upload page asked for the unfinished uploads.
            EXPECT_EQ(FileLists(), 1u);
            EXPECT_TRUE(Shown(d.m_upload.m_hWnd));
            EXPECT_EQ(d.m_tabUploaded.m_hWnd, nullptr);
            CRect client;
            d.GetClientRect(&client);
            const CRect marker = ChildRect(d.m_hWnd, d.m_btnPageArea.m_hWnd);
            EXPECT_EQ(ChildRect(d.m_hWnd, d.m_upload.m_hWnd),
                      CRect(marker.left, marker.top, marker.left + client.Width(), client.bottom));
            EXPECT_NE(W(d.m_upload.m_stcQuota.GetWindowText()).find(L"空间信息"), std::wstring::npos);
            Pump(300);
            test_capture::SaveWindow(d.m_hWnd, "main_dialog_upload_tab");

            for (const Step& s : steps) {
                const size_t before = FileLists();
                if (s.click)
                    Click(d, s.item);
                else
                    Select(d, s.item);
                EXPECT_EQ(FileLists() - before, s.lists) << s.name;
                EXPECT_EQ(Shown(d.m_upload.m_hWnd), s.item == 0) << s.name;
                EXPECT_EQ(Shown(d.m_tabUploaded.m_hWnd), s.item == 1) << s.name;
                if (s.click) {
                    EXPECT_EQ(d.m_tabs.GetCurSel(), s.item) << s.name;
                }
                if (s.item == 1) {
                    EXPECT_EQ(d.m_tabUploaded.m_nRowCount, 1) << s.name;
                    EXPECT_EQ(ChildRect(d.m_hWnd, d.m_tabUploaded.m_hWnd),
                              CRect(marker.left, marker.top, marker.left + client.Width(), client.bottom))
                        << s.name;
                }
                if (&s == &steps[0]) {
                    Pump(300);
                    test_capture::SaveWindow(d.m_hWnd, "main_dialog_uploaded_tab");
                }
            }
            d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
        },
        kSafetyMs);
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(MainDialogTest, FinishedUploadReachesTheUploadedTabEvenBeforeItShows) {
    CFerrantDlg dlg;
    test_modal::RunModal<CFerrantDlg>(dlg, [&](CFerrantDlg& d) {
        EXPECT_EQ(d.SendMessage(WM_UPLOAD_DONE, 0), 0);
        EXPECT_NE(d.m_tabUploaded.m_hWnd, nullptr);
        EXPECT_FALSE(Shown(d.m_tabUploaded.m_hWnd));
        EXPECT_TRUE(Shown(d.m_upload.m_hWnd));
        d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
    });
}

TEST_F(MainDialogTest, MinimiseGoesToTheTrayAndFollowsTheUsersFloatingWindowChoice) {
    SeedUser(L"li@example.com", L"1");
    SeedUser(L"wang@example.com", L"0");
    SeedUser(L"o'neil@example.com", L"0");
    struct Case {
        const char* name;
        const wchar_t* user;
        bool floatBefore, floatAfter;
        bool byCaptionButton;
    };
    const Case cases[] = {
        {"no row keeps it shown", kMail, true, true, false},
        {"no row keeps it hidden", kMail, false, false, true},
        {"a row with 1 shows it", L"li@example.com", false, true, false},
        {"a row with 0 hides it", L"wang@example.com", true, false, true},
        {"a quote in the address", L"o'neil@example.com", true, false, false},
    };
    CFerrantDlg dlg;
    const INT_PTR result = test_modal::RunModal<CFerrantDlg>(
        dlg,
        [&](CFerrantDlg& d) {
            CFloatWnd& floating = *d.GetFloatWnd();
            EXPECT_TRUE(floating.IsWindowVisible());
            EXPECT_EQ(g_hMainDialog, d.m_hWnd);
            EXPECT_EQ(g_hFloatWindow, floating.m_hWnd);
            for (const Case& c : cases) {
                g_strUserName = c.user;
                floating.ShowWindow(c.floatBefore ? SW_SHOWNA : SW_HIDE);
                m_shell.clear();
                if (c.byCaptionButton)
                    d.SendMessage(WMU_HITCAPBUTTON, 2);
                else
                    d.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
                EXPECT_EQ(floating.IsWindowVisible() != FALSE, c.floatAfter) << c.name;
                EXPECT_FALSE(d.IsWindowVisible()) << c.name;
                EXPECT_FALSE(d.IsIconic()) << c.name;
                EXPECT_TRUE(g_TrayIcon.IsVisible()) << c.name;
                ASSERT_EQ(m_shell.size(), 1u) << c.name;
                EXPECT_EQ(m_shell[0].message, static_cast<DWORD>(NIM_ADD)) << c.name;
                EXPECT_EQ(m_shell[0].data.hIcon, d.GetIcon()) << c.name;
                EXPECT_EQ(m_shell[0].data.uID, g_TrayIcon.GetId()) << c.name;
                if (c.floatAfter && !c.floatBefore) {
                    Pump(200);
                    test_capture::SaveWindow(floating.m_hWnd, "main_dialog_floating_window");
                }
                // A left click on the icon brings the window back and takes the icon away.
                m_shell.clear();
                Tray(WM_LBUTTONUP);
                EXPECT_TRUE(d.IsWindowVisible()) << c.name;
                EXPECT_FALSE(g_TrayIcon.IsVisible()) << c.name;
                ASSERT_EQ(m_shell.size(), 1u) << c.name;
                EXPECT_EQ(m_shell[0].message, static_cast<DWORD>(NIM_DELETE)) << c.name;
            }
            d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
        },
        kSafetyMs);
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(MainDialogTest, TrayLeftClickRestoresAMinimisedWindow) {
    CFerrantDlg dlg;
    test_modal::RunModal<CFerrantDlg>(dlg, [&](CFerrantDlg& d) {
        d.ShowWindow(SW_MINIMIZE);
        ASSERT_TRUE(d.IsIconic());
        g_TrayIcon.ShowIcon(true);
        Tray(WM_LBUTTONUP);
        EXPECT_FALSE(d.IsIconic());
        EXPECT_TRUE(d.IsWindowVisible());
        EXPECT_FALSE(g_TrayIcon.IsVisible());
        d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
    });
    // The dialog gone, the icon's clicks reach nothing.
    EXPECT_EQ(g_hMainDialog, nullptr);
    EXPECT_EQ(g_hFloatWindow, nullptr);
    Tray(WM_LBUTTONUP);
    Tray(WM_RBUTTONUP);
}

TEST_F(MainDialogTest, TrayMenuEntries) {
    struct Tracked {
        std::vector<std::pair<UINT, std::wstring>> items;
        UINT flags = 0;
        HWND owner = nullptr;
    };
    std::vector<Tracked> tracked;
    int choice = 0;
    bool real = false;
    static bool s_menuSeen;
    s_menuSeen = false;
    CFerrantDlg::Tracker() = [&](HMENU menu, UINT flags, int x, int y, HWND owner) {
        Tracked t;
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            wchar_t text[64] = {};
            GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
            t.items.push_back({GetMenuItemID(menu, i), text});
        }
        t.flags = flags;
        t.owner = owner;
        tracked.push_back(t);
        if (!real) return choice;
        // The real menu, saved as it shows and closed again.
        Poll::Start([] {
            HWND menuWnd = nullptr;
            EnumThreadWindows(GetCurrentThreadId(), FindShownMenu, reinterpret_cast<LPARAM>(&menuWnd));
            if (!menuWnd) return false;
            test_capture::SaveWindow(menuWnd, "main_dialog_tray_menu");
            s_menuSeen = true;
            EndMenu();
            return true;
        });
        return static_cast<int>(TrackPopupMenu(menu, flags, x, y, 0, owner, nullptr));
    };
    struct Step {
        const char* name;
        bool real;
        int choice;
        bool floatAfter, mainAfter, iconAfter;
    };
    const Step steps[] = {
        {"opened and dismissed", true, 0, false, false, true},
        {"show the floating window", false, CFerrantDlg::kTrayShowFloat, true, false, true},
        {"show the main window", false, CFerrantDlg::kTrayShowMain, true, true, false},
    };
    CFerrantDlg dlg;
    HWND main = nullptr;
    const INT_PTR result = test_modal::RunModal<CFerrantDlg>(
        dlg,
        [&](CFerrantDlg& d) {
            main = d.m_hWnd;
            CFloatWnd& floating = *d.GetFloatWnd();
            floating.ShowWindow(SW_HIDE);
            d.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
            ASSERT_FALSE(d.IsWindowVisible());
            for (const Step& s : steps) {
                real = s.real;
                choice = s.choice;
                if (s.real) {
                    // The window just hidden may still be handing the activation on, which closes a
                    // menu at once: it is opened again until it shows.
                    EXPECT_TRUE(PumpUntil(
                        [&] {
                            Tray(WM_RBUTTONUP);
                            return s_menuSeen;
                        },
                        10000));
                } else {
                    Tray(WM_RBUTTONUP);
                }
                EXPECT_EQ(floating.IsWindowVisible() != FALSE, s.floatAfter) << s.name;
                EXPECT_EQ(d.IsWindowVisible() != FALSE, s.mainAfter) << s.name;
                EXPECT_EQ(g_TrayIcon.IsVisible(), s.iconAfter) << s.name;
                Poll::Stop();
            }
            // The third entry ends the client through the quit message.
            real = false;
            choice = CFerrantDlg::kTrayExit;
            Tray(WM_RBUTTONUP);
        },
        kSafetyMs);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(TakeQuit());
    ASSERT_GE(tracked.size(), 4u);
    const std::vector<std::pair<UINT, std::wstring>> entries = {
        {1, L"显示悬浮窗口"}, {2, L"显示主窗口"}, {3, L"退      出"}};
    for (const Tracked& t : tracked) {
        EXPECT_EQ(t.items, entries);
        EXPECT_EQ(t.flags, static_cast<UINT>(TPM_RETURNCMD | TPM_RIGHTBUTTON));
        EXPECT_EQ(t.owner, main);
    }
}

TEST_F(MainDialogTest, EnterAndEscapeLeaveItOpen) {
    WatchedDialog dlg;
    const INT_PTR result = test_modal::RunModal<CFerrantDlg>(dlg, [&](CFerrantDlg& d) {
        d.SendMessage(WM_COMMAND, IDOK);
        d.SendMessage(WM_COMMAND, IDCANCEL);
        EXPECT_TRUE(d.IsWindowVisible());
        d.SetFocus();
        dlg.m_commands.clear();
        // The keys go through the dialog's own loop, as the keyboard sends them; the exit command
        // after them is only read when neither ended the loop.
        for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
            d.PostMessage(WM_KEYDOWN, key, 1);
            d.PostMessage(WM_KEYUP, key, 0xC0000001);
        }
        d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dlg.m_commands, (std::vector<UINT>{IDOK, IDCANCEL, CFerrantDlg::ID_EXIT}));
}

TEST_F(MainDialogTest, ExitCommandAndCaptionCloseEndIt) {
    struct Case {
        const char* name;
        std::function<void(CFerrantDlg&)> end;
    };
    const Case cases[] = {
        {"exit command", [](CFerrantDlg& d) { d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT); }},
        {"caption close, registered message", [](CFerrantDlg& d) { d.SendMessage(WMU_HITCAPBUTTON, 1); }},
        {"caption close button released", [](CFerrantDlg& d) { d.SendMessage(WM_NCLBUTTONUP, HTCLOSE, 0); }},
        {"system close", [](CFerrantDlg& d) { d.SendMessage(WM_SYSCOMMAND, SC_CLOSE); }},
    };
    for (const Case& c : cases) {
        CFerrantDlg dlg;
        EXPECT_EQ(test_modal::RunModal<CFerrantDlg>(dlg, c.end, kSafetyMs), IDCANCEL) << c.name;
        EXPECT_FALSE(TakeQuit()) << c.name;
        EXPECT_EQ(dlg.m_hWnd, nullptr) << c.name;
    }
}

TEST_F(MainDialogTest, CaptionMenuRunsSettingsUpdateCheckAndAbout) {
    std::vector<std::pair<UINT, std::wstring>> items;
    UINT command = 0;
    CSkinFrame::Tracker() = [&](HMENU menu, UINT, int, int, HWND owner) {
        items.clear();
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            wchar_t text[64] = {};
            GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
            items.push_back({GetMenuItemID(menu, i), text});
        }
        PostMessageW(owner, WM_COMMAND, command, 0);
        return TRUE;
    };
    struct Case {
        const char* name;
        UINT command;
        int control;          // a control only the dialog that opens holds
        const wchar_t* text;  // of the message box, when one opens
    };
    const Case cases[] = {
        {"settings", CFerrantDlg::ID_SETTING, CSettingWnd::IDC_AUTO_RUN, nullptr},
        {"update check after the silent one at start", CFerrantDlg::ID_CHECK_UPDATE, CTips::IDC_TEXT, kNewest},
        {"about", CFerrantDlg::ID_ABOUT, CDialogAbout::IDC_HOME_LINK, nullptr},
    };
    CFerrantDlg dlg;
    const INT_PTR result = test_modal::RunModal<CFerrantDlg>(
        dlg,
        [&](CFerrantDlg& d) {
            // The start-up check was silent.
            EXPECT_TRUE(PumpUntil([&] { return m_site.RequestCount() == 1; }, 20000));
            Pump(200);
            for (const Case& c : cases) {
                command = c.command;
                CString text;
                HWND owner = nullptr;
                DialogWatch watch(c.control, [&](HWND box) {
                    text = Text(GetDlgItem(box, CTips::IDC_TEXT));
                    owner = GetWindow(box, GW_OWNER);
                    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
                });
                CRect r;
                d.GetWindowRect(&r);
                d.SendMessage(WM_NCLBUTTONDOWN, CSkinFrame::kHitMenu, MAKELPARAM(r.right - 66, r.top + 10));
                EXPECT_TRUE(PumpUntil([&] { return watch.Seen(); }, 20000)) << c.name;
                Pump(200);
                if (c.text) {
                    EXPECT_EQ(W(text), c.text) << c.name;
                }
                EXPECT_EQ(owner, d.m_hWnd) << c.name;
                EXPECT_TRUE(d.IsWindowVisible()) << c.name;
            }
            d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
        },
        kSafetyMs);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(items, (std::vector<std::pair<UINT, std::wstring>>{{CFerrantDlg::ID_SETTING, L"设置"},
                                                                 {CFerrantDlg::ID_CHECK_UPDATE, L"检查更新"},
                                                                 {CFerrantDlg::ID_ABOUT, L"关于"}}));
}

// The update server takes the connection and says nothing for a while: the window is up at
// once, and the check's answer follows when it comes.
TEST_F(MainDialogTest, SilentUpdateServerHoldsUpNeitherTheWindowNorTheCheck) {
    const int kSilentMs = 6000;
    provider::WebSite::Page late{200, "version=1.0.0.8", "", "text/plain", kSilentMs};
    m_site.SetPage(provider::WebSite::kVersionPath, late);
    TipsWatch tips;
    WatchedDialog dlg;
    const DWORD start = GetTickCount();
    DWORD shownAfter = 0, answeredAfter = 0;
    HWND main = nullptr;
    const INT_PTR result = test_modal::RunModal<CFerrantDlg>(
        dlg,
        [&](CFerrantDlg& d) {
            shownAfter = GetTickCount() - start;
            main = d.m_hWnd;
            EXPECT_TRUE(d.IsWindowVisible());
            EXPECT_EQ(tips.seen, 0);
            EXPECT_TRUE(PumpUntil([&] { return tips.seen > 0; }, kSilentMs + 20000));
            answeredAfter = GetTickCount() - start;
            d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
        },
        kSafetyMs);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(dlg.m_bEverVisible);
    EXPECT_LT(shownAfter, 5000u);
    EXPECT_GE(answeredAfter, static_cast<DWORD>(kSilentMs) - 1000);
    ASSERT_EQ(tips.seen, 1);
    EXPECT_EQ(tips.ok, L"立即下载");
    EXPECT_EQ(tips.owners[0], main);
    EXPECT_FALSE(tips.ownersEnabled[0]);
    EXPECT_EQ(m_site.RequestCount(), 1u);
    EXPECT_FALSE(TakeQuit());
}

// Asked for while the start-up check still waits, the menu's check is the one that answers, and
// aloud; the start-up answer that comes later shows nothing more.
TEST_F(MainDialogTest, MenuCheckDuringTheStartUpCheckSpeaksOnce) {
    provider::WebSite::Page late{200, "version=1.0.0.7", "", "text/plain", 2000};
    m_site.SetPage(provider::WebSite::kVersionPath, late);
    TipsWatch tips;
    CFerrantDlg dlg;
    HWND main = nullptr;
    const INT_PTR result = test_modal::RunModal<CFerrantDlg>(
        dlg,
        [&](CFerrantDlg& d) {
            main = d.m_hWnd;
            d.SendMessage(WM_COMMAND, CFerrantDlg::ID_CHECK_UPDATE);
            EXPECT_TRUE(PumpUntil([&] { return tips.seen > 0; }, 20000));
            Pump(3000);
            d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
        },
        kSafetyMs);
    EXPECT_EQ(result, IDCANCEL);
    ASSERT_EQ(tips.seen, 1);
    EXPECT_EQ(W(tips.text), kNewest);
    EXPECT_EQ(tips.owners[0], main);
    EXPECT_EQ(m_site.RequestCount(), 2u);
}

// Refuses the first owned popup dialog made on this thread: the floating window.
struct FloatWindowRefused {
    static inline bool s_refused = false;
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_CREATEWND && !s_refused) {
            const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
            if (cs->hwndParent && (cs->style & WS_POPUP) && !(cs->style & WS_CHILD)) {
                s_refused = true;
                return 1;
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    FloatWindowRefused() {
        s_refused = false;
        hook = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    }
    ~FloatWindowRefused() { UnhookWindowsHookEx(hook); }
    HHOOK hook;
};

TEST_F(MainDialogTest, WithoutItsFloatingWindowTheMainWindowComesBackFromTheTray) {
    int chosen = 0;
    CFerrantDlg::Tracker() = [&](HMENU, UINT, int, int, HWND) { return chosen; };
    CFerrantDlg dlg;
    FloatWindowRefused refuse;
    test_modal::RunModal<CFerrantDlg>(
        dlg,
        [&](CFerrantDlg& d) {
            ASSERT_TRUE(FloatWindowRefused::s_refused);
            EXPECT_EQ(d.GetFloatWnd()->m_hWnd, nullptr);
            EXPECT_EQ(g_hMainDialog, d.m_hWnd);
            EXPECT_EQ(g_hFloatWindow, nullptr);
            struct Way {
                const char* name;
                LPARAM click;
                int entry;
            };
            const Way ways[] = {
                {"left click", WM_LBUTTONUP, 0},
                {"the menu's floating window entry, then its main window entry", WM_RBUTTONUP,
                 CFerrantDlg::kTrayShowFloat},
                {"the menu's main window entry", WM_RBUTTONUP, CFerrantDlg::kTrayShowMain},
            };
            for (const Way& w : ways) {
                d.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
                EXPECT_FALSE(d.IsWindowVisible()) << w.name;
                EXPECT_TRUE(g_TrayIcon.IsVisible()) << w.name;
                chosen = w.entry;
                Tray(w.click);
                if (w.entry == CFerrantDlg::kTrayShowFloat) {
                    EXPECT_FALSE(d.IsWindowVisible()) << w.name;
                    chosen = CFerrantDlg::kTrayShowMain;
                    Tray(WM_RBUTTONUP);
                }
                EXPECT_TRUE(d.IsWindowVisible()) << w.name;
                EXPECT_FALSE(g_TrayIcon.IsVisible()) << w.name;
            }
            d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
        },
        kSafetyMs);
    EXPECT_EQ(g_hMainDialog, nullptr);
}

TEST_F(MainDialogTest, SwitchUser) {
    // A long address first: the shorter one that replaces it must not show over what is left of it.
    const wchar_t kLongMail[] = L"a.rather.long.address.of.someone@example.com";
    struct Case {
        const char* name;
        Answer answer;
        bool shownAfter;
        const wchar_t* userAfter;
        INT_PTR result;
    };
    const Case cases[] = {
        {"a new login shows the new address", Answer::Login, true, kOtherMail, IDCANCEL},
        {"a closed login shows the window again", Answer::Close, true, kLongMail, IDCANCEL},
        {"the login's exit ends the client", Answer::Exit, false, kLongMail, -1},
    };
    for (const Case& c : cases) {
        g_LoginSession.m_strMail = kLongMail;
        g_strUserName = kLongMail;
        bool hiddenDuringLogin = false;
        CFerrantDlg dlg;
        const INT_PTR result = test_modal::RunModal<CFerrantDlg>(
            dlg,
            [&](CFerrantDlg& d) {
                d.GetFloatWnd()->ShowWindow(SW_HIDE);
                const CSize size = HeaderSize();
                const CRect user = ChildRect(d.m_hWnd, d.m_stcUser.m_hWnd);
                // Columns right of where the new address ends, on the address's rows.
                HDC screen = GetDC(d.m_hWnd);
                LOGFONTW lf{};
                lf.lfHeight = 16;
                lf.lfCharSet = DEFAULT_CHARSET;
                lstrcpynW(lf.lfFaceName, L"Arial", LF_FACESIZE);
                HFONT font = CreateFontIndirectW(&lf);
                HGDIOBJ oldFont = SelectObject(screen, font);
                SIZE extent{};
                GetTextExtentPoint32W(screen, kOtherMail, lstrlenW(kOtherMail), &extent);
                SelectObject(screen, oldFont);
                DeleteObject(font);
                ReleaseDC(d.m_hWnd, screen);
                const CRect rest(user.left + extent.cx + 2, user.top, std::min<int>(user.right, size.cx),
                                 std::min<int>(user.top + extent.cy, size.cy));
                Pump(200);
                ASSERT_GT(InkIn(d.m_hWnd, rest), 0) << c.name;

                DialogWatch watch(CDialogLogin::IDC_MAIL, [&](HWND login) {
                    hiddenDuringLogin = !d.IsWindowVisible();
                    Reply(login, c.answer, kOtherMail, L"secret");
                });
                d.SendMessage(WM_COMMAND, CFerrantDlg::ID_SWITCH_USER);
                EXPECT_TRUE(watch.Seen()) << c.name;
                EXPECT_EQ(d.IsWindowVisible() != FALSE, c.shownAfter) << c.name;
                EXPECT_EQ(W(d.m_stcUser.GetWindowText()), c.userAfter) << c.name;
                if (c.answer == Answer::Login) {
                    Pump(200);
                    EXPECT_EQ(InkIn(d.m_hWnd, rest), 0) << c.name;
                }
                if (c.result != -1) d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
            },
            kSafetyMs);
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_TRUE(hiddenDuringLogin) << c.name;
        EXPECT_EQ(TakeQuit(), c.result == -1) << c.name;
    }
}

TEST_F(MainDialogTest, LoginAtStart) {
    struct Case {
        const char* name;
        Answer answer;
        INT_PTR result;
    };
    const Case cases[] = {
        {"closed: ends unseen", Answer::Close, IDCANCEL},
        {"exit button: ends unseen", Answer::Exit, IDCANCEL},
        {"logged in: shows with the user", Answer::Login, IDCANCEL},
    };
    for (const Case& c : cases) {
        g_LoginSession = CLoginSession();
        g_strUserName.Empty();
        WatchedDialog dlg;
        bool visibleDuringLogin = true;
        CString shownUser;
        DialogWatch watch(CDialogLogin::IDC_MAIL, [&](HWND login) {
            // Hidden until the login is through, whatever asks it to show.
            ::ShowWindow(dlg.m_hWnd, SW_SHOW);
            visibleDuringLogin = ::IsWindowVisible(dlg.m_hWnd) != FALSE;
            Reply(login, c.answer, kMail, L"secret");
        });
        if (c.answer == Answer::Login) {
            Poll::Start([&] {
                if (!dlg.m_hWnd || !dlg.IsWindowVisible()) return false;
                shownUser = dlg.m_stcUser.GetWindowText();
                dlg.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
                return true;
            });
        }
        // Ends a dialog left open, so no case waits for good.
        test_modal::Run::s_box = &dlg;
        const UINT_PTR safety = SetTimer(nullptr, 0, kSafetyMs, &test_modal::Run::Safety);
        const INT_PTR result = dlg.DoModal();
        KillTimer(nullptr, safety);
        test_modal::Run::s_box = nullptr;
        Poll::Stop();
        EXPECT_TRUE(watch.Seen()) << c.name;
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_FALSE(visibleDuringLogin) << c.name;
        if (c.answer == Answer::Login) {
            EXPECT_TRUE(dlg.m_bEverVisible) << c.name;
            EXPECT_EQ(W(shownUser), kMail) << c.name;
            EXPECT_FALSE(TakeQuit()) << c.name;
        } else {
            EXPECT_FALSE(dlg.m_bEverVisible) << c.name;
            EXPECT_TRUE(TakeQuit()) << c.name;
            // It ended before the update check or the pages.
            EXPECT_EQ(m_site.RequestCount(), 0u) << c.name;
            EXPECT_EQ(dlg.m_upload.m_hWnd, nullptr) << c.name;
        }
        m_site.ClearRequests();
    }
}

TEST_F(MainDialogTest, ClosingWhileAnUploadRunsStopsItResumably) {
    struct Case {
        const char* name;
        bool byTrayExit;
        INT_PTR result;
    };
    const Case cases[] = {
        {"exit command", false, IDCANCEL},
        {"tray menu exit", true, -1},
    };
    m_provider->State().SetThrottle(64 * 1024, true);
    for (const Case& c : cases) {
        TempFile file(1 << 20, L"running");
        CFerrantDlg::Tracker() = [](HMENU, UINT, int, int, HWND) { return static_cast<int>(CFerrantDlg::kTrayExit); };
        const size_t rowsBefore = m_provider->State().Files().size();
        CFerrantDlg dlg;
        const INT_PTR result = test_modal::RunModal<CFerrantDlg>(
            dlg,
            [&](CFerrantDlg& d) {
                CUpload::Chooser() = [&](std::vector<CString>& paths) {
                    paths = {file.path};
                    return true;
                };
                TipsWatch tips;
                d.m_upload.SendMessage(WM_COMMAND, MAKEWPARAM(CUpload::IDC_BROWSE, BN_CLICKED),
                                       reinterpret_cast<LPARAM>(d.m_upload.m_btnBrowse.m_hWnd));
                EXPECT_EQ(tips.seen, 0) << c.name;
                ASSERT_EQ(d.m_upload.m_arrRows.size(), rowsBefore + 1) << c.name;
                CUploading* row = d.m_upload.m_arrRows.back();
                ASSERT_TRUE(PumpUntil([&] { return row->BytesDone() > 0; }, 20000)) << c.name;
                if (c.byTrayExit)
                    Tray(WM_RBUTTONUP);
                else
                    d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
            },
            kSafetyMs);
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(TakeQuit(), c.byTrayExit) << c.name;
        EXPECT_TRUE(dlg.m_upload.m_arrRows.empty()) << c.name;
        // Every connection of the upload is closed, and the server keeps the unfinished file.
        EXPECT_TRUE(PumpUntil([&] { return m_provider->Data().LiveConnections() == 0; }, 10000)) << c.name;
        const std::vector<provider::StoredFile> files = m_provider->State().Files();
        ASSERT_EQ(files.size(), rowsBefore + 1) << c.name;
        EXPECT_FALSE(files.back().Finished()) << c.name;
        EXPECT_TRUE(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_DELETE_FILE).empty()) << c.name;

        uint64_t held = 0;
        for (const provider::SegmentState& segment : files.back().segments) held += segment.received;
        EXPECT_GT(held, 0u) << c.name;

        // The next start offers it again, paused, from where the server stopped.
        CFerrantDlg next;
        test_modal::RunModal<CFerrantDlg>(next, [&](CFerrantDlg& d) {
            ASSERT_EQ(d.m_upload.m_arrRows.size(), rowsBefore + 1) << c.name;
            const CUploading& row = *d.m_upload.m_arrRows.back();
            EXPECT_EQ(row.State(), CUploading::STATE_RESUMABLE) << c.name;
            EXPECT_EQ(row.BytesDone(), held) << c.name;
            d.PostMessage(WM_COMMAND, CFerrantDlg::ID_EXIT);
        });
    }
}

}  // namespace
