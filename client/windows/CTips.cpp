#include "client/windows/CTips.h"

namespace {
constexpr COLORREF kBackground = 0xF8F0EB;
constexpr COLORREF kLabelText = 0x948476;
}  // namespace

BEGIN_MESSAGE_MAP(CTips, CSkinDialog)
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CTips::CTips(CWnd* parent) : CSkinDialog(IDD, parent) {}

void CTips::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDOK, m_ok);
    DDX_Control(dx, IDCANCEL, m_cancel);
    DDX_Control(dx, IDC_TEXT, m_label);
}

BOOL CTips::OnInitDialog() {
    CDialog::OnInitDialog();
    SkinButton(m_ok);
    SkinButton(m_cancel);
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

void CTips::AdjustClientRect(RECT& r) {
    // Below the skinned caption (29 pixels, less the system frame's 3) rather than the system's.
    r.top += 26 - GetSystemMetrics(SM_CYCAPTION);
    r.left -= 2;
    r.right += 2;
    r.bottom += 2;
}
