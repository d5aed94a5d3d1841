#include "controls/CHyperLinker.h"

BEGIN_MESSAGE_MAP(CHyperLinker, CStatic)
    ON_WM_MOUSEMOVE()
    ON_WM_LBUTTONDOWN()
    ON_WM_SETCURSOR()
    ON_WM_CTLCOLOR_REFLECT()
    ON_MESSAGE(WM_CAPTURECHANGED, &CHyperLinker::OnCaptureChanged)
    ON_WM_SHOWWINDOW()
    ON_MESSAGE(WM_WINDOWPOSCHANGED, &CHyperLinker::OnWindowPosChanged)
END_MESSAGE_MAP()

CHyperLinker::CHyperLinker() = default;
CHyperLinker::~CHyperLinker() = default;

void CHyperLinker::SetLinkStyle(const CString& text, BOOL underline, COLORREF normal, COLORREF visited,
                                COLORREF hover) {
    m_linkText = text;
    m_underline = underline;
    m_normal = normal;
    m_visitedColor = visited;
    m_hoverColor = hover;
}

void CHyperLinker::SetLinkText(const CString& text) {
    if (!IsWindow()) return;
    ShowWindow(SW_HIDE);
    SetWindowText(text);
    ShowWindow(SW_SHOW);
}

HCURSOR CHyperLinker::LinkCursor(HINSTANCE module) {
    LPCWSTR name = MAKEINTRESOURCEW(IDC_LINK_CURSOR);
    if (!module) module = AfxFindResourceHandle(name, RT_GROUP_CURSOR);
    HCURSOR cursor = module ? LoadCursorW(module, name) : nullptr;
    return cursor ? cursor : LoadCursorW(nullptr, IDC_HAND);
}

void CHyperLinker::PreSubclassWindow() {
    ModifyStyle(0, SS_NOTIFY);
    CStatic::PreSubclassWindow();
}

void CHyperLinker::LeaveHover() {
    bool had = m_hover != 0;
    m_hover = 0;
    if (::GetCapture() == m_hWnd) ReleaseCapture();
    if (had) Invalidate();
}

void CHyperLinker::OnMouseMove(UINT, CPoint point) {
    CRect client;
    GetClientRect(&client);
    // A hidden label (or one under a hidden parent) is never hovered and never keeps the mouse.
    if (client.PtInRect(point) && IsWindowVisible()) {
        m_hover = 1;
        if (::GetCapture() != m_hWnd) SetCapture();
    } else {
        m_hover = 0;
        if (::GetCapture() == m_hWnd) ReleaseCapture();
    }
    Invalidate();
    Default();
}

void CHyperLinker::OnLButtonDown(UINT, CPoint) {
    m_visited = 0;
    Invalidate();
    Default();
}

BOOL CHyperLinker::OnSetCursor(CWnd*, UINT, UINT) {
    ::SetCursor(LinkCursor());
    return TRUE;
}

HBRUSH CHyperLinker::CtlColor(CDC* dc, UINT) {
    if (!(GetStyle() & SS_NOTIFY)) ModifyStyle(0, SS_NOTIFY);
    if ((GetStyle() & 0xFF) >= 3) return nullptr;  // not a text static: the owner colours it
    if (!m_font.m_hObject) {
        LOGFONTW lf{};
        HFONT font = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
        if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        GetObjectW(font, sizeof(lf), &lf);
        lf.lfUnderline = m_underline ? TRUE : FALSE;
        m_font.CreateFontIndirect(&lf);
    }
    dc->SelectObject(&m_font);
    dc->SetTextColor(m_visited ? m_visitedColor : !m_hover ? m_normal : m_hoverColor);
    dc->SetBkMode(TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

LRESULT CHyperLinker::OnCaptureChanged(WPARAM, LPARAM newCapture) {
    if (reinterpret_cast<HWND>(newCapture) != m_hWnd && m_hover) {
        m_hover = 0;
        Invalidate();
    }
    return Default();
}

void CHyperLinker::OnShowWindow(BOOL show, UINT) {
    if (!show) LeaveHover();
    Default();
}

LRESULT CHyperLinker::OnWindowPosChanged(WPARAM, LPARAM pos) {
    // SetWindowPos can hide without WM_SHOWWINDOW.
    if (reinterpret_cast<const WINDOWPOS*>(pos)->flags & SWP_HIDEWINDOW) LeaveHover();
    return Default();
}
