// The client's one-line text prompt (renaming a file), drawn with the skinned frame.
#pragma once

#include "client/windows/CSkinDialog.h"

class CInputBox : public CSkinDialog {
public:
    enum { IDD = 165, IDC_EDIT = 1041, IDC_LABEL = 1057 };
    explicit CInputBox(CWnd* parent = nullptr);

    BOOL SetInitialText(const CString& text);
    BOOL OnInitDialog() override;

    CString m_strText;  // the edit's text after IDOK; the initial text otherwise

protected:
    void DoDataExchange(CDataExchange* dx) override;
    afx_msg void OnBnClickedOk();
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);

private:
    CSkinButton m_btnOk;
    CSkinButton m_btnCancel;
    CStatic m_stcLabel;
    CString m_strInitialText;
    CBrush m_brush;
    DECLARE_MESSAGE_MAP()
};
