// The interactive login: the remembered users of this machine, the password, remember-password
// and auto-login, drawn with the skinned frame. Run modally: IDOK after a successful login,
// IDCANCEL when closed, -1 when the exit button ended the loop.
#pragma once

#include "client/windows/CSkinDialog.h"

class CDialogLogin : public CSkinDialog {
public:
    enum {
        IDD = 146,
        IDC_PASSWORD = 1034,
        IDC_REMEMBER = 1035,
        IDC_AUTO_LOGIN = 1036,
        IDC_USER_LABEL = 1045,
        IDC_PASSWORD_LABEL = 1046,
        IDC_MAIL = 1059,
        IDC_EXIT = 32789
    };
    explicit CDialogLogin(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;

    // The main dialog's show-allowed flag, cleared when this dialog is closed; null: none.
    BOOL* m_pbShowAllowed = nullptr;
    // Set when the dialog was opened for a user switch: closing it then quits the application.
    BOOL m_bSwitchUser = FALSE;

    CComboBox m_cmbMail;
    CEdit m_edtPassword;
    CButton m_chkRemember;
    CButton m_chkAutoLogin;
    CSkinButton m_btnLogin;
    CSkinButton m_btnExit;
    CStatic m_stcUser;
    CStatic m_stcPassword;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    afx_msg void OnBnClickedOk();
    afx_msg void OnSelchangeMail();
    afx_msg void OnRememberPasswordClicked();
    afx_msg void OnAutoLoginClicked();
    afx_msg void OnExit();
    afx_msg void OnClose();
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);

private:
    // One message box, modal.
    void Tell(const wchar_t* text);
    // Reads the newest users into the list and fills in the newest one; returns the
    // configuration's switch-user mark (empty without a configuration row).
    CString LoadUsers();
    // Writes the ini keys and the registry copy, as every press of the login button does.
    void RecordAttempt(const CString& mail, const CString& password, int remember, int autoLogin);
    // Keeps the successful login in the user table.
    void RecordLogin(const CString& mail, const CString& password, int remember, int autoLogin);

    CBrush m_brush;
    DECLARE_MESSAGE_MAP()
};
