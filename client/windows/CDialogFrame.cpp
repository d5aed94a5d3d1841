#include "client/windows/CDialogFrame.h"

BEGIN_MESSAGE_MAP(CDialogFrame, CDialog)
    ON_WM_VSCROLL()
    ON_WM_MOUSEWHEEL()
    ON_WM_LBUTTONDBLCLK()
    ON_WM_CTLCOLOR()
    ON_WM_PAINT()
    ON_WM_SIZE()
END_MESSAGE_MAP()

CDialogFrame::CDialogFrame(CWnd* parent) : CDialog(IDD, parent), m_pScrollHelper(new CScrollHelper) {
    m_pScrollHelper->AttachWnd(this);
}

CDialogFrame::~CDialogFrame() {
    delete m_pScrollHelper;
    m_pScrollHelper = nullptr;
}

void CDialogFrame::DoDataExchange(CDataExchange* dx) { CDialog::DoDataExchange(dx); }

BOOL CDialogFrame::OnInitDialog() { return CDialog::OnInitDialog(); }

void CDialogFrame::OnVScroll(UINT code, UINT pos, CWnd* scrollBar) {
    m_pScrollHelper->OnVScroll(code, pos, scrollBar);
    RedrawAll();
    CDialog::OnVScroll(code, pos, scrollBar);
}

BOOL CDialogFrame::OnMouseWheel(UINT flags, short delta, CPoint pt) {
    if (m_pScrollHelper->OnMouseWheel(flags, delta, pt)) RedrawAll();
    return CDialog::OnMouseWheel(flags, delta, pt);
}

// A double click on the empty container must not reach the dialog's default handling.
void CDialogFrame::OnLButtonDblClk(UINT, CPoint) {}

HBRUSH CDialogFrame::OnCtlColor(CDC* dc, CWnd*, UINT) { return palette::Paint(*dc, m_brush, kBackground); }

void CDialogFrame::DrawOutline(CDC& dc, int right, int bottom) {
    CPen pen(PS_SOLID, 1, kBorder);
    CPen* old = dc.SelectObject(&pen);
    dc.MoveTo(0, 0);
    dc.LineTo(right, 0);
    dc.LineTo(right, bottom);
    dc.LineTo(0, bottom);
    dc.LineTo(0, 0);
    dc.SelectObject(old);
}

void CDialogFrame::OnPaint() {
    CPaintDC dc(this);
    CRect r;
    GetWindowRect(&r);
    DrawOutline(dc, r.Width() - 1, r.Height() - 3);
}

// The border follows the window's size.
void CDialogFrame::OnSize(UINT type, int cx, int cy) {
    CDialog::OnSize(type, cx, cy);
    Invalidate();
}
