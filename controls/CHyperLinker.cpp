#include "controls/CHyperLinker.h"

BEGIN_MESSAGE_MAP(CHyperLinker, CStatic)
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

HCURSOR CHyperLinker::LinkCursor() { return LoadCursorW(nullptr, IDC_HAND); }
void CHyperLinker::PreSubclassWindow() { ModifyStyle(0, SS_NOTIFY); CStatic::PreSubclassWindow(); }
void CHyperLinker::LeaveHover() {}
void CHyperLinker::OnMouseMove(UINT, CPoint) { Default(); }
void CHyperLinker::OnLButtonDown(UINT, CPoint) { Default(); }
BOOL CHyperLinker::OnSetCursor(CWnd*, UINT, UINT) { return TRUE; }
HBRUSH CHyperLinker::CtlColor(CDC*, UINT) { return nullptr; }
LRESULT CHyperLinker::OnCaptureChanged(WPARAM, LPARAM) { return Default(); }
void CHyperLinker::OnShowWindow(BOOL, UINT) { Default(); }
LRESULT CHyperLinker::OnWindowPosChanged(WPARAM, LPARAM) { return Default(); }
