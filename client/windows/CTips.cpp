#include "client/windows/CTips.h"

namespace {
constexpr COLORREF kBackground = 0xF8F0EB;
constexpr COLORREF kLabelText = 0x948476;
constexpr COLORREF kButtonText = 0x82523A;
LPARAM Pack(CPoint p) { return MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y)); }
}  // namespace

BEGIN_MESSAGE_MAP(CTips, CDialog)
    ON_WM_CTLCOLOR()
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

CTips::CTips(CWnd* parent) : CDialog(IDD, parent) {}

void CTips::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDOK, m_ok);
    DDX_Control(dx, IDCANCEL, m_cancel);
    DDX_Control(dx, IDC_TEXT, m_label);
}

BOOL CTips::OnInitDialog() {
    CDialog::OnInitDialog();
    for (CSkinButton* b : {&m_ok, &m_cancel}) {
        b->SetBitmaps(181, 0, 180, 0);
        b->SetAlign(CSkinButton::kAlignOverlap, FALSE);
        b->SetColor(CSkinButton::kColorFgFocus, kButtonText, TRUE);
        b->SetColor(CSkinButton::kColorFgIn, kButtonText, TRUE);
        b->SetColor(CSkinButton::kColorFgOut, kButtonText, TRUE);
        b->ClearImageMargins();
        b->SetFlatBorder(FALSE, FALSE);
    }
    if (!m_strText.IsEmpty()) m_label.SetWindowText(m_strText);
    if (!m_strTitle.IsEmpty()) SetWindowText(m_strTitle);
    if (!m_strOkText.IsEmpty()) m_ok.SetWindowText(m_strOkText);
    if (!m_strCancelText.IsEmpty()) m_cancel.SetWindowText(m_strCancelText);
    return TRUE;
}

HBRUSH CTips::OnCtlColor(CDC* dc, CWnd*, UINT kind) {
    if (!m_background.m_hObject) m_background.CreateSolidBrush(kBackground);
    dc->SetBkColor(kBackground);
    if (kind == CTLCOLOR_STATIC) dc->SetTextColor(kLabelText);
    return m_background;
}

int CTips::OnCreate(LPCREATESTRUCTW cs) {
    if (CDialog::OnCreate(cs) == -1) return -1;
    m_frame.Init(AfxFindResourceHandle(MAKEINTRESOURCEW(CSkinFrame::kCaption), RT_BITMAP), m_hWnd);
    m_frame.Paint(m_hWnd);
    return 0;
}

void CTips::OnSize(UINT type, int cx, int cy) {
    CDialog::OnSize(type, cx, cy);
    CRect r;
    GetWindowRect(&r);
    SetWindowRgn(CreateRectRgn(0, 0, r.Width(), r.Height()), TRUE);
}

void CTips::OnPaint() {
    CDialog::OnPaint();
    m_frame.Paint(m_hWnd);
}

void CTips::OnActivate(UINT state, CWnd* other, BOOL minimised) {
    CDialog::OnActivate(state, other, minimised);
    m_frame.Paint(m_hWnd);
}

void CTips::OnNcPaint() { m_frame.Paint(m_hWnd); }

BOOL CTips::OnNcActivate(BOOL) {
    // The default would paint the system caption over the skin.
    m_frame.Paint(m_hWnd);
    return TRUE;
}

void CTips::OnNcCalcSize(BOOL valid, NCCALCSIZE_PARAMS* params) {
    if (valid && params) {
        params->rgrc[0].top += 26 - GetSystemMetrics(SM_CYCAPTION);
        params->rgrc[0].left -= 2;
        params->rgrc[0].right += 2;
        params->rgrc[0].bottom += 2;
    }
    CDialog::OnNcCalcSize(valid, params);
}

LRESULT CTips::OnNcHitTest(CPoint point) { return m_frame.HandleMessage(m_hWnd, WM_NCHITTEST, 0, Pack(point)); }

void CTips::OnNcMouseMove(UINT hit, CPoint point) {
    m_frame.OnNcMouseMove(m_hWnd, WM_NCMOUSEMOVE, hit, Pack(point));
    CDialog::OnNcMouseMove(hit, point);
}

void CTips::OnNcLButtonDown(UINT hit, CPoint point) {
    m_frame.OnNcLButtonDown(m_hWnd, WM_NCLBUTTONDOWN, hit, Pack(point));
}

void CTips::OnNcLButtonUp(UINT hit, CPoint point) { m_frame.OnNcLButtonUp(m_hWnd, WM_NCLBUTTONUP, hit, Pack(point)); }
