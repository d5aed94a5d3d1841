#include "client/windows/CDialogLogin.h"

#include <optional>
#include <string>
#include <vector>

#include "client/session/CLoginSession.h"
#include "client/windows/CTips.h"
#include "client/windows/LoginStore.h"
#include "client/windows/NetworkState.h"
#include "client/windows/Palette.h"
#include "framework/CTime.h"
#include "framework/CWinApp.h"

namespace {
const wchar_t kIni[] = L".\\Setting.ini";
const wchar_t kNoNetwork[] = L"网络无连接，请联网后重试。";
const wchar_t kEmptyField[] = L"账号或密码不能为空，请重新输入";
const wchar_t kWrongLogin[] = L"输入的账号或密码有误，请重新输入";
const int kMailLimit = 128;

// A stored flag ticks its box when it is a non-zero number; empty or other text clears it.
int Flag(const std::wstring& text) { return _wtoi(text.c_str()) != 0 ? BST_CHECKED : BST_UNCHECKED; }
int Ticked(const CButton& box) { return box.GetCheck() == BST_CHECKED ? 1 : 0; }
void WriteLoginInfo(const wchar_t* key, const wchar_t* value) {
    WritePrivateProfileStringW(L"LoginInfo", key, value, kIni);
}
}  // namespace

BEGIN_MESSAGE_MAP(CDialogLogin, CSkinDialog)
    ON_BN_CLICKED(IDOK, &CDialogLogin::OnBnClickedOk)
    ON_CBN_SELCHANGE(IDC_MAIL, &CDialogLogin::OnSelchangeMail)
    ON_BN_CLICKED(IDC_REMEMBER, &CDialogLogin::OnRememberPasswordClicked)
    ON_BN_CLICKED(IDC_AUTO_LOGIN, &CDialogLogin::OnAutoLoginClicked)
    ON_BN_CLICKED(IDC_EXIT, &CDialogLogin::OnExit)
    ON_WM_CLOSE()
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CDialogLogin::CDialogLogin(CWnd* parent) : CSkinDialog(IDD, parent) {}

void CDialogLogin::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_MAIL, m_cmbMail);
    DDX_Control(dx, IDC_PASSWORD, m_edtPassword);
    DDX_Control(dx, IDC_REMEMBER, m_chkRemember);
    DDX_Control(dx, IDC_AUTO_LOGIN, m_chkAutoLogin);
    DDX_Control(dx, IDOK, m_btnLogin);
    DDX_Control(dx, IDC_EXIT, m_btnExit);
    DDX_Control(dx, IDC_USER_LABEL, m_stcUser);
    DDX_Control(dx, IDC_PASSWORD_LABEL, m_stcPassword);
}

BOOL CDialogLogin::OnInitDialog() {
    CDialog::OnInitDialog();
    CenterWindow(GetDesktopWindow());
    // The pipe listener hands over no launch text while this dialog is up.
    if (CWinApp* app = AfxGetApp()) app->m_pActiveWnd = this;
    SkinButton(m_btnLogin);
    SkinButton(m_btnExit);
    m_cmbMail.SendMessage(CB_LIMITTEXT, kMailLimit);
    SetWindowText(L"登录Tebrin上传助手");
    Invalidate();

    const CString switchUser = LoadUsers();
    if (Ticked(m_chkAutoLogin) && m_edtPassword.GetWindowTextLength() > 0) {
        if (switchUser == L"1")
            m_bSwitchUser = TRUE;
        else
            SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(m_btnLogin.m_hWnd));
    }
    if (!m_bEnded) SetForegroundWindow();
    return TRUE;
}

CString CDialogLogin::LoadUsers() {
    UserStore store = LocalUserStore();
    std::wstring switchUser;
    store.TakeSwitchUserMark(&switchUser);
    // A file that cannot be read shows as a first start: no list, nothing filled in.
    std::vector<StoredUser> users;
    store.ReadUsers(&users);
    for (size_t i = 0; i < users.size(); ++i) m_cmbMail.InsertString(static_cast<int>(i), users[i].mail.c_str());
    const StoredUser newest = users.empty() ? StoredUser() : users.front();
    m_cmbMail.SetCurSel(0);
    if (newest.remember == L"1") {
        m_edtPassword.SetWindowText(newest.password.c_str());
        m_chkRemember.SetCheck(BST_CHECKED);
    }
    m_chkAutoLogin.SetCheck(Flag(newest.autoLogin));
    return switchUser.c_str();
}

void CDialogLogin::OnSelchangeMail() {
    const int index = m_cmbMail.GetCurSel();
    if (index < 0) return;
    CString mail;
    m_cmbMail.GetLBText(index, mail);
    if (mail.IsEmpty()) return;
    std::optional<StoredUser> user;
    // Nothing read: the boxes keep what they show rather than a guess.
    if (!LocalUserStore().ReadUser(mail, &user) || !user) return;
    m_edtPassword.SetWindowText(L"");
    m_chkRemember.SetCheck(Flag(user->remember));
    if (Ticked(m_chkRemember)) m_edtPassword.SetWindowText(user->password.c_str());
    m_chkAutoLogin.SetCheck(Flag(user->autoLogin));
}

void CDialogLogin::OnRememberPasswordClicked() {
    if (!Ticked(m_chkRemember)) m_chkAutoLogin.SetCheck(BST_UNCHECKED);
}

void CDialogLogin::OnAutoLoginClicked() {
    m_chkRemember.SetCheck(Ticked(m_chkAutoLogin) ? BST_CHECKED : BST_UNCHECKED);
}

void CDialogLogin::Tell(const wchar_t* text) {
    CTips tips(this);  // modal to the login dialog: no second login under the box
    tips.SetText(text);
    tips.DoModal();
}

void CDialogLogin::OnBnClickedOk() {
    // Only a hint: the attempt goes on, and a dead network ends as a refused login.
    if (!NetworkConnected()) {
        Tell(kNoNetwork);
        ShowWindow(SW_SHOW);
    }
    const CString mail = m_cmbMail.GetWindowText();
    const CString password = m_edtPassword.GetWindowText();
    const int remember = Ticked(m_chkRemember);
    const int autoLogin = Ticked(m_chkAutoLogin);
    RecordAttempt(mail, password, remember, autoLogin);
    if (mail.IsEmpty() || password.IsEmpty()) {
        Tell(kEmptyField);
        return;
    }
    // Through the client's one exchange path: a silent server is a refusal after its time-out.
    g_LoginSession.Login(mail, password);
    if (!g_LoginSession.IsLoggedIn()) {
        Tell(kWrongLogin);
        return;
    }
    g_strUserName = mail;
    RecordLogin(mail, password, remember, autoLogin);
    CDialog::OnOK();
}

void CDialogLogin::RecordAttempt(const CString& mail, const CString& password, int remember, int autoLogin) {
    WriteLoginInfo(L"MailAddr", mail);
    // A password the user asked not to keep leaves no copy behind, not even an old one.
    if (remember)
        WritePasswordCopy(ScrambledPasswordCopy(password));
    else
        RemovePasswordCopy();
    WriteLoginInfo(L"RemPass", std::to_wstring(remember).c_str());
    WriteLoginInfo(L"AutoLogin", std::to_wstring(autoLogin).c_str());
}

void CDialogLogin::RecordLogin(const CString& mail, const CString& password, int remember, int autoLogin) {
    const CString now = CTime::GetCurrentTime().Format(L"%Y-%m-%d %H:%M:%S");
    // Not remembered: the row keeps no password either.
    const CString kept = remember ? password : CString();
    // A login the file cannot keep still stands; the list only lacks it next time.
    LocalUserStore().RecordLogin(mail, kept, remember != 0, autoLogin != 0, now);
}

void CDialogLogin::OnExit() {
    // To the thread that runs the windows, so this modal loop ends (-1) on whichever thread it
    // runs; the loop hands the quit on to the application's.
    ::PostQuitMessage(0);
}

void CDialogLogin::OnClose() {
    if (m_pbShowAllowed) *m_pbShowAllowed = FALSE;
    CSkinDialog::OnClose();
    if (m_bSwitchUser) {
        // Closing a user switch ends the application, its pipe listener included.
        if (g_nPipeListenerThreadId) ::PostThreadMessageW(g_nPipeListenerThreadId, WM_QUIT, 0, 0);
        ::PostQuitMessage(0);
    }
}

HBRUSH CDialogLogin::OnCtlColor(CDC* dc, CWnd* wnd, UINT kind) {
    COLORREF text = CLR_INVALID;
    if (kind == CTLCOLOR_STATIC && wnd) {
        const int id = wnd->GetDlgCtrlID();
        if (id == IDC_USER_LABEL || id == IDC_PASSWORD_LABEL) text = palette::kLabel;
    }
    return palette::Paint(*dc, m_brush, palette::kDialog, text);
}
