#include "client/windows/CHeadFrame.h"

#include "client/windows/CDialogFrame.h"
#include "client/windows/CSkinDialog.h"

BEGIN_MESSAGE_MAP(CHeadFrame, CDialog)
    ON_BN_CLICKED(IDC_NAME_COLUMN, &CHeadFrame::OnButton1050)
    ON_BN_CLICKED(IDC_SIZE_COLUMN, &CHeadFrame::OnButton1051)
    ON_BN_CLICKED(IDC_EXPIRY_COLUMN, &CHeadFrame::OnButton1052)
    ON_BN_CLICKED(IDC_SELECT_ALL, &CHeadFrame::OnButton1056)
    ON_MESSAGE(WM_RESET_HEADER, &CHeadFrame::OnResetFilters)
    ON_MESSAGE(WM_ROW_CHECK_CHANGED, &CHeadFrame::OnUncheckSelectAll)
    ON_WM_CTLCOLOR()
    ON_WM_PAINT()
END_MESSAGE_MAP()

CHeadFrame::CHeadFrame(CWnd* parent) : CDialog(IDD, parent) {}

void CHeadFrame::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_NAME_COLUMN, m_btnName);
    DDX_Control(dx, IDC_SIZE_COLUMN, m_btnSize);
    DDX_Control(dx, IDC_EXPIRY_COLUMN, m_btnExpiry);
    DDX_Control(dx, IDC_SELECT_ALL, m_chkSelectAll);
}

BOOL CHeadFrame::OnInitDialog() {
    CDialog::OnInitDialog();
    for (CSkinButton* b : {&m_btnName, &m_btnSize, &m_btnExpiry})
        CSkinDialog::SkinButton(*b, TRUE, kButtonHovered, kButtonNormal, kButtonText);
    CRect box;
    m_chkSelectAll.GetWindowRect(&box);
    ScreenToClient(&box);
    m_nSelectAllX = box.left;
    return TRUE;
}

void CHeadFrame::Sort(UINT message, BOOL& ascending) {
    const BOOL before = ascending;
    ascending = !ascending;
    if (CWnd* tab = GetParent()) tab->SendMessage(message, static_cast<WPARAM>(before), 0);
}

void CHeadFrame::OnButton1050() { Sort(WM_SORT_BY_NAME, m_bNameAscending); }
void CHeadFrame::OnButton1051() { Sort(WM_SORT_BY_SIZE, m_bSizeAscending); }
void CHeadFrame::OnButton1052() { Sort(WM_SORT_BY_EXPIRY, m_bExpiryAscending); }

void CHeadFrame::OnButton1056() {
    m_bSelectAll = !m_bSelectAll;
    if (CWnd* tab = GetParent()) tab->SendMessage(WM_CHECK_ALL_ROWS, static_cast<WPARAM>(m_bSelectAll), 0);
}

LRESULT CHeadFrame::OnResetFilters(WPARAM, LPARAM) {
    m_bSizeAscending = m_bNameAscending = m_bExpiryAscending = TRUE;
    m_bSelectAll = FALSE;
    m_chkSelectAll.SetCheck(BST_UNCHECKED);
    return 0;
}

LRESULT CHeadFrame::OnUncheckSelectAll(WPARAM checked, LPARAM) {
    if (checked == 0 && m_bSelectAll) {
        m_chkSelectAll.SetCheck(BST_UNCHECKED);
        m_bSelectAll = FALSE;
    }
    return 0;
}

HBRUSH CHeadFrame::OnCtlColor(CDC* dc, CWnd*, UINT) { return palette::Paint(*dc, m_brush, kBackground); }

void CHeadFrame::OnPaint() {
    CPaintDC dc(this);
    CRect r;
    GetWindowRect(&r);
    CDialogFrame::DrawOutline(dc, r.Width() - 1, r.Height());

    // The strip fills the select-all area left of the column buttons.
    HBITMAP strip = static_cast<HBITMAP>(::LoadImageW(AfxFindResourceHandle(MAKEINTRESOURCEW(kStrip), RT_BITMAP),
                                                      MAKEINTRESOURCEW(kStrip), IMAGE_BITMAP, 0, 0, 0));
    if (!strip || !m_btnName.m_hWnd) {
        if (strip) ::DeleteObject(strip);
        return;
    }
    CRect name;
    m_btnName.GetWindowRect(&name);
    ScreenToClient(&name);
    HDC memory = ::CreateCompatibleDC(dc.m_hDC);
    HGDIOBJ previous = ::SelectObject(memory, strip);
    for (int x = 1; x < name.left; ++x) ::BitBlt(dc.m_hDC, x, 0, 1, 26, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, previous);
    ::DeleteDC(memory);
    ::DeleteObject(strip);
}
