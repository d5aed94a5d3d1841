#include "client/windows/CFerrantDlg.h"

#include "client/session/CLoginSession.h"
#include "client/windows/CDialogAbout.h"
#include "client/windows/CDialogLogin.h"
#include "client/windows/CSettingWnd.h"
#include "client/windows/CTrayIcon.h"
#include "client/windows/LoginStore.h"
#include "client/windows/UpdateCheck.h"
#include "client/windows/WindowMessages.h"
#include "framework/CWinApp.h"

extern const UINT WMU_HITCAPBUTTON = ::RegisterWindowMessageW(L"WMU_HITCAPBUTTON");
HWND g_hMainDialog = nullptr;
HWND g_hFloatWindow = nullptr;

namespace {

constexpr COLORREF kGreetingText = 0x666666;
constexpr COLORREF kUserText = 0x825232;
constexpr wchar_t kTitle[] = L"Tebrin上传助手";
constexpr wchar_t kIni[] = L".\\Setting.ini";

LOGFONTW Font(const wchar_t* face, int height, int weight) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    return lf;
}

// The window's own visible flag: a page counts as shown while the main window is hidden too.
bool Shown(const CWnd& wnd) { return wnd.m_hWnd && (wnd.GetStyle() & WS_VISIBLE); }

CRect ChildRect(const CWnd& parent, const CWnd& child) {
    CRect r;
    child.GetWindowRect(&r);
    parent.ScreenToClient(&r);
    return r;
}

bool QuitPending() {
    MSG msg;
    return ::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

}  // namespace

BEGIN_MESSAGE_MAP(CFerrantDlg, CSkinDialog)
    ON_WM_CREATE()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_NOTIFY(TABN_SELCHANGE, IDC_TABS, &CFerrantDlg::OnTabSelChange)
    ON_MESSAGE(WM_UPLOAD_DONE, &CFerrantDlg::OnUploadDone)
    ON_MESSAGE(WM_UPDATE_CHECKED, &CFerrantDlg::OnUpdateChecked)
    ON_COMMAND(ID_SWITCH_USER, &CFerrantDlg::OnSwitchUser)
    ON_COMMAND(ID_SETTING, &CFerrantDlg::OnSetting)
    ON_COMMAND(ID_CHECK_UPDATE, &CFerrantDlg::CheckForUpdate)
    ON_COMMAND(ID_ABOUT, &CFerrantDlg::OnAbout)
    ON_COMMAND(ID_SHOW_FLOAT, &CFerrantDlg::OnShowFloat)
    ON_COMMAND(ID_SHOW_MAIN, &CFerrantDlg::OnShowMain)
    ON_COMMAND(ID_EXIT, &CFerrantDlg::OnExit)
    ON_WM_CLOSE()
    ON_WM_SYSCOMMAND()
    ON_WM_DESTROY()
    ON_REGISTERED_MESSAGE(WMU_HITCAPBUTTON, &CFerrantDlg::OnHitCapButton)
    ON_WM_CTLCOLOR()
    ON_WM_WINDOWPOSCHANGING()
END_MESSAGE_MAP()

MenuTracker& CFerrantDlg::Tracker() {
    static MenuTracker tracker = [](HMENU menu, UINT flags, int x, int y, HWND owner) {
        return ::TrackPopupMenu(menu, flags, x, y, 0, owner, nullptr);
    };
    return tracker;
}

CFerrantDlg::CFerrantDlg(CWnd* parent) : CSkinDialog(IDD, parent), m_upload(this), m_tabUploaded(this) {
    m_bmpHeader.LoadBitmap(IDB_HEADER);
    m_bmpSecond.LoadBitmap(IDB_SECOND);
    const LOGFONTW bold = Font(L"粗体", 12, FW_BOLD), song = Font(L"宋体", 12, FW_NORMAL),
                   arial = Font(L"Arial", 16, FW_NORMAL);
    m_fontBold.CreateFontIndirect(&bold);
    m_fontSong.CreateFontIndirect(&song);
    m_fontArial.CreateFontIndirect(&arial);
    LPCWSTR icon = MAKEINTRESOURCEW(IDI_MAIN);
    m_hIcon = ::LoadIconW(AfxFindResourceHandle(icon, RT_GROUP_ICON), icon);
}

CFerrantDlg::~CFerrantDlg() {
    if (m_hWnd) DestroyWindow();
}

void CFerrantDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_TABS, m_tabs);
    DDX_Control(dx, IDC_PAGE_AREA, m_btnPageArea);
    DDX_Control(dx, IDC_GREETING, m_stcGreeting);
    DDX_Control(dx, IDC_USER, m_stcUser);
}

int CFerrantDlg::OnCreate(LPCREATESTRUCTW cs) {
    if (CSkinDialog::OnCreate(cs) == -1) return -1;
    m_frame.SetCaptionMenu(IDR_CAPTION_MENU);
    m_frame.Paint(m_hWnd);
    return 0;
}

void CFerrantDlg::AdjustClientRect(RECT& r) { BelowSkinnedCaption(r); }

BOOL CFerrantDlg::OnInitDialog() {
    CSkinDialog::OnInitDialog();
    if (!LogInAtStart()) return FALSE;
    m_bShowAllowed = TRUE;
    if (CWinApp* app = AfxGetApp()) app->m_pActiveWnd = this;

    // The answer comes once the window is up: a silent update server holds up nothing. Without a
    // thread for it, the check still runs, here.
    m_bSilentUpdateCheck = TRUE;
    if (!m_updateFetch.Start(m_hWnd, WM_UPDATE_CHECKED)) ::CheckForUpdate(this, m_bSilentUpdateCheck);

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    SetWindowText(kTitle);

    m_tabs.ModifyStyle(0, TABS_AUTOSCROLLBUTTONS);
    LOGFONTW lf{};
    CFont* font = GetFont();
    m_tabs.SetControlFont(font && font->GetLogFont(&lf) ? &lf : nullptr, TRUE);
    m_tabs.InsertItem(0, L"从本地上传", 0);
    m_tabs.InsertItem(1, L"已上传文件", 0);
    m_tabs.SetCurSel(0);
    CRect client;
    GetClientRect(&client);
    const CRect strip = ChildRect(*this, m_tabs);
    m_tabs.MoveWindow(client.left + 5, strip.top, strip.Width(), strip.Height());

    if (g_LoginSession.IsLoggedIn()) m_stcUser.SetWindowText(g_LoginSession.m_strMail);
    m_rcClientScreen = client;
    ClientToScreen(&m_rcClientScreen);

    // Reachable from the tray whether or not the floating window could be made.
    g_hMainDialog = m_hWnd;
    CreateFloatWnd();
    g_TrayIcon.SetIcon(m_hIcon, TRUE);
    g_TrayIcon.SetNotifyCallback(&CFerrantDlg::OnTrayNotify);
    if (m_pFloatWnd->m_hWnd) m_pFloatWnd->LoadSetLayeredWindowAttributes(255);

    ShowPage(0);
    return TRUE;
}

bool CFerrantDlg::LogInAtStart() {
    if (g_LoginSession.IsLoggedIn()) return true;
    CDialogLogin login;
    login.m_pbShowAllowed = &m_bShowAllowed;
    if (CWinApp* app = AfxGetApp()) app->m_pActiveWnd = &login;
    if (login.DoModal() == IDOK && g_LoginSession.IsLoggedIn()) return true;
    // Given up: the client ends, and this dialog with it before it is ever seen.
    ::PostQuitMessage(0);
    EndDialog(IDCANCEL);
    return false;
}

void CFerrantDlg::CreateFloatWnd() {
    m_pFloatWnd.reset(new CFloatWnd(this));
    if (!m_pFloatWnd->Create(CFloatWnd::IDD, this)) return;
    // Where the window was when it last hid or ended; centred when it never saved a place.
    wchar_t top[16] = {}, left[16] = {};
    ::GetPrivateProfileStringW(L"FloatWndInfo", L"Top", L"", top, 16, kIni);
    ::GetPrivateProfileStringW(L"FloatWndInfo", L"Left", L"", left, 16, kIni);
    if (*top && *left)
        m_pFloatWnd->SetWindowPos(nullptr, _wtoi(left), _wtoi(top), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_pFloatWnd->ShowWindow(SW_SHOWNA);
    g_hFloatWindow = m_pFloatWnd->m_hWnd;
}

void CFerrantDlg::OnTabSelChange(NMHDR* notify, LRESULT* result) {
    const auto* record = reinterpret_cast<const TabNotifyRecord*>(notify);
    SetFocus();
    ShowPage(record->nItem);
    *result = 0;
}

void CFerrantDlg::ShowPage(int item) {
    CRect client;
    GetClientRect(&client);
    const CRect marker = ChildRect(*this, m_btnPageArea);
    const CRect page(marker.left, marker.top, marker.left + client.Width(), client.bottom);
    // The user id the pages get is read on this thread only.
    const WPARAM userId = reinterpret_cast<WPARAM>(&g_LoginSession.m_nUserId);
    if (item == 0) {
        if (!m_upload.m_hWnd && !m_upload.Create(CUpload::IDD, this)) return;
        m_upload.SetFloatWnd(m_pFloatWnd.get());
        if (Shown(m_tabUploaded)) m_tabUploaded.ShowWindow(SW_HIDE);
        if (Shown(m_upload)) return;
        m_upload.MoveWindow(page);
        m_upload.ShowWindow(SW_SHOW);
        if (!m_bUploadPageLoaded) {
            m_bUploadPageLoaded = TRUE;
            m_upload.SendMessage(WM_LOAD_UNFINISHED_UPLOADS, userId);
        }
        if (m_upload.m_nRowCount == 0) m_upload.ShowSpaceInfo();
    } else if (item == 1) {
        if (!m_tabUploaded.m_hWnd && !m_tabUploaded.Create(CTabUploaded::IDD, this)) return;
        if (Shown(m_upload)) m_upload.ShowWindow(SW_HIDE);
        if (Shown(m_tabUploaded)) return;
        m_tabUploaded.MoveWindow(page);
        m_tabUploaded.ShowWindow(SW_SHOWNORMAL);
        m_bUploadedTabLoaded = TRUE;
        m_tabUploaded.SendMessage(WM_LOAD_UPLOADED_LIST, userId);
        m_tabUploaded.Invalidate();
    }
}

LRESULT CFerrantDlg::OnUploadDone(WPARAM row, LPARAM) {
    if (!m_tabUploaded.m_hWnd) m_tabUploaded.Create(CTabUploaded::IDD, this);
    if (m_tabUploaded.m_hWnd) m_tabUploaded.SendMessage(WM_UPLOAD_DONE, row, 0);
    return 0;
}

void CFerrantDlg::OnSwitchUser() {
    ShowWindow(SW_HIDE);
    CDialogLogin login;
    const INT_PTR result = login.DoModal();
    if (CWinApp* app = AfxGetApp()) app->m_pActiveWnd = this;
    if (result == IDOK && g_LoginSession.IsLoggedIn()) {
        m_stcUser.SetWindowText(g_LoginSession.m_strMail);
        m_stcUser.Invalidate();
        m_stcUser.UpdateWindow();
        ShowWindow(SW_SHOW);
        RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        return;
    }
    // A switch given up keeps the user who was there, in sight; one that quits the client does not.
    if (result != -1 && !QuitPending()) ShowWindow(SW_SHOW);
}

void CFerrantDlg::OnSetting() {
    CSettingWnd dialog(this);
    dialog.DoModal();
}

void CFerrantDlg::CheckForUpdate() {
    // Asked for while the start-up check still waits: this one answers, and aloud.
    if (m_updateFetch.Pending()) {
        m_updateFetch.Abandon();
        m_bSilentUpdateCheck = FALSE;
    }
    ::CheckForUpdate(this, m_bSilentUpdateCheck);
}

LRESULT CFerrantDlg::OnUpdateChecked(WPARAM, LPARAM) {
    CString host, version;
    if (m_updateFetch.Take(host, version)) ShowUpdateResult(this, host, version, m_bSilentUpdateCheck);
    return 0;
}

void CFerrantDlg::OnAbout() {
    CDialogAbout dialog(this);
    dialog.DoModal();
}

void CFerrantDlg::OnShowFloat() {
    if (m_pFloatWnd && m_pFloatWnd->m_hWnd && !m_pFloatWnd->IsWindowVisible()) m_pFloatWnd->ShowWindow(SW_SHOWNA);
}

void CFerrantDlg::OnShowMain() {
    if (!IsWindowVisible()) ShowWindow(SW_SHOW);
}

void CFerrantDlg::OnExit() { CDialog::OnCancel(); }

void CFerrantDlg::OnClose() { CDialog::OnCancel(); }

LRESULT CFerrantDlg::OnHitCapButton(WPARAM button, LPARAM) {
    if (button == 1)
        SendMessage(WM_CLOSE);
    else if (button == 2)
        SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
    return 0;
}

void CFerrantDlg::OnSysCommand(UINT id, LPARAM lParam) {
    if ((id & 0xFFF0) == SC_MINIMIZE) {
        MinimiseToTray();
        return;
    }
    CSkinDialog::OnSysCommand(id, lParam);
}

void CFerrantDlg::MinimiseToTray() {
    // The user's own choice of the floating window; without a row for the user it stays as it is.
    std::optional<StoredUser> user;
    if (LocalUserStore().ReadUser(g_strUserName, &user) && user && m_pFloatWnd && m_pFloatWnd->m_hWnd)
        m_pFloatWnd->ShowWindow(user->floatWnd == L"1" ? SW_SHOWNA : SW_HIDE);
    g_TrayIcon.ShowIcon(true);
    ShowWindow(SW_HIDE);
}

void CFerrantDlg::ShowMainWindow(HWND main) {
    ::ShowWindow(main, SW_SHOW);
    if (::IsIconic(main)) ::ShowWindow(main, SW_RESTORE);
}

void CFerrantDlg::OnTrayNotify(CTrayIcon* icon, LPARAM message) {
    HWND main = g_hMainDialog;
    if (!main || !::IsWindow(main)) return;
    if (message == WM_LBUTTONUP) {
        if (icon) icon->ShowIcon(false);
        ShowMainWindow(main);
        return;
    }
    if (message != WM_RBUTTONUP) return;
    POINT at;
    if (!::GetCursorPos(&at)) return;
    HMENU menu = ::CreatePopupMenu();
    if (!menu) return;
    ::AppendMenuW(menu, MF_STRING, kTrayShowFloat, L"显示悬浮窗口");
    ::AppendMenuW(menu, MF_STRING, kTrayShowMain, L"显示主窗口");
    ::AppendMenuW(menu, MF_STRING, kTrayExit, L"退      出");
    // A menu of a window in the background would not close on a click elsewhere.
    ::SetForegroundWindow(main);
    const int chosen = Tracker()(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, main);
    ::PostMessageW(main, WM_NULL, 0, 0);
    ::DestroyMenu(menu);
    // The menu's own loop may have seen the dialog go.
    main = g_hMainDialog;
    switch (chosen) {
    case kTrayShowFloat:
        if (g_hFloatWindow && ::IsWindow(g_hFloatWindow)) ::ShowWindow(g_hFloatWindow, SW_SHOWNA);
        break;
    case kTrayShowMain:
        if (!main) break;
        ShowMainWindow(main);
        if (icon) icon->ShowIcon(false);
        break;
    case kTrayExit: ::PostQuitMessage(0); break;
    default: break;
    }
}

void CFerrantDlg::OnDestroy() {
    // Nothing reaches this window from the tray once it goes: the pages pump messages below.
    if (g_hMainDialog == m_hWnd) {
        g_TrayIcon.SetNotifyCallback(nullptr);
        g_TrayIcon.ShowIcon(false);
        g_TrayIcon.SetIcon(nullptr, FALSE);
        g_hMainDialog = nullptr;
        g_hFloatWindow = nullptr;
    }
    m_updateFetch.Abandon();
    m_upload.SetFloatWnd(nullptr);
    CSkinDialog::OnDestroy();
    // The upload page stops its rows and waits for their threads; the server keeps its part of
    // each file, which the next login offers to resume.
    if (m_upload.m_hWnd) m_upload.DestroyWindow();
    if (m_tabUploaded.m_hWnd) m_tabUploaded.DestroyWindow();
    m_pFloatWnd.reset();
}

// The brush only: the DC's colours stay the control's own.
HBRUSH CFerrantDlg::OnCtlColor(CDC*, CWnd*, UINT) { return palette::Brush(m_brush, kBackground); }

void CFerrantDlg::OnWindowPosChanging(WINDOWPOS* pos) {
    if (!m_bShowAllowed) pos->flags &= ~SWP_SHOWWINDOW;
    CSkinDialog::OnWindowPosChanging(pos);
}

HCURSOR CFerrantDlg::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(m_hIcon); }

void CFerrantDlg::OnPaint() {
    if (IsIconic()) {
        CPaintDC dc(this);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
        CRect r;
        GetClientRect(&r);
        const int x = (r.Width() - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (r.Height() - GetSystemMetrics(SM_CYICON) + 1) / 2;
        dc.DrawIcon(x, y, m_hIcon);
        return;
    }
    {
        CPaintDC dc(this);
        PaintHeader(dc);
    }
    CSkinDialog::OnPaint();
}

void CFerrantDlg::PaintHeader(CDC& dc) {
    CRect client;
    GetClientRect(&client);
    const CRect strip = ChildRect(*this, m_tabs);
    CPen pen(PS_SOLID, 1, kLineColour);
    HGDIOBJ oldPen = dc.SelectObject(pen.m_hObject);
    const int y = strip.bottom - 1;
    dc.MoveTo(0, y);
    dc.LineTo(strip.left, y);
    dc.MoveTo(strip.right, y);
    dc.LineTo(client.right, y);
    dc.SelectObject(oldPen);

    // The statics only give the texts and their places.
    if (Shown(m_stcGreeting)) m_stcGreeting.ShowWindow(SW_HIDE);
    if (Shown(m_stcUser)) m_stcUser.ShowWindow(SW_HIDE);
    if (!m_bmpHeader.m_hObject) return;

    // Composed on a copy: texts drawn into the picture itself would stay there, under the next
    // user's address after a switch.
    const CSize size = m_bmpHeader.GetSize();
    CDC picture, compose;
    picture.CreateCompatibleDC(&dc);
    compose.CreateCompatibleDC(&dc);
    CBitmap canvas;
    canvas.CreateCompatibleBitmap(dc, size.cx, size.cy);
    HGDIOBJ oldPicture = picture.SelectObject(m_bmpHeader.m_hObject);
    HGDIOBJ oldCanvas = compose.SelectObject(canvas.m_hObject);
    compose.BitBlt(0, 0, size.cx, size.cy, &picture, 0, 0, SRCCOPY);

    compose.SetBkMode(TRANSPARENT);
    HGDIOBJ oldFont = compose.SelectObject(m_fontSong.m_hObject);
    compose.SetTextColor(kGreetingText);
    CRect greeting = ChildRect(*this, m_stcGreeting);
    compose.DrawText(m_stcGreeting.GetWindowText(), greeting, DT_SINGLELINE | DT_WORD_ELLIPSIS);
    compose.SelectObject(m_fontArial.m_hObject);
    compose.SetTextColor(kUserText);
    const CRect user = ChildRect(*this, m_stcUser);
    compose.TextOut(user.left, user.top, m_stcUser.GetWindowText());
    compose.SelectObject(oldFont);

    dc.BitBlt(0, 0, size.cx, size.cy, &compose, 0, 0, SRCCOPY);
    compose.SelectObject(oldCanvas);
    picture.SelectObject(oldPicture);
}
