#include "client/windows/CTips.h"

#include "client/windows/Palette.h"

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
    return palette::Paint(*dc, m_background, palette::kWindow, kind == CTLCOLOR_STATIC ? palette::kLink : CLR_INVALID);
}

void CTips::AdjustClientRect(RECT& r) { BelowSkinnedCaption(r); }
