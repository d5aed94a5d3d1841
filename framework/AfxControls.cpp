#include "framework/AfxControls.h"

#include <memory>
#include <unordered_map>

namespace {
// Temporary menu wrappers, kept per thread like the window ones.
// Temporary wrappers never own the menu: the deleter detaches first.
struct Detaching {
    void operator()(CMenu* m) const {
        m->Detach();
        delete m;
    }
};
std::unordered_map<HMENU, std::unique_ptr<CMenu, Detaching>>& TempMenus() {
    thread_local std::unordered_map<HMENU, std::unique_ptr<CMenu, Detaching>> m;
    return m;
}
}  // namespace

CMenu* CMenu::FromHandle(HMENU h) {
    if (!h) return nullptr;
    auto& slot = TempMenus()[h];
    if (!slot) {
        slot.reset(new CMenu);
        slot->m_hMenu = h;
    }
    return slot.get();
}

BOOL CMenu::LoadMenu(UINT id) {
    LPCWSTR name = MAKEINTRESOURCEW(id);
    return Attach(::LoadMenuW(AfxFindResourceHandle(name, RT_MENU), name));
}

void CComboBox::GetLBText(int i, CString& text) const {
    int n = static_cast<int>(SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(i)));
    text.Empty();
    if (n <= 0) return;
    std::wstring buf(static_cast<size_t>(n) + 1, L'\0');
    int got = static_cast<int>(SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&buf[0])));
    if (got > 0) text = CString(buf.c_str(), got);
}

BOOL CToolTipCtrl::Create(CWnd* owner, DWORD style) {
    static const bool init = [] {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)init;
    CRect none;
    return CreateEx(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP | style, none,
                    owner, 0);
}

void CToolTipCtrl::FillInfo(TOOLINFOW& ti, CWnd* wnd, UINT_PTR id) const {
    ti = TOOLINFOW{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = wnd ? wnd->m_hWnd : nullptr;
    if (id == 0 && wnd) {
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.uId = reinterpret_cast<UINT_PTR>(wnd->m_hWnd);
        if (HWND parent = ::GetParent(wnd->m_hWnd)) ti.hwnd = parent;
    } else {
        ti.uId = id;
    }
}

BOOL CToolTipCtrl::AddTool(CWnd* wnd, LPCWSTR text, LPCRECT rect, UINT_PTR id) {
    TOOLINFOW ti;
    FillInfo(ti, wnd, id);
    if (rect) ti.rect = *rect;
    ti.lpszText = const_cast<LPWSTR>(text ? text : LPSTR_TEXTCALLBACKW);
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)));
}

void CToolTipCtrl::UpdateTipText(LPCWSTR text, CWnd* wnd, UINT_PTR id) {
    TOOLINFOW ti;
    FillInfo(ti, wnd, id);
    ti.lpszText = const_cast<LPWSTR>(text);
    SendMessage(TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CToolTipCtrl::DelTool(CWnd* wnd, UINT_PTR id) {
    TOOLINFOW ti;
    FillInfo(ti, wnd, id);
    SendMessage(TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}
