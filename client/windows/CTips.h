// The client's own message box: one text line, OK and Cancel, drawn with the skinned frame.
#pragma once

#include "client/windows/CSkinDialog.h"

class CTips : public CSkinDialog {
public:
    enum { IDD = 179, IDC_TEXT = 1044 };
    explicit CTips(CWnd* parent = nullptr);

    void SetText(const CString& text) { m_strText = text; }
    void SetTitle(const CString& title) { m_strTitle = title; }
    void SetOkText(const CString& text) { m_strOkText = text; }
    void SetCancelText(const CString& text) { m_strCancelText = text; }

    BOOL OnInitDialog() override;

    CSkinButton m_ok;
    CSkinButton m_cancel;
    CStatic m_label;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    void AdjustClientRect(RECT& proposed) override;
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);

private:
    CString m_strText, m_strTitle, m_strOkText, m_strCancelText;
    CBrush m_background;
    DECLARE_MESSAGE_MAP()
};
