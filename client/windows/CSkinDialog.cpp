#include "client/windows/CSkinDialog.h"

#include "client/app/CAppSettings.h"

namespace {
LPARAM Pack(CPoint p) { return MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y)); }
}  // namespace

BEGIN_MESSAGE_MAP(CSkinDialog, CDialog)
    ON_WM_CREATE()
    ON_WM_SIZE()
    ON_WM_PAINT()
    ON_WM_ACTIVATE()
    ON_WM_NCPAINT()
    ON_WM_NCACTIVATE()
    ON_WM_NCCALCSIZE()
    ON_WM_NCHITTEST()
    ON_WM_NCMOUSEMOVE()
    ON_WM_NCLBUTTONDOWN()
    ON_WM_NCLBUTTONUP()
END_MESSAGE_MAP()

void CSkinDialog::SkinButton(CSkinButton& b, BOOL flatBorder, INT_PTR hovered, INT_PTR normal, COLORREF text) {
    b.SetBitmaps(hovered, 0, normal, 0);
    b.SetAlign(CSkinButton::kAlignOverlap, FALSE);
    b.SetColor(CSkinButton::kColorFgFocus, text, TRUE);
    b.SetColor(CSkinButton::kColorFgIn, text, TRUE);
    b.SetColor(CSkinButton::kColorFgOut, text, TRUE);
    b.ClearImageMargins();
    b.SetFlatBorder(flatBorder, flatBorder);
}

int CSkinDialog::OnCreate(LPCREATESTRUCTW cs) {
    if (CDialog::OnCreate(cs) == -1) return -1;
    m_frame.Init(AfxFindResourceHandle(MAKEINTRESOURCEW(CSkinFrame::kCaption), RT_BITMAP), m_hWnd);
    m_frame.Paint(m_hWnd);
    return 0;
}

void CSkinDialog::OnSize(UINT type, int cx, int cy) {
    CDialog::OnSize(type, cx, cy);
    CRect r;
    GetWindowRect(&r);
    SetWindowRgn(CreateRectRgn(0, 0, r.Width(), r.Height()), TRUE);
}

void CSkinDialog::OnPaint() {
    CDialog::OnPaint();
    m_frame.Paint(m_hWnd);
}

void CSkinDialog::OnActivate(UINT state, CWnd* other, BOOL minimised) {
    CDialog::OnActivate(state, other, minimised);
    m_frame.Paint(m_hWnd);
}

void CSkinDialog::OnNcPaint() { m_frame.Paint(m_hWnd); }

BOOL CSkinDialog::OnNcActivate(BOOL) {
    // The default would paint the system caption over the skin.
    m_frame.Paint(m_hWnd);
    return TRUE;
}

void CSkinDialog::AdjustClientRect(RECT& r) {
    r.left -= 2;
    r.right += 2;
    r.bottom += g_Settings.m_bVistaOrLater ? -2 : 2;
}

void CSkinDialog::BelowSkinnedCaption(RECT& r) {
    r.top += 29 - GetSystemMetrics(SM_CYCAPTION) - 3;
    r.left -= 2;
    r.right += 2;
    r.bottom += 2;
}

void CSkinDialog::OnNcCalcSize(BOOL valid, NCCALCSIZE_PARAMS* params) {
    if (valid && params) AdjustClientRect(params->rgrc[0]);
    CDialog::OnNcCalcSize(valid, params);
}

LRESULT CSkinDialog::OnNcHitTest(CPoint point) { return m_frame.HandleMessage(m_hWnd, WM_NCHITTEST, 0, Pack(point)); }

void CSkinDialog::OnNcMouseMove(UINT hit, CPoint point) {
    m_frame.OnNcMouseMove(m_hWnd, WM_NCMOUSEMOVE, hit, Pack(point));
    CDialog::OnNcMouseMove(hit, point);
}

void CSkinDialog::OnNcLButtonDown(UINT hit, CPoint point) {
    m_frame.OnNcLButtonDown(m_hWnd, WM_NCLBUTTONDOWN, hit, Pack(point));
}

void CSkinDialog::OnNcLButtonUp(UINT hit, CPoint point) {
    m_frame.OnNcLButtonUp(m_hWnd, WM_NCLBUTTONUP, hit, Pack(point));
}
