#include "controls/CHyperLinker.h"

BEGIN_MESSAGE_MAP(CHyperLinker, CLinkLabel)
    ON_WM_MOUSEMOVE()
    ON_WM_LBUTTONDOWN()
    ON_WM_SETCURSOR()
    ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

CHyperLinker::CHyperLinker() = default;
CHyperLinker::~CHyperLinker() = default;

void CHyperLinker::SetLinkStyle(const CString& text, BOOL underline, COLORREF normal, COLORREF visited,
                                COLORREF hover) {
    m_strLinkText = text;
    m_bUnderline = underline;
    m_crNormal = normal;
    m_crVisited = visited;
    m_crHover = hover;
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
    CLinkLabel::PreSubclassWindow();
}

void CHyperLinker::LeaveHover() {
    bool had = m_bHover;
    m_bHover = false;
    if (::GetCapture() == m_hWnd) ReleaseCapture();
    if (had) Invalidate();
}

void CHyperLinker::OnMouseMove(UINT, CPoint point) {
    CRect client;
    GetClientRect(&client);
    // A hidden label (or one under a hidden parent) is never hovered and never keeps the mouse.
    if (client.PtInRect(point) && IsWindowVisible()) {
        m_bHover = true;
        if (::GetCapture() != m_hWnd) SetCapture();
    } else {
        m_bHover = false;
        if (::GetCapture() == m_hWnd) ReleaseCapture();
    }
    Invalidate();
    Default();
}

void CHyperLinker::OnLButtonDown(UINT, CPoint) {
    m_bVisited = false;
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
    if (!m_font.m_hObject) CreateLinkFont(m_bUnderline);
    dc->SelectObject(&m_font);
    dc->SetTextColor(m_bVisited ? m_crVisited : !m_bHover ? m_crNormal : m_crHover);
    dc->SetBkMode(TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}
