#include "client/windows/CFloatWnd.h"

namespace {
constexpr COLORREF kText = 0x82523A;
constexpr wchar_t kIniFile[] = L".\\Setting.ini";
constexpr wchar_t kSection[] = L"FloatWndInfo";
}  // namespace

BEGIN_MESSAGE_MAP(CFloatWnd, CDialog)
    ON_WM_NCHITTEST()
    ON_WM_RBUTTONUP()
    ON_COMMAND(IDM_HIDE, &CFloatWnd::OnHide)
    ON_WM_NCLBUTTONDBLCLK()
    ON_WM_DESTROY()
    ON_WM_PAINT()
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CFloatWnd::KeyStateReader& CFloatWnd::KeyState() {
    static KeyStateReader reader = [](int key) { return ::GetAsyncKeyState(key); };
    return reader;
}

MenuTracker& CFloatWnd::Tracker() {
    static MenuTracker tracker = [](HMENU menu, UINT flags, int x, int y, HWND owner) {
        return ::TrackPopupMenu(menu, flags, x, y, 0, owner, nullptr);
    };
    return tracker;
}

CFloatWnd::CFloatWnd(CWnd* parent) : CDialog(IDD, parent) {}

CFloatWnd::~CFloatWnd() {
    if (m_hWnd) DestroyWindow();
}

void CFloatWnd::SetTexts(const CString& first, const CString& status) {
    m_strFirst = first;
    m_strStatus = status;
    // Before the window exists a null handle would invalidate the whole desktop.
    if (m_hWnd) Invalidate(TRUE);
}

void CFloatWnd::LoadSetLayeredWindowAttributes(BYTE alpha) {
    using SetAttributesFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
    HMODULE user32 = ::LoadLibraryW(L"User32.DLL");
    if (!user32) return;
    auto set = reinterpret_cast<SetAttributesFn>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "SetLayeredWindowAttributes")));
    if (set) set(m_hWnd, 0, alpha, LWA_ALPHA);
    ::FreeLibrary(user32);
}

BOOL CFloatWnd::OnInitDialog() {
    CDialog::OnInitDialog();
    CenterWindow();
    // The window takes the background's size; without the bitmap it keeps the template's.
    UINT flags = SWP_NOMOVE;
    CSize size;
    if (m_bitmap.LoadBitmap(IDB_BACKGROUND)) {
        m_brush.CreatePatternBrush(m_bitmap);
        size = m_bitmap.GetSize();
    } else {
        flags |= SWP_NOSIZE;
    }
    ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, size.cx, size.cy, flags);
    ModifyStyleEx(0, WS_EX_LAYERED);
    return TRUE;
}

LRESULT CFloatWnd::OnNcHitTest(CPoint point) {
    LRESULT hit = CDialog::OnNcHitTest(point);
    // A press anywhere on the panel drags it, with either button.
    if (hit == HTCLIENT && ((KeyState()(VK_LBUTTON) & 0x8000) || (KeyState()(VK_RBUTTON) & 0x8000))) return HTCAPTION;
    return hit;
}

void CFloatWnd::OnRButtonUp(UINT flags, CPoint point) {
    CMenu menu;
    if (menu.LoadMenu(IDR_MENU)) {
        if (CMenu* popup = menu.GetSubMenu(0)) {
            CPoint at = point;
            ClientToScreen(&at);
            Tracker()(popup->m_hMenu, 0, at.x, at.y, m_hWnd);
        }
    }
    CDialog::OnRButtonUp(flags, point);
}

void CFloatWnd::OnHide() {
    SavePosition();
    ShowWindow(SW_HIDE);
}

void CFloatWnd::OnNcLButtonDblClk(UINT hit, CPoint point) {
    if (CWnd* parent = GetParent()) parent->ShowWindow(parent->IsWindowVisible() ? SW_HIDE : SW_SHOW);
    CDialog::OnNcLButtonDblClk(hit, point);
}

void CFloatWnd::OnDestroy() {
    CDialog::OnDestroy();
    SavePosition();
}

void CFloatWnd::OnPaint() {
    CPaintDC dc(this);
    dc.SetTextColor(kText);
    dc.SetBkMode(TRANSPARENT);
    if (m_strStatus.IsEmpty()) return;
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessage(WM_GETFONT));
    HGDIOBJ old = font ? dc.SelectObject(font) : nullptr;
    dc.TextOut(20, 3, m_strStatus);
    if (old) dc.SelectObject(old);
}

HBRUSH CFloatWnd::OnCtlColor(CDC*, CWnd*, UINT) { return m_brush; }

void CFloatWnd::SavePosition() {
    CRect r;
    GetWindowRect(&r);
    CString value;
    value.Format(L"%d", r.top);
    ::WritePrivateProfileStringW(kSection, L"Top", value, kIniFile);
    value.Format(L"%d", r.left);
    ::WritePrivateProfileStringW(kSection, L"Left", value, kIniFile);
}
