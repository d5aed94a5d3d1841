// The "设置" dialog: start with Windows, log in automatically, show the floating window on
// minimise. OK stores the boxes in ".\Setting.ini", the settings object, the start-up list and
// the local database; Cancel stores nothing.
#pragma once

#include "framework/AfxWin.h"

class CSettingWnd : public CDialog {
public:
    enum { IDD = 148, IDC_AUTO_RUN = 1037, IDC_AUTO_LOGIN = 1038, IDC_FLOAT_WND = 1041 };
    explicit CSettingWnd(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;

    // The start-up value "Quillex" for the running program, written or removed.
    static BOOL RegisterAutoRun();
    static BOOL UnregisterAutoRun();
    // Whether that value is present now.
    static bool IsAutoRunRegistered();

protected:
    void DoDataExchange(CDataExchange* dx) override;
    afx_msg void OnBnClickedOk();
    afx_msg void OnBnClickedCancel();

private:
    CButton m_btnAutoRun;
    CButton m_btnAutoLogin;
    CButton m_btnFloatWnd;
    // The stored flags the boxes opened with, and whether they could be read at all.
    int m_nInitialAutoLogin = 0;
    int m_nInitialFloatWnd = 0;
    bool m_bUserRead = false;
    DECLARE_MESSAGE_MAP()
};
