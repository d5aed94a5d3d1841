#include "client/windows/CSettingWnd.h"

#include <optional>

#include "client/app/AutoRun.h"
#include "client/app/CAppSettings.h"
#include "client/windows/LoginStore.h"

namespace {
const wchar_t kIni[] = L".\\Setting.ini";
const wchar_t kSection[] = L"Setting";
const wchar_t kRunValue[] = L"Quillex";

int Checked(const CButton& box) { return box.GetCheck() == BST_CHECKED ? 1 : 0; }

void WriteFlag(const wchar_t* key, int value) {
    wchar_t text[16];
    wsprintfW(text, L"%d", value);
    ::WritePrivateProfileStringW(kSection, key, text, kIni);
}
}  // namespace

BEGIN_MESSAGE_MAP(CSettingWnd, CDialog)
    ON_BN_CLICKED(IDOK, &CSettingWnd::OnBnClickedOk)
    ON_BN_CLICKED(IDCANCEL, &CSettingWnd::OnBnClickedCancel)
END_MESSAGE_MAP()

CSettingWnd::CSettingWnd(CWnd* parent) : CDialog(IDD, parent) {}

void CSettingWnd::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_AUTO_RUN, m_btnAutoRun);
    DDX_Control(dx, IDC_AUTO_LOGIN, m_btnAutoLogin);
    DDX_Control(dx, IDC_FLOAT_WND, m_btnFloatWnd);
}

BOOL CSettingWnd::OnInitDialog() {
    CDialog::OnInitDialog();
    // Every box opens as what is stored, so OK on an untouched dialog changes nothing; a missing
    // row, column or table reads as not set.
    std::optional<StoredUser> user;
    m_bUserRead = LocalUserStore().ReadUser(g_strUserName, &user);
    const int floatWnd = user && user->floatWnd == L"1" ? 1 : 0;
    m_nInitialAutoLogin = user && user->autoLogin == L"1" ? 1 : 0;
    m_nInitialFloatWnd = floatWnd;
    m_btnFloatWnd.SetCheck(floatWnd);
    m_btnAutoLogin.SetCheck(m_nInitialAutoLogin);
    m_btnAutoRun.SetCheck(IsAutoRunRegistered() ? 1 : 0);
    return TRUE;
}

void CSettingWnd::OnBnClickedOk() {
    Invalidate(FALSE);
    const int autoRun = Checked(m_btnAutoRun);
    const int autoLogin = Checked(m_btnAutoLogin);
    const int floatWnd = Checked(m_btnFloatWnd);

    WriteFlag(L"AutoRun", autoRun);
    WriteFlag(L"AutoLoginToRun", autoLogin);
    WriteFlag(L"FloatWnd", floatWnd);

    g_Settings.SetFloatWnd(floatWnd);
    g_Settings.SetAutoRun(autoRun);

    if (autoRun)
        RegisterAutoRun();
    else
        UnregisterAutoRun();
    UserStore store = LocalUserStore();
    store.SaveStartMode(autoRun != 0);
    // The remember flag goes with the auto-login one; an untouched box keeps a remembered password.
    if (autoLogin != m_nInitialAutoLogin) store.SaveAutoLogin(g_strUserName, autoLogin != 0);
    // A flag that could not be read is not overwritten with the clear box shown in its place.
    if (m_bUserRead || floatWnd != m_nInitialFloatWnd) store.SaveFloatWnd(g_strUserName, floatWnd != 0);
    CDialog::OnOK();
}

void CSettingWnd::OnBnClickedCancel() { CDialog::OnCancel(); }

BOOL CSettingWnd::RegisterAutoRun() { return ::RegisterAutoRun() ? TRUE : FALSE; }

BOOL CSettingWnd::UnregisterAutoRun() { return ::UnregisterAutoRun() ? TRUE : FALSE; }

bool CSettingWnd::IsAutoRunRegistered() {
    const AutoRunKey& key = DefaultAutoRunKey();
    HKEY run = nullptr;
    if (::RegOpenKeyExW(key.root, key.subKey, 0, KEY_QUERY_VALUE, &run) != ERROR_SUCCESS) return false;
    bool present = ::RegQueryValueExW(run, kRunValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    ::RegCloseKey(run);
    return present;
}
