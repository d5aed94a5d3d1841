// CWnd, AFX_MSGMAP_ENTRY, AFX_MSGMAP, AfxCreateHook: windows with one process-wide
// handle-to-object map, objects attached at creation time by a CBT hook (so
// WM_NCCREATE/WM_NCCALCSIZE/WM_CREATE reach them), message maps as static tables chained to the
// base class's, and notification reflection in the framework's order.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/AfxGdi.h"
#include "framework/CDataExchange.h"
#include "framework/CString.h"

class CWnd;
class CMenu;

#ifndef WM_CTLCOLOR
#define WM_CTLCOLOR 0x0019
#endif
// Reflected messages are offered to the child under this offset.
#define WM_REFLECT_BASE 0xBC00

#define afx_msg

// One message-map entry. The thunk unpacks the message and calls the handler; for the
// "EX" kind its result says whether the message counts as handled.
struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // 0 ends the table
    UINT nCode;     // notification code for WM_COMMAND / WM_NOTIFY entries
    UINT nID;
    UINT nLastID;
    LRESULT (*pfnThunk)(CWnd* self, UINT message, WPARAM wParam, LPARAM lParam);
    bool bHandledByResult;
    const UINT* pRegisteredMessage;  // ON_REGISTERED_MESSAGE
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// The message-map macros read as a table: the formatter leaves them as written.
// clang-format off
#define DECLARE_MESSAGE_MAP()                              \
protected:                                                 \
    static const AFX_MSGMAP* GetThisMessageMap();          \
    const AFX_MSGMAP* GetMessageMap() const override;      \
                                                           \
private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                     \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                               \
        using ThisClass = theClass;                                                 \
        using TheBaseClass = baseClass;                                             \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                           \
            {0, 0, 0, 0, nullptr, false, nullptr}};                                 \
        static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries};  \
        return &map;                                                                \
    }

#define AFX_THUNK(body) \
    [](CWnd* self_, UINT message_, WPARAM wParam_, LPARAM lParam_) -> LRESULT { \
        (void)message_; (void)wParam_; (void)lParam_;                            \
        ThisClass* t_ = static_cast<ThisClass*>(self_); (void)t_;               \
        body }
#define AFX_SELF t_
#define AFX_WP wParam_
#define AFX_LP lParam_
#define AFX_MSG message_

#define AFX_MSG_ENTRY(msg, body) {msg, 0, 0, 0, AFX_THUNK(body), false, nullptr},

// Message-handler entries with their handlers' signatures.
#define ON_MESSAGE(msg, fn) \
    AFX_MSG_ENTRY(msg, { LRESULT (ThisClass::*f_)(WPARAM, LPARAM) = fn; return (t_->*f_)(wParam_, lParam_); })
#define ON_REGISTERED_MESSAGE(var, fn) \
    {0xC000, 0, 0, 0, AFX_THUNK({ LRESULT (ThisClass::*f_)(WPARAM, LPARAM) = fn; return (t_->*f_)(wParam_, lParam_); }), false, &var},
#define ON_COMMAND(id, fn) \
    {WM_COMMAND, 0, (UINT)(id), (UINT)(id), AFX_THUNK({ void (ThisClass::*f_)() = fn; (t_->*f_)(); return 1; }), false, nullptr},
#define ON_COMMAND_RANGE(id, last, fn) \
    {WM_COMMAND, 0, (UINT)(id), (UINT)(last), AFX_THUNK({ void (ThisClass::*f_)(UINT) = fn; (t_->*f_)(LOWORD(wParam_)); return 1; }), false, nullptr},
#define ON_CONTROL(code, id, fn) \
    {WM_COMMAND, (UINT)(code), (UINT)(id), (UINT)(id), AFX_THUNK({ void (ThisClass::*f_)() = fn; (t_->*f_)(); return 1; }), false, nullptr},
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_BN_DOUBLECLICKED(id, fn) ON_CONTROL(BN_DOUBLECLICKED, id, fn)
#define ON_STN_CLICKED(id, fn) ON_CONTROL(STN_CLICKED, id, fn)
#define ON_STN_DBLCLK(id, fn) ON_CONTROL(STN_DBLCLK, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_NOTIFY(code, id, fn) \
    {WM_NOTIFY, (UINT)(code), (UINT)(id), (UINT)(id), AFX_THUNK({ \
        void (ThisClass::*f_)(NMHDR*, LRESULT*) = fn; LRESULT r_ = 0; \
        (t_->*f_)(reinterpret_cast<NMHDR*>(lParam_), &r_); return r_; }), false, nullptr},
#define ON_CONTROL_REFLECT(code, fn) \
    {WM_REFLECT_BASE + WM_COMMAND, (UINT)(code), 0, 0, AFX_THUNK({ void (ThisClass::*f_)() = fn; (t_->*f_)(); return 1; }), false, nullptr},
// The handler's BOOL says whether the parent is spared the notification.
#define ON_CONTROL_REFLECT_EX(code, fn) \
    {WM_REFLECT_BASE + WM_COMMAND, (UINT)(code), 0, 0, AFX_THUNK({ BOOL (ThisClass::*f_)() = fn; return (t_->*f_)() ? 1 : 0; }), true, nullptr},
#define ON_NOTIFY_REFLECT(code, fn) \
    {WM_REFLECT_BASE + WM_NOTIFY, (UINT)(code), 0, 0, AFX_THUNK({ \
        void (ThisClass::*f_)(NMHDR*, LRESULT*) = fn; LRESULT r_ = 0; \
        (t_->*f_)(reinterpret_cast<NMHDR*>(lParam_), &r_); return r_; }), false, nullptr},

#define AFX_POINT CPoint(lParam_)
#define ON_WM_CREATE() AFX_MSG_ENTRY(WM_CREATE, { return t_->OnCreate(reinterpret_cast<LPCREATESTRUCTW>(lParam_)); })
#define ON_WM_NCCREATE() AFX_MSG_ENTRY(WM_NCCREATE, { return t_->OnNcCreate(reinterpret_cast<LPCREATESTRUCTW>(lParam_)); })
#define ON_WM_DESTROY() AFX_MSG_ENTRY(WM_DESTROY, { t_->OnDestroy(); return 0; })
#define ON_WM_NCDESTROY() AFX_MSG_ENTRY(WM_NCDESTROY, { t_->OnNcDestroy(); return 0; })
#define ON_WM_CLOSE() AFX_MSG_ENTRY(WM_CLOSE, { t_->OnClose(); return 0; })
#define ON_WM_PAINT() AFX_MSG_ENTRY(WM_PAINT, { t_->OnPaint(); return 0; })
#define ON_WM_NCPAINT() AFX_MSG_ENTRY(WM_NCPAINT, { t_->OnNcPaint(); return 0; })
#define ON_WM_ERASEBKGND() AFX_MSG_ENTRY(WM_ERASEBKGND, { return t_->OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(wParam_))); })
#define ON_WM_SIZE() AFX_MSG_ENTRY(WM_SIZE, { t_->OnSize((UINT)wParam_, (short)LOWORD(lParam_), (short)HIWORD(lParam_)); return 0; })
#define ON_WM_SIZING() AFX_MSG_ENTRY(WM_SIZING, { t_->OnSizing((UINT)wParam_, reinterpret_cast<LPRECT>(lParam_)); return TRUE; })
#define ON_WM_MOVE() AFX_MSG_ENTRY(WM_MOVE, { t_->OnMove((short)LOWORD(lParam_), (short)HIWORD(lParam_)); return 0; })
#define ON_WM_ACTIVATE() AFX_MSG_ENTRY(WM_ACTIVATE, { t_->OnActivate(LOWORD(wParam_), CWnd::FromHandle(reinterpret_cast<HWND>(lParam_)), HIWORD(wParam_)); return 0; })
#define ON_WM_NCACTIVATE() AFX_MSG_ENTRY(WM_NCACTIVATE, { return t_->OnNcActivate((BOOL)wParam_); })
#define ON_WM_NCCALCSIZE() AFX_MSG_ENTRY(WM_NCCALCSIZE, { t_->OnNcCalcSize((BOOL)wParam_, reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam_)); return 0; })
#define ON_WM_NCHITTEST() AFX_MSG_ENTRY(WM_NCHITTEST, { return t_->OnNcHitTest(AFX_POINT); })
#define ON_WM_NCMOUSEMOVE() AFX_MSG_ENTRY(WM_NCMOUSEMOVE, { t_->OnNcMouseMove((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_NCLBUTTONDOWN() AFX_MSG_ENTRY(WM_NCLBUTTONDOWN, { t_->OnNcLButtonDown((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_NCLBUTTONUP() AFX_MSG_ENTRY(WM_NCLBUTTONUP, { t_->OnNcLButtonUp((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_NCLBUTTONDBLCLK() AFX_MSG_ENTRY(WM_NCLBUTTONDBLCLK, { t_->OnNcLButtonDblClk((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_NCRBUTTONDOWN() AFX_MSG_ENTRY(WM_NCRBUTTONDOWN, { t_->OnNcRButtonDown((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_NCRBUTTONUP() AFX_MSG_ENTRY(WM_NCRBUTTONUP, { t_->OnNcRButtonUp((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_MOUSEMOVE() AFX_MSG_ENTRY(WM_MOUSEMOVE, { t_->OnMouseMove((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_LBUTTONDOWN() AFX_MSG_ENTRY(WM_LBUTTONDOWN, { t_->OnLButtonDown((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_LBUTTONUP() AFX_MSG_ENTRY(WM_LBUTTONUP, { t_->OnLButtonUp((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_LBUTTONDBLCLK() AFX_MSG_ENTRY(WM_LBUTTONDBLCLK, { t_->OnLButtonDblClk((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_RBUTTONDOWN() AFX_MSG_ENTRY(WM_RBUTTONDOWN, { t_->OnRButtonDown((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_RBUTTONUP() AFX_MSG_ENTRY(WM_RBUTTONUP, { t_->OnRButtonUp((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_RBUTTONDBLCLK() AFX_MSG_ENTRY(WM_RBUTTONDBLCLK, { t_->OnRButtonDblClk((UINT)wParam_, AFX_POINT); return 0; })
#define ON_WM_MOUSEWHEEL() AFX_MSG_ENTRY(WM_MOUSEWHEEL, { return t_->OnMouseWheel(LOWORD(wParam_), (short)HIWORD(wParam_), AFX_POINT); })
#define ON_WM_MOUSELEAVE() AFX_MSG_ENTRY(WM_MOUSELEAVE, { t_->OnMouseLeave(); return 0; })
#define ON_WM_SETCURSOR() AFX_MSG_ENTRY(WM_SETCURSOR, { return t_->OnSetCursor(CWnd::FromHandle(reinterpret_cast<HWND>(wParam_)), LOWORD(lParam_), HIWORD(lParam_)); })
#define ON_WM_SETFOCUS() AFX_MSG_ENTRY(WM_SETFOCUS, { t_->OnSetFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wParam_))); return 0; })
#define ON_WM_KILLFOCUS() AFX_MSG_ENTRY(WM_KILLFOCUS, { t_->OnKillFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wParam_))); return 0; })
#define ON_WM_KEYDOWN() AFX_MSG_ENTRY(WM_KEYDOWN, { t_->OnKeyDown((UINT)wParam_, LOWORD(lParam_), HIWORD(lParam_)); return 0; })
#define ON_WM_SYSKEYDOWN() AFX_MSG_ENTRY(WM_SYSKEYDOWN, { t_->OnSysKeyDown((UINT)wParam_, LOWORD(lParam_), HIWORD(lParam_)); return 0; })
#define ON_WM_TIMER() AFX_MSG_ENTRY(WM_TIMER, { t_->OnTimer((UINT_PTR)wParam_); return 0; })
#define ON_WM_SHOWWINDOW() AFX_MSG_ENTRY(WM_SHOWWINDOW, { t_->OnShowWindow((BOOL)wParam_, (UINT)lParam_); return 0; })
#define ON_WM_SYSCOMMAND() AFX_MSG_ENTRY(WM_SYSCOMMAND, { t_->OnSysCommand((UINT)wParam_, lParam_); return 0; })
#define ON_WM_SYSCOLORCHANGE() AFX_MSG_ENTRY(WM_SYSCOLORCHANGE, { t_->OnSysColorChange(); return 0; })
#define ON_WM_ENABLE() AFX_MSG_ENTRY(WM_ENABLE, { t_->OnEnable((BOOL)wParam_); return 0; })
#define ON_WM_CANCELMODE() AFX_MSG_ENTRY(WM_CANCELMODE, { t_->OnCancelMode(); return 0; })
#define ON_WM_GETDLGCODE() AFX_MSG_ENTRY(WM_GETDLGCODE, { return t_->OnGetDlgCode(); })
#define ON_WM_COPYDATA() AFX_MSG_ENTRY(WM_COPYDATA, { return t_->OnCopyData(CWnd::FromHandle(reinterpret_cast<HWND>(wParam_)), reinterpret_cast<COPYDATASTRUCT*>(lParam_)); })
#define ON_WM_WINDOWPOSCHANGING() AFX_MSG_ENTRY(WM_WINDOWPOSCHANGING, { t_->OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(lParam_)); return 0; })
#define ON_WM_GETMINMAXINFO() AFX_MSG_ENTRY(WM_GETMINMAXINFO, { t_->OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam_)); return 0; })
#define ON_WM_VSCROLL() AFX_MSG_ENTRY(WM_VSCROLL, { t_->OnVScroll(LOWORD(wParam_), (short)HIWORD(wParam_), CWnd::FromHandle(reinterpret_cast<HWND>(lParam_))); return 0; })
#define ON_WM_QUERYDRAGICON() AFX_MSG_ENTRY(WM_QUERYDRAGICON, { return reinterpret_cast<LRESULT>(t_->OnQueryDragIcon()); })
#define ON_WM_DRAWITEM() AFX_MSG_ENTRY(WM_DRAWITEM, { t_->OnDrawItem((int)wParam_, reinterpret_cast<LPDRAWITEMSTRUCT>(lParam_)); return TRUE; })
#define ON_WM_INITMENUPOPUP() AFX_MSG_ENTRY(WM_INITMENUPOPUP, { t_->OnInitMenuPopup(CMenu::FromHandle(reinterpret_cast<HMENU>(wParam_)), LOWORD(lParam_), HIWORD(lParam_)); return 0; })
// Every WM_CTLCOLOR* message goes to the one OnCtlColor, with the kind as nCtlColor.
#define ON_WM_CTLCOLOR() AFX_MSG_ENTRY(WM_CTLCOLOR, { \
    return reinterpret_cast<LRESULT>(t_->OnCtlColor(CDC::FromHandle(reinterpret_cast<HDC>(wParam_)), \
        CWnd::FromHandle(reinterpret_cast<HWND>(lParam_)), message_ - WM_CTLCOLORMSGBOX)); })
#define ON_WM_CTLCOLOR_REFLECT() AFX_MSG_ENTRY(WM_REFLECT_BASE + WM_CTLCOLOR, { \
    return reinterpret_cast<LRESULT>(t_->CtlColor(CDC::FromHandle(reinterpret_cast<HDC>(wParam_)), message_)); })
// clang-format on

class CWinApp;

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    // Destroys a still-existing window; derived handlers are no longer reached by then.
    virtual ~CWnd();

    HWND m_hWnd = nullptr;
    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The object attached to hWnd, or a temporary wrapper (freed at the thread's next idle).
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);
    BOOL Attach(HWND hWnd);
    HWND Detach();
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();

    BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                  UINT id, LPVOID param = nullptr);
    virtual BOOL Create(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                        LPVOID param = nullptr);
    virtual BOOL DestroyWindow();

    // Routing
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual void PreSubclassWindow() {}
    virtual void PostNcDestroy() {}
    virtual void DoDataExchange(CDataExchange*) {}
    BOOL ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    static BOOL ReflectLastMsg(HWND child, LRESULT* result = nullptr);
    // The current message given to the saved procedure.
    LRESULT Default();
    // Offers msg to PreTranslateMessage of each window from msg's own up to (and including) stop.
    static BOOL WalkPreTranslateTree(HWND stop, MSG* msg);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Wrappers; every one is a plain call on the handle, so any thread may use them.
    LRESULT SendMessage(UINT m, WPARAM w = 0, LPARAM l = 0) const { return ::SendMessageW(m_hWnd, m, w, l); }
    BOOL PostMessage(UINT m, WPARAM w = 0, LPARAM l = 0) const { return ::PostMessageW(m_hWnd, m, w, l); }
    BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
    void MoveWindow(int x, int y, int w, int h, BOOL repaint = TRUE) { ::MoveWindow(m_hWnd, x, y, w, h, repaint); }
    void MoveWindow(LPCRECT r, BOOL repaint = TRUE) {
        MoveWindow(r->left, r->top, r->right - r->left, r->bottom - r->top, repaint);
    }
    BOOL SetWindowPos(const CWnd* after, int x, int y, int cx, int cy, UINT flags) {
        return ::SetWindowPos(m_hWnd, after ? after->m_hWnd : nullptr, x, y, cx, cy, flags);
    }
    void GetWindowRect(LPRECT r) const { ::GetWindowRect(m_hWnd, r); }
    void GetClientRect(LPRECT r) const { ::GetClientRect(m_hWnd, r); }
    void ScreenToClient(LPPOINT p) const { ::ScreenToClient(m_hWnd, p); }
    void ScreenToClient(LPRECT r) const { ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<LPPOINT>(r), 2); }
    void ClientToScreen(LPPOINT p) const { ::ClientToScreen(m_hWnd, p); }
    void ClientToScreen(LPRECT r) const { ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<LPPOINT>(r), 2); }
    void SetWindowText(LPCWSTR text) { ::SetWindowTextW(m_hWnd, text); }
    void GetWindowText(CString& text) const;
    CString GetWindowText() const {
        CString s;
        GetWindowText(s);
        return s;
    }
    int GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
    CWnd* GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }
    void GetDlgItemText(int id, CString& text) const;
    void SetDlgItemText(int id, LPCWSTR text) { ::SetDlgItemTextW(m_hWnd, id, text); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    void CheckDlgButton(int id, UINT check) { ::CheckDlgButton(m_hWnd, id, check); }
    UINT IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }
    CWnd* GetNextDlgTabItem(CWnd* ctl, BOOL previous = FALSE) const {
        return FromHandle(::GetNextDlgTabItem(m_hWnd, ctl ? ctl->m_hWnd : nullptr, previous));
    }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL IsZoomed() const { return ::IsZoomed(m_hWnd); }
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    void InvalidateRect(LPCRECT r, BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, r, erase); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    BOOL RedrawWindow(LPCRECT r = nullptr, HRGN rgn = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE) {
        return ::RedrawWindow(m_hWnd, r, rgn, flags);
    }
    CWnd* SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
    static CWnd* GetFocus() { return FromHandle(::GetFocus()); }
    static CWnd* GetActiveWindow() { return FromHandle(::GetActiveWindow()); }
    static CWnd* GetForegroundWindow() { return FromHandle(::GetForegroundWindow()); }
    static CWnd* WindowFromPoint(POINT p) { return FromHandle(::WindowFromPoint(p)); }
    static CWnd* GetDesktopWindow() { return FromHandle(::GetDesktopWindow()); }
    static CWnd* FindWindow(LPCWSTR cls, LPCWSTR name) { return FromHandle(::FindWindowW(cls, name)); }
    CWnd* SetActiveWindow() { return FromHandle(::SetActiveWindow(m_hWnd)); }
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
    void BringWindowToTop() { ::BringWindowToTop(m_hWnd); }
    CWnd* SetCapture() { return FromHandle(::SetCapture(m_hWnd)); }
    CWnd* GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
    CWnd* GetOwner() const { return FromHandle(::GetWindow(m_hWnd, GW_OWNER)); }
    CWnd* GetTopLevelParent() const;
    CWnd* SetParent(CWnd* parent) { return FromHandle(::SetParent(m_hWnd, parent ? parent->m_hWnd : nullptr)); }
    CWnd* GetWindow(UINT cmd) const { return FromHandle(::GetWindow(m_hWnd, cmd)); }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE)); }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0) { return ModifyStyle(m_hWnd, remove, add, flags); }
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0) { return ModifyStyleEx(m_hWnd, remove, add, flags); }
    static BOOL ModifyStyle(HWND hWnd, DWORD remove, DWORD add, UINT flags);
    static BOOL ModifyStyleEx(HWND hWnd, DWORD remove, DWORD add, UINT flags);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr) {
        return ::SetTimer(m_hWnd, id, elapse, proc);
    }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    void SetFont(CFont* font, BOOL redraw = TRUE) {
        SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font ? font->m_hObject : nullptr), redraw);
    }
    CFont* GetFont() const { return CFont::FromHandle(reinterpret_cast<HFONT>(SendMessage(WM_GETFONT))); }
    HICON SetIcon(HICON icon, BOOL big) {
        return reinterpret_cast<HICON>(SendMessage(WM_SETICON, big, reinterpret_cast<LPARAM>(icon)));
    }
    CDC* GetDC() { return CDC::FromHandle(::GetDC(m_hWnd)); }
    CDC* GetWindowDC() { return CDC::FromHandle(::GetWindowDC(m_hWnd)); }
    int ReleaseDC(CDC* dc) { return ::ReleaseDC(m_hWnd, dc ? dc->m_hDC : nullptr); }
    int SetWindowRgn(HRGN rgn, BOOL redraw) { return ::SetWindowRgn(m_hWnd, rgn, redraw); }
    CMenu* GetSystemMenu(BOOL revert) const;
    CMenu* GetMenu() const;
    void CenterWindow(CWnd* alternate = nullptr);
    int MessageBox(LPCWSTR text, LPCWSTR caption = nullptr, UINT type = MB_OK) {
        return ::MessageBoxW(m_hWnd, text, caption, type);
    }
    BOOL IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }
    BOOL GetScrollInfo(int bar, LPSCROLLINFO info, UINT mask = SIF_ALL) const {
        info->cbSize = sizeof(SCROLLINFO);
        info->fMask = mask;
        return ::GetScrollInfo(m_hWnd, bar, info);
    }
    BOOL SetScrollInfo(int bar, LPSCROLLINFO info, BOOL redraw = TRUE) {
        info->cbSize = sizeof(SCROLLINFO);
        return ::SetScrollInfo(m_hWnd, bar, info, redraw);
    }
    int GetScrollPos(int bar) const { return ::GetScrollPos(m_hWnd, bar); }
    int SetScrollPos(int bar, int pos, BOOL redraw = TRUE) { return ::SetScrollPos(m_hWnd, bar, pos, redraw); }
    void GetScrollRange(int bar, LPINT minPos, LPINT maxPos) const { ::GetScrollRange(m_hWnd, bar, minPos, maxPos); }
    void ScrollWindow(int dx, int dy, LPCRECT rect = nullptr, LPCRECT clip = nullptr) {
        ::ScrollWindow(m_hWnd, dx, dy, rect, clip);
    }

    // Default handlers: the saved procedure, except where noted.
    afx_msg int OnCreate(LPCREATESTRUCTW) { return static_cast<int>(Default()); }
    afx_msg BOOL OnNcCreate(LPCREATESTRUCTW) { return static_cast<BOOL>(Default()); }
    afx_msg void OnDestroy() { Default(); }
    afx_msg void OnNcDestroy() { Default(); }
    afx_msg void OnClose() { Default(); }
    afx_msg void OnPaint() { Default(); }
    afx_msg void OnNcPaint() { Default(); }
    afx_msg BOOL OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }
    afx_msg void OnSize(UINT, int, int) { Default(); }
    afx_msg void OnSizing(UINT, LPRECT) { Default(); }
    afx_msg void OnMove(int, int) { Default(); }
    afx_msg void OnActivate(UINT, CWnd*, BOOL) { Default(); }
    afx_msg BOOL OnNcActivate(BOOL) { return static_cast<BOOL>(Default()); }
    afx_msg void OnNcCalcSize(BOOL, NCCALCSIZE_PARAMS*) { Default(); }
    afx_msg LRESULT OnNcHitTest(CPoint) { return Default(); }
    afx_msg void OnNcMouseMove(UINT, CPoint) { Default(); }
    afx_msg void OnNcLButtonDown(UINT, CPoint) { Default(); }
    afx_msg void OnNcLButtonUp(UINT, CPoint) { Default(); }
    afx_msg void OnNcLButtonDblClk(UINT, CPoint) { Default(); }
    afx_msg void OnNcRButtonDown(UINT, CPoint) { Default(); }
    afx_msg void OnNcRButtonUp(UINT, CPoint) { Default(); }
    afx_msg void OnMouseMove(UINT, CPoint) { Default(); }
    afx_msg void OnLButtonDown(UINT, CPoint) { Default(); }
    afx_msg void OnLButtonUp(UINT, CPoint) { Default(); }
    afx_msg void OnLButtonDblClk(UINT, CPoint) { Default(); }
    afx_msg void OnRButtonDown(UINT, CPoint) { Default(); }
    afx_msg void OnRButtonUp(UINT, CPoint) { Default(); }
    afx_msg void OnRButtonDblClk(UINT, CPoint) { Default(); }
    afx_msg BOOL OnMouseWheel(UINT, short, CPoint) { return static_cast<BOOL>(Default()); }
    afx_msg void OnMouseLeave() { Default(); }
    afx_msg BOOL OnSetCursor(CWnd*, UINT, UINT) { return static_cast<BOOL>(Default()); }
    afx_msg void OnSetFocus(CWnd*) { Default(); }
    afx_msg void OnKillFocus(CWnd*) { Default(); }
    afx_msg void OnKeyDown(UINT, UINT, UINT) { Default(); }
    afx_msg void OnSysKeyDown(UINT, UINT, UINT) { Default(); }
    afx_msg void OnTimer(UINT_PTR) { Default(); }
    afx_msg void OnShowWindow(BOOL, UINT) { Default(); }
    afx_msg void OnSysCommand(UINT, LPARAM) { Default(); }
    afx_msg void OnSysColorChange() { Default(); }
    afx_msg void OnEnable(BOOL) { Default(); }
    afx_msg void OnCancelMode() { Default(); }
    afx_msg UINT OnGetDlgCode() { return static_cast<UINT>(Default()); }
    afx_msg BOOL OnCopyData(CWnd*, COPYDATASTRUCT*) { return static_cast<BOOL>(Default()); }
    afx_msg void OnWindowPosChanging(WINDOWPOS*) { Default(); }
    afx_msg void OnGetMinMaxInfo(MINMAXINFO*) { Default(); }
    afx_msg void OnVScroll(UINT, UINT, CWnd*) { Default(); }
    afx_msg HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
    afx_msg void OnInitMenuPopup(CMenu*, UINT, BOOL) { Default(); }
    // Offered to the child first (its reflected WM_CTLCOLOR / owner draw), then the default.
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);
    afx_msg void OnDrawItem(int id, LPDRAWITEMSTRUCT dis);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }
    // Searches this class's map chain for a plain message entry.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT message, UINT code, UINT id) const;
    BOOL OnCmdMsg(UINT message, UINT code, UINT id, WPARAM wParam, LPARAM lParam, LRESULT* result);

    WNDPROC m_pfnSuper = nullptr;

    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend struct AfxCreateHook;
    friend class CDialog;
    // Window handle is being torn down (WM_DESTROY seen).
    bool m_bDestroying = false;
};

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Attaches wnd to the first window the calling thread creates while the object lives.
struct AfxCreateHook {
    explicit AfxCreateHook(CWnd* wnd);
    ~AfxCreateHook();
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK m_hHook;
    CWnd* m_pPrevious;
};

HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE module);
// The module that holds the resource of that type and id: the resource module, else the program.
HINSTANCE AfxFindResourceHandle(LPCWSTR name, LPCWSTR type);

namespace afx_detail {
// Frees the calling thread's temporary wrappers (windows, GDI objects and DCs made by FromHandle).
void DeleteTempObjects();
}  // namespace afx_detail
