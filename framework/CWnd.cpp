#include "framework/CWnd.h"

#include <memory>
#include <unordered_map>
#include <vector>

#include "framework/AfxControls.h"
#include "framework/CWinApp.h"

namespace {

// One map for the whole process: worker threads reach windows made on the UI thread.
struct HandleMap {
    CRITICAL_SECTION lock;
    std::unordered_map<HWND, CWnd*> map;
    HandleMap() { InitializeCriticalSection(&lock); }
};
HandleMap& Handles() {
    static HandleMap* m = new HandleMap;  // never destroyed: windows may outlive statics
    return *m;
}
struct Locked {
    Locked() { EnterCriticalSection(&Handles().lock); }
    ~Locked() { LeaveCriticalSection(&Handles().lock); }
};

void MapAdd(HWND h, CWnd* w) {
    Locked l;
    Handles().map[h] = w;
}
void MapRemove(HWND h, CWnd* w) {
    Locked l;
    auto it = Handles().map.find(h);
    if (it != Handles().map.end() && it->second == w) Handles().map.erase(it);
}

struct TempWnd : CWnd {
    ~TempWnd() override { m_hWnd = nullptr; }
};

struct ThreadState {
    std::unordered_map<HWND, std::unique_ptr<CWnd>> tempWnds;
    afx_detail::TempGdiObjects tempGdi;
    MSG current{};
    CWnd* initWnd = nullptr;
};
ThreadState& State() {
    thread_local ThreadState s;
    return s;
}

HINSTANCE g_resource = nullptr;

}  // namespace

namespace afx_detail {
TempGdiObjects& ThreadGdiTemps() { return State().tempGdi; }
void DeleteTempObjects() {
    State().tempWnds.clear();
    DeleteTempGdiObjects();
}
}  // namespace afx_detail

HINSTANCE AfxGetInstanceHandle() {
    if (CWinApp* app = AfxGetApp())
        if (app->m_hInstance) return app->m_hInstance;
    return GetModuleHandleW(nullptr);
}
HINSTANCE AfxGetResourceHandle() { return g_resource ? g_resource : AfxGetInstanceHandle(); }
void AfxSetResourceHandle(HINSTANCE module) { g_resource = module; }
HINSTANCE AfxFindResourceHandle(LPCWSTR name, LPCWSTR type) {
    HINSTANCE res = AfxGetResourceHandle();
    if (FindResourceW(res, name, type)) return res;
    return AfxGetInstanceHandle();
}

// ---- handle map ----

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (!hWnd) return nullptr;
    Locked l;
    auto it = Handles().map.find(hWnd);
    return it == Handles().map.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd) return nullptr;
    if (CWnd* w = FromHandlePermanent(hWnd)) return w;
    auto& slot = State().tempWnds[hWnd];
    if (!slot) {
        slot.reset(new TempWnd);
        slot->m_hWnd = hWnd;
    }
    return slot.get();
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd) return FALSE;
    m_hWnd = hWnd;
    MapAdd(hWnd, this);
    return TRUE;
}

HWND CWnd::Detach() {
    HWND h = m_hWnd;
    if (h) MapRemove(h, this);
    m_hWnd = nullptr;
    return h;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!Attach(hWnd)) return FALSE;
    PreSubclassWindow();
    WNDPROC old =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
    if (old != &AfxWndProc) m_pfnSuper = old;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    HWND child = parent ? ::GetDlgItem(parent->m_hWnd, static_cast<int>(id)) : nullptr;
    return child ? SubclassWindow(child) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
    if (m_pfnSuper) SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
    return Detach();
}

CWnd::~CWnd() {
    if (!m_hWnd) return;
    HWND h = m_hWnd;
    if (!m_bDestroying && ::IsWindow(h)) {
        // Only CWnd's own table is reachable now: the derived parts are gone.
        ::DestroyWindow(h);
    }
    if (m_hWnd) {
        // Deleted in the middle of its own destruction: hand the window back to its class.
        if (m_pfnSuper && ::IsWindow(h) && reinterpret_cast<WNDPROC>(GetWindowLongPtrW(h, GWLP_WNDPROC)) == &AfxWndProc)
            SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        if (CWinApp* app = AfxGetApp()) app->ForgetWindow(this);
        Detach();
    }
}

// ---- creation ----

LRESULT CALLBACK AfxCreateHook::Hook(int code, WPARAM wParam, LPARAM lParam) {
    ThreadState& s = State();
    if (code == HCBT_CREATEWND && s.initWnd) {
        CWnd* w = s.initWnd;
        s.initWnd = nullptr;
        HWND h = reinterpret_cast<HWND>(wParam);
        w->Attach(h);
        WNDPROC old =
            reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
        if (old != &AfxWndProc) w->m_pfnSuper = old;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

AfxCreateHook::AfxCreateHook(CWnd* wnd) {
    m_pPrevious = State().initWnd;
    State().initWnd = wnd;
    m_hHook = SetWindowsHookExW(WH_CBT, &AfxCreateHook::Hook, nullptr, GetCurrentThreadId());
}

AfxCreateHook::~AfxCreateHook() {
    if (m_hHook) UnhookWindowsHookEx(m_hHook);
    State().initWnd = m_pPrevious;
}

namespace {
const wchar_t kDefaultClass[] = L"FerrantWnd";
void RegisterDefaultClass() {
    static bool done = [] {
        WNDCLASSEXW wc{sizeof(wc)};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kDefaultClass;
        RegisterClassExW(&wc);
        return true;
    }();
    (void)done;
}
}  // namespace

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                    UINT id, LPVOID param) {
    if (m_hWnd) return FALSE;
    if (!className || !*className) {
        RegisterDefaultClass();
        className = kDefaultClass;
    }
    HWND h;
    {
        AfxCreateHook hook(this);
        h = ::CreateWindowExW(exStyle, className, windowName, style, rect.left, rect.top, rect.right - rect.left,
                              rect.bottom - rect.top, parent ? parent->m_hWnd : nullptr,
                              reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), AfxGetInstanceHandle(), param);
    }
    if (!h && m_hWnd) Detach();
    return h != nullptr;
}

BOOL CWnd::Create(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                  LPVOID param) {
    return CreateEx(0, className, windowName, style | WS_CHILD, rect, parent, id, param);
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    return ::DestroyWindow(m_hWnd);
}

// ---- routing ----

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* w = CWnd::FromHandlePermanent(hWnd);
    if (!w) return ::DefWindowProcW(hWnd, message, wParam, lParam);
    ThreadState& s = State();
    MSG saved = s.current;
    s.current = MSG{hWnd, message, wParam, lParam, 0, {0, 0}};
    if (message == WM_DESTROY) w->m_bDestroying = true;
    LRESULT r = w->WindowProc(message, wParam, lParam);
    s.current = saved;
    if (message == WM_NCDESTROY && CWnd::FromHandlePermanent(hWnd) == w) {
        // The object may delete itself in PostNcDestroy: nothing touches it afterwards.
        if (w->m_pfnSuper) SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(w->m_pfnSuper));
        if (CWinApp* app = AfxGetApp()) app->ForgetWindow(w);
        w->Detach();
        w->m_pfnSuper = nullptr;
        w->m_bDestroying = false;
        w->PostNcDestroy();
    }
    return r;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper) return CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    const MSG& m = State().current;
    return DefWindowProc(m.message, m.wParam, m.lParam);
}

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr, false, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP_ENTRY* CWnd::FindMessageEntry(UINT message, UINT code, UINT id) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfnThunk; ++e) {
            bool same = e->pRegisteredMessage ? *e->pRegisteredMessage == message : e->nMessage == message;
            if (same && e->nCode == code && id >= e->nID && id <= e->nLastID) return e;
        }
    }
    return nullptr;
}

BOOL CWnd::OnCmdMsg(UINT message, UINT code, UINT id, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(message, code, id);
    if (!e) return FALSE;
    LRESULT r = e->pfnThunk(this, message, wParam, lParam);
    if (e->bHandledByResult) {
        if (result) *result = 0;
        return r != 0;
    }
    if (result) *result = r;
    return TRUE;
}

static bool IsCtlColor(UINT m) { return m >= WM_CTLCOLORMSGBOX && m <= WM_CTLCOLORSTATIC; }

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    LRESULT r = 0;
    if (message == WM_COMMAND) {
        if (OnCommand(wParam, lParam)) {
            *result = 0;
            return TRUE;
        }
        return FALSE;
    }
    if (message == WM_NOTIFY) {
        if (OnNotify(wParam, lParam, &r)) {
            *result = r;
            return TRUE;
        }
        return FALSE;
    }
    UINT key = IsCtlColor(message) ? WM_CTLCOLOR : message;
    if (const AFX_MSGMAP_ENTRY* e = FindMessageEntry(key, 0, 0)) {
        *result = e->pfnThunk(this, message, wParam, lParam);
        return TRUE;
    }
    // Without a handler of the parent's own, the child colours and draws itself.
    if (IsCtlColor(message) || message == WM_DRAWITEM || message == WM_MEASUREITEM) {
        HWND child = nullptr;
        if (IsCtlColor(message))
            child = reinterpret_cast<HWND>(lParam);
        else if (message == WM_DRAWITEM) {
            auto* dis = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam);
            if (dis && dis->CtlType != ODT_MENU) child = dis->hwndItem;
        }
        CWnd* c = FromHandlePermanent(child);
        if (c && c->OnChildNotify(message, wParam, lParam, &r)) {
            *result = r;
            return TRUE;
        }
    }
    return FALSE;
}

HBRUSH CWnd::OnCtlColor(CDC*, CWnd* wnd, UINT) {
    const MSG& m = State().current;
    LRESULT r = 0;
    CWnd* c = wnd ? FromHandlePermanent(wnd->m_hWnd) : nullptr;
    if (c && c->OnChildNotify(m.message, m.wParam, m.lParam, &r)) return reinterpret_cast<HBRUSH>(r);
    return reinterpret_cast<HBRUSH>(Default());
}

void CWnd::OnDrawItem(int, LPDRAWITEMSTRUCT dis) {
    const MSG& m = State().current;
    LRESULT r = 0;
    CWnd* c = dis && dis->CtlType != ODT_MENU ? FromHandlePermanent(dis->hwndItem) : nullptr;
    if (c && c->OnChildNotify(m.message, m.wParam, m.lParam, &r)) return;
    Default();
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    UINT id = LOWORD(wParam);
    UINT code = HIWORD(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    if (control) {
        // The control sees its own notification first.
        if (ReflectLastMsg(control)) return TRUE;
    }
    // Menu and accelerator commands carry code 0 or 1; both map to ON_COMMAND entries.
    if (!control && code == 1) code = 0;
    return OnCmdMsg(WM_COMMAND, code, id, wParam, lParam, nullptr);
}

BOOL CWnd::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
    auto* hdr = reinterpret_cast<NMHDR*>(lParam);
    if (!hdr) return FALSE;
    if (hdr->hwndFrom && ReflectLastMsg(hdr->hwndFrom, result)) return TRUE;
    (void)wParam;
    return OnCmdMsg(WM_NOTIFY, hdr->code, static_cast<UINT>(hdr->idFrom), wParam, lParam, result);
}

BOOL CWnd::ReflectLastMsg(HWND child, LRESULT* result) {
    CWnd* c = FromHandlePermanent(child);
    if (!c) return FALSE;
    const MSG& m = State().current;
    LRESULT r = 0;
    BOOL handled = c->OnChildNotify(m.message, m.wParam, m.lParam, &r);
    if (handled && result) *result = r;
    return handled;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    return ReflectChildNotify(message, wParam, lParam, result);
}

BOOL CWnd::ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == WM_COMMAND) {
        return OnCmdMsg(WM_REFLECT_BASE + WM_COMMAND, HIWORD(wParam), 0, wParam, lParam, result);
    }
    if (message == WM_NOTIFY) {
        auto* hdr = reinterpret_cast<NMHDR*>(lParam);
        return OnCmdMsg(WM_REFLECT_BASE + WM_NOTIFY, hdr->code, 0, wParam, lParam, result);
    }
    if (IsCtlColor(message)) {
        const AFX_MSGMAP_ENTRY* e = FindMessageEntry(WM_REFLECT_BASE + WM_CTLCOLOR, 0, 0);
        if (!e) return FALSE;
        LRESULT r = e->pfnThunk(this, message - WM_CTLCOLORMSGBOX, wParam, lParam);
        if (!r) return FALSE;  // a null brush lets the parent's default colour the child
        *result = r;
        return TRUE;
    }
    if (message == WM_DRAWITEM || message == WM_MEASUREITEM) {
        const AFX_MSGMAP_ENTRY* e = FindMessageEntry(WM_REFLECT_BASE + message, 0, 0);
        if (!e) return FALSE;
        *result = e->pfnThunk(this, message, wParam, lParam);
        return TRUE;
    }
    return FALSE;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

BOOL CWnd::WalkPreTranslateTree(HWND stop, MSG* msg) {
    for (HWND h = msg->hwnd; h; h = ::GetParent(h)) {
        CWnd* w = FromHandlePermanent(h);
        if (w && w->PreTranslateMessage(msg)) return TRUE;
        if (h == stop) break;
    }
    return FALSE;
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (CUserException* e) {
        e->Delete();
        return FALSE;
    }
    return TRUE;
}

// ---- helpers ----

void CWnd::GetWindowText(CString& text) const {
    int n = ::GetWindowTextLengthW(m_hWnd);
    std::wstring buf(static_cast<size_t>(n) + 1, L'\0');
    int got = ::GetWindowTextW(m_hWnd, &buf[0], n + 1);
    text = CString(buf.c_str(), got);
}

void CWnd::GetDlgItemText(int id, CString& text) const {
    HWND h = ::GetDlgItem(m_hWnd, id);
    text.Empty();
    if (h) FromHandle(h)->GetWindowText(text);
}

CWnd* CWnd::GetTopLevelParent() const {
    HWND h = m_hWnd;
    while (h && (::GetWindowLongW(h, GWL_STYLE) & WS_CHILD)) h = ::GetParent(h);
    return FromHandle(h);
}

namespace {
// GWL_STYLE or GWL_EXSTYLE; flags other than 0 ask for a SetWindowPos so the frame follows.
BOOL ModifyStyleBits(HWND hWnd, int which, DWORD remove, DWORD add, UINT flags) {
    DWORD style = static_cast<DWORD>(::GetWindowLongW(hWnd, which));
    DWORD next = (style & ~remove) | add;
    if (style == next) return FALSE;
    ::SetWindowLongW(hWnd, which, static_cast<LONG>(next));
    if (flags)
        ::SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | flags);
    return TRUE;
}
}  // namespace

BOOL CWnd::ModifyStyle(HWND hWnd, DWORD remove, DWORD add, UINT flags) {
    return ModifyStyleBits(hWnd, GWL_STYLE, remove, add, flags);
}

BOOL CWnd::ModifyStyleEx(HWND hWnd, DWORD remove, DWORD add, UINT flags) {
    return ModifyStyleBits(hWnd, GWL_EXSTYLE, remove, add, flags);
}

CMenu* CWnd::GetSystemMenu(BOOL revert) const { return CMenu::FromHandle(::GetSystemMenu(m_hWnd, revert)); }
CMenu* CWnd::GetMenu() const { return CMenu::FromHandle(::GetMenu(m_hWnd)); }

void CWnd::CenterWindow(CWnd* alternate) {
    CRect area;
    HWND around = alternate ? alternate->m_hWnd : ::GetParent(m_hWnd);
    if (around && ::IsWindowVisible(around) && !::IsIconic(around))
        ::GetWindowRect(around, &area);
    else
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    CRect me;
    GetWindowRect(&me);
    int x = area.left + (area.Width() - me.Width()) / 2;
    int y = area.top + (area.Height() - me.Height()) / 2;
    if (GetStyle() & WS_CHILD) {
        POINT p{x, y};
        ::ScreenToClient(::GetParent(m_hWnd), &p);
        x = p.x;
        y = p.y;
    }
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
