#include "client/windows/CInputBox.h"

#include "client/windows/Palette.h"

BEGIN_MESSAGE_MAP(CInputBox, CSkinDialog)
    ON_BN_CLICKED(IDOK, &CInputBox::OnBnClickedOk)
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CInputBox::CInputBox(CWnd* parent) : CSkinDialog(IDD, parent) {}

BOOL CInputBox::SetInitialText(const CString& text) {
    m_strInitialText = text;
    return TRUE;
}

void CInputBox::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, IDC_EDIT, m_strText);
    DDX_Control(dx, IDOK, m_btnOk);
    DDX_Control(dx, IDCANCEL, m_btnCancel);
    DDX_Control(dx, IDC_LABEL, m_stcLabel);
}

BOOL CInputBox::OnInitDialog() {
    CDialog::OnInitDialog();
    SkinButton(m_btnOk);
    SkinButton(m_btnCancel);
    SetDlgItemText(IDC_EDIT, m_strInitialText);
    m_strText = m_strInitialText;
    Invalidate(FALSE);
    return TRUE;
}

void CInputBox::OnBnClickedOk() { CDialog::OnOK(); }

HBRUSH CInputBox::OnCtlColor(CDC* dc, CWnd* wnd, UINT kind) {
    COLORREF text = CLR_INVALID;
    if (kind == CTLCOLOR_STATIC && wnd) {
        const int id = wnd->GetDlgCtrlID();
        if (id == IDC_LABEL || id == IDC_EDIT) text = palette::kLabel;
    }
    return palette::Paint(*dc, m_brush, palette::kDialog, text);
}
