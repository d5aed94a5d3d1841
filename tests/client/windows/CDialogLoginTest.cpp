#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/app/CAppSettings.h"
#include "client/session/CLoginSession.h"
#include "client/storage/CSqlite.h"
#include "client/windows/CDialogLogin.h"
#include "client/windows/LoginStore.h"
#include "client/windows/NetworkState.h"
#include "framework/CTime.h"
#include "framework/CWinApp.h"
#include "provider/Provider.h"
#include "tests/support/Capture.h"
#include "tests/support/ModalRun.h"
#include "tests/support/TempDir.h"
#include "tests/support/TipsWatch.h"

namespace {

// The registry profile of this test program only: HKCU\Software\<key>\<profile>.
const wchar_t kRegistryKey[] = L"FerrantLoginDialogTest";
CWinApp g_app(L"Ferrant");

struct Environment : testing::Environment {
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        g_app.SetRegistryKey(kRegistryKey);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\") + kRegistryKey).c_str());
        WSACleanup();
    }
};
testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new Environment);

const wchar_t kNoNetwork[] = L"网络无连接，请联网后重试。";
const wchar_t kEmptyField[] = L"账号或密码不能为空，请重新输入";
const wchar_t kWrongLogin[] = L"输入的账号或密码有误，请重新输入";
const wchar_t kAbsent[] = L"(absent)";
const UINT kSafetyMs = 30000;  // beyond the exchange's time-out of a silent server

struct Account {
    const wchar_t* mail;
    const char* mailUtf8;
    const wchar_t* password;
    const char* passwordUtf8;
};
const Account kLi = {L"li@example.com", "li@example.com", L"secret1", "secret1"};
const Account kWang = {L"wang@example.com", "wang@example.com", L"secret2", "secret2"};
const Account kQuote = {L"o'neil@example.com", "o'neil@example.com", L"it's \"x\"'--", "it's \"x\"'--"};
const Account kBracket = {L"zhao@example.com", "zhao@example.com", L"ab[cd", "ab[cd"};

// One qxuser row as its texts. As an expectation, an empty time means "the time of this login".
struct Row {
    std::wstring mail, password, remember, autoLogin, floatWnd, userName, comment, time;
};
bool operator==(const Row& a, const Row& b) {
    return a.mail == b.mail && a.password == b.password && a.remember == b.remember && a.autoLogin == b.autoLogin &&
           a.floatWnd == b.floatWnd && a.userName == b.userName && a.comment == b.comment;
}
std::ostream& operator<<(std::ostream& os, const Row& r) {
    auto n = [](const std::wstring& w) { return std::string(w.begin(), w.end()); };
    return os << "{" << n(r.mail) << " pw=" << n(r.password) << " rem=" << n(r.remember) << " auto=" << n(r.autoLogin)
              << " float=" << n(r.floatWnd) << " name=" << n(r.userName) << " comment=" << n(r.comment)
              << " time=" << n(r.time) << "}";
}

Row Seeded(const Account& a, const wchar_t* password, const wchar_t* remember, const wchar_t* autoLogin,
           const wchar_t* time, const wchar_t* floatWnd = L"1", const wchar_t* userName = L"",
           const wchar_t* comment = L"") {
    return {a.mail, password, remember, autoLogin, floatWnd, userName, comment, time};
}
Row LoggedIn(const Account& a, const wchar_t* password, const wchar_t* remember, const wchar_t* autoLogin,
             const wchar_t* floatWnd = L"1", const wchar_t* userName = L"", const wchar_t* comment = L"") {
    return {a.mail, password, remember, autoLogin, floatWnd, userName, comment, L""};
}

// What the dialog shows once it is up.
struct Shown {
    std::vector<std::wstring> items;
    std::wstring mail, password;
    int remember = 0, autoLogin = 0;
};
bool operator==(const Shown& a, const Shown& b) {
    return a.items == b.items && a.mail == b.mail && a.password == b.password && a.remember == b.remember &&
           a.autoLogin == b.autoLogin;
}
std::ostream& operator<<(std::ostream& os, const Shown& s) {
    auto n = [](const std::wstring& w) { return std::string(w.begin(), w.end()); };
    os << "{items=";
    for (const std::wstring& i : s.items) os << n(i) << ",";
    return os << " mail=" << n(s.mail) << " pw=" << n(s.password) << " rem=" << s.remember << " auto=" << s.autoLogin
              << "}";
}

Shown Read(CDialogLogin& d) {
    Shown s;
    for (int i = 0; i < d.m_cmbMail.GetCount(); ++i) {
        CString item;
        d.m_cmbMail.GetLBText(i, item);
        s.items.push_back(static_cast<LPCWSTR>(item));
    }
    s.mail = static_cast<LPCWSTR>(d.m_cmbMail.GetWindowText());
    s.password = static_cast<LPCWSTR>(d.m_edtPassword.GetWindowText());
    s.remember = d.m_chkRemember.GetCheck();
    s.autoLogin = d.m_chkAutoLogin.GetCheck();
    return s;
}

// The user's hands on the dialog.
void Type(CDialogLogin& d, const wchar_t* mail, const wchar_t* password) {
    d.m_cmbMail.SetWindowText(mail);
    d.m_edtPassword.SetWindowText(password);
}
void Click(CWnd& control) { control.SendMessage(BM_CLICK); }
void Choose(CDialogLogin& d, int index) {
    d.m_cmbMail.SetCurSel(index);
    d.SendMessage(WM_COMMAND, MAKEWPARAM(CDialogLogin::IDC_MAIL, CBN_SELCHANGE),
                  reinterpret_cast<LPARAM>(d.m_cmbMail.m_hWnd));
}
void Login(CDialogLogin& d) { Click(d.m_btnLogin); }
void Close(CDialogLogin& d) { d.PostMessage(WM_CLOSE); }

// ASCII scrambled as the registry copy keeps it: up to the key byte.
std::string Scrambled(const char* ascii) {
    std::string out;
    for (const char* p = ascii; *p && *p != kPasswordCopyKey; ++p) out += static_cast<char>(*p ^ kPasswordCopyKey);
    return out;
}

std::wstring Now() { return static_cast<LPCWSTR>(CTime::GetCurrentTime().Format(L"%Y-%m-%d %H:%M:%S")); }

// A thread with a message queue standing in for the pipe listener: was it told to quit?
class Listener {
public:
    Listener()
        : m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_ready(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        m_thread = std::thread([this] {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue
            m_id = GetCurrentThreadId();
            SetEvent(m_ready);
            for (;;) {
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                    if (msg.message == WM_QUIT) {
                        m_bQuit = true;
                        return;
                    }
                if (WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0) return;
                MsgWaitForMultipleObjects(1, &m_stop, FALSE, 1000, QS_ALLPOSTMESSAGE);
            }
        });
        WaitForSingleObject(m_ready, 10000);
    }
    ~Listener() {
        Stop();
        CloseHandle(m_stop);
        CloseHandle(m_ready);
    }
    DWORD Id() const { return m_id; }
    // Whether WM_QUIT reached it before now.
    bool Stop() {
        SetEvent(m_stop);
        if (m_thread.joinable()) m_thread.join();
        return m_bQuit;
    }

private:
    HANDLE m_stop, m_ready;
    std::thread m_thread;
    DWORD m_id = 0;
    bool m_bQuit = false;
};

bool TakeQuit() {
    MSG msg;
    bool any = false;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) any = true;
    return any;
}

int g_nextAddress = 1;

// One test's world: a fresh working folder for ".\Setting.ini", a prepared database, an empty
// registry profile and a stand-in provider with four accounts on an address of its own.
class Stage {
public:
    Stage() {
        g_strDbPath = m_data.File(L"Quillex.db");
        PrepareLocalDatabase(g_Database, g_strDbPath, L"upload.example.test", L"127.0.0.1", L"2020-01-01 00:00:00");
        DeleteRegistry();
        g_LoginSession = CLoginSession();
        g_strUserName.Empty();
        TakeQuit();
        uint64_t userId = 700;
        for (const Account* a : {&kLi, &kWang, &kQuote, &kBracket}) {
            provider::UserAccount user;
            user.mail = a->mailUtf8;
            user.password = a->passwordUtf8;
            user.userId = ++userId;
            m_provider.State().AddUser(user);
        }
        const std::string address = "127.0.41." + std::to_string(g_nextAddress++);
        m_bStarted = m_provider.Start(address);
        g_Settings.m_strServerAddr = CString(std::wstring(address.begin(), address.end()).c_str());
        g_Settings.SetServerPort(protocol::kControlPort);
    }
    ~Stage() {
        m_provider.Stop();
        ConnectionProbe() = nullptr;
        TakeQuit();
        DeleteRegistry();
        g_Database.Close();
    }
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    bool Started() const { return m_bStarted; }
    provider::Provider& Provider() { return m_provider; }

    static void DeleteRegistry() {
        RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\") + kRegistryKey).c_str());
    }

    static void Seed(const std::vector<Row>& rows, const wchar_t* switchUser) {
        CSqlite db;
        ASSERT_EQ(db.Open(g_strDbPath), 0);
        for (const Row& r : rows) {
            std::wstring sql =
                L"insert into qxuser (id, username, usermail, password, isrempwd, isautologin, "
                L"isshowfloatwnd, logintime, comment) values(NULL,'" +
                SqlEscape(r.userName.c_str()) + L"','" + SqlEscape(r.mail.c_str()) + L"','" +
                SqlEscape(r.password.c_str()) + L"'," + r.remember + L"," + r.autoLogin + L"," + r.floatWnd + L",'" +
                r.time + L"','" + SqlEscape(r.comment.c_str()) + L"')";
            ASSERT_EQ(db.ExecDML(sql.c_str()), 0);
        }
        if (switchUser) {
            ASSERT_EQ(db.ExecDML((std::wstring(L"update qxconfig set switchuser = ") + switchUser).c_str()), 0);
        }
        db.Close();
    }

    // Read back through the codec, in the order the rows were made.
    static std::vector<Row> Rows() {
        CSqlite db;
        std::vector<Row> rows;
        EXPECT_EQ(db.Open(g_strDbPath), 0);
        EXPECT_EQ(db.Query(L"select * from qxuser order by id"), 0);
        db.Close();
        db.MoveFirst();
        for (int i = 0; i < db.GetRowCount(); ++i, db.MoveNext())
            rows.push_back({db.GetValue(L"usermail"), db.GetValue(L"password"), db.GetValue(L"isrempwd"),
                            db.GetValue(L"isautologin"), db.GetValue(L"isshowfloatwnd"), db.GetValue(L"username"),
                            db.GetValue(L"comment"), db.GetValue(L"logintime")});
        return rows;
    }

    static std::wstring SwitchUser() {
        CSqlite db;
        EXPECT_EQ(db.Open(g_strDbPath), 0);
        db.Query(L"select * from qxconfig");
        db.Close();
        return db.GetValue(L"switchuser");
    }

    static std::wstring Ini(const wchar_t* key) {
        wchar_t value[260] = {};
        GetPrivateProfileStringW(L"LoginInfo", key, kAbsent, value, 260, L".\\Setting.ini");
        return value;
    }

    static std::optional<std::string> RegistryCopy() {
        BYTE* data = nullptr;
        UINT size = 0;
        if (!g_app.GetProfileBinary(L"LoginInfo", L"Pass", &data, &size)) return std::nullopt;
        std::string bytes(reinterpret_cast<char*>(data), size);
        delete[] data;
        return bytes;
    }

    size_t Logins() { return m_provider.State().RequestsOf(protocol::MSG_CODE_REQ_LOGIN).size(); }

private:
    TempWorkingFolder m_work;
    TempDir m_data;
    provider::Provider m_provider;
    bool m_bStarted = false;
};

bool g_networkUp = true;
bool Network() { return g_networkUp; }

using Action = std::function<void(CDialogLogin&)>;

// The actions of the table. A press of "登录" runs the whole attempt, message box included.
Action TypeAndLogin(const wchar_t* mail, const wchar_t* password, bool tickRemember) {
    return [=](CDialogLogin& d) {
        Type(d, mail, password);
        if (tickRemember) Click(d.m_chkRemember);
        Login(d);
    };
}
// The same for an attempt that fails: the dialog stays with what was typed, then is closed.
Action TypeLoginStayAndClose(const wchar_t* mail, const wchar_t* password, bool tickRemember) {
    return [=](CDialogLogin& d) {
        TypeAndLogin(mail, password, tickRemember)(d);
        EXPECT_TRUE(d.IsWindowVisible());
        EXPECT_EQ(Read(d).mail, mail);
        EXPECT_EQ(Read(d).password, password);
        Close(d);
    };
}
void CloseAtOnce(CDialogLogin& d) { Close(d); }
void ChooseEachThenClose(CDialogLogin& d) {
    Choose(d, 1);
    EXPECT_EQ(Read(d), (Shown{{kWang.mail, kLi.mail}, kLi.mail, L"secret1", 1, 0}));
    Choose(d, 0);
    EXPECT_EQ(Read(d), (Shown{{kWang.mail, kLi.mail}, kWang.mail, L"", 0, 0}));
    Close(d);
}
void SwitchMarkClearedThenClose(CDialogLogin& d) {
    EXPECT_TRUE(d.m_bSwitchUser);
    EXPECT_EQ(Stage::SwitchUser(), L"0");
    Close(d);
}
void EmptyPasswordUnrememberedAndClose(CDialogLogin& d) {
    d.m_edtPassword.SetWindowText(L"");
    Click(d.m_chkRemember);
    Login(d);
    Close(d);
}
void NewPasswordWithAutoLogin(CDialogLogin& d) {
    d.m_edtPassword.SetWindowText(kLi.password);
    Click(d.m_chkAutoLogin);
    EXPECT_EQ(d.m_chkRemember.GetCheck(), 1);
    Login(d);
}
void UntickRememberAndLogin(CDialogLogin& d) {
    Click(d.m_chkRemember);
    Login(d);
}
void ChooseQuotedAndLogin(CDialogLogin& d) {
    Choose(d, 1);
    EXPECT_EQ(Read(d).password, kQuote.password);
    Login(d);
}
void PressExit(CDialogLogin& d) { d.m_btnExit.PostMessage(BM_CLICK); }

enum { kOldCopy = 1, kNetworkDown = 2, kSilentServer = 4 };

struct Ini3 {
    const wchar_t *mail, *remember, *autoLogin;
};
const Ini3 kNoIni = {kAbsent, kAbsent, kAbsent};

struct Before {
    std::vector<Row> seed;
    const wchar_t* switchUser;  // qxconfig.switchuser; null: as created (0)
    int flags;                  // kOldCopy: a registry copy of an earlier login is there
};
struct After {
    INT_PTR result;
    std::vector<std::wstring> tips;
    std::vector<Row> rows;
    Ini3 ini;
    std::optional<std::string> copy;  // the registry value
    size_t logins;                    // login requests the server saw
    bool quits;                       // a quit for this thread (and the pipe listener's after a close)
};
struct Case {
    const char* name;
    Before before;
    std::optional<Shown> shown;  // once up; null: the dialog ends before it shows
    Action act;
    After after;
    const char* screenshot;
};

TEST(LoginDialog, DatabaseStatesAndActions) {
    const std::vector<Row> liAndWang = {Seeded(kLi, L"secret1", L"1", L"0", L"2020-05-02 08:00:00"),
                                        Seeded(kWang, L"", L"0", L"0", L"2020-05-01 08:00:00")};
    // The newer row comes from before passwords of unremembered users were dropped.
    const std::vector<Row> wangNewer = {Seeded(kLi, L"secret1", L"1", L"0", L"2020-05-01 08:00:00"),
                                        Seeded(kWang, L"legacy", L"0", L"0", L"2020-05-03 08:00:00")};
    const std::vector<Row> liAuto = {Seeded(kLi, L"secret1", L"1", L"1", L"2020-05-02 08:00:00")};
    const std::vector<Row> li = {Seeded(kLi, L"secret1", L"1", L"0", L"2020-05-02 08:00:00")};
    const std::vector<Row> liOld = {Seeded(kLi, L"old", L"1", L"0", L"2020-05-02 08:00:00", L"0", L"Li", L"note")};
    const std::vector<Row> quoteAndWang = {Seeded(kQuote, kQuote.password, L"1", L"0", L"2020-05-01 08:00:00"),
                                           Seeded(kWang, L"", L"0", L"0", L"2020-05-02 08:00:00")};
    const Shown blank = {{}, L"", L"", 0, 0};
    const Shown liShown = {{kLi.mail}, kLi.mail, L"secret1", 1, 0};
    const std::wstring longPassword(300, L'a');
    const std::string longCopy = Scrambled(std::string(kPasswordCopyMaxBytes, 'a').c_str());

    const Case cases[] = {
        {"no users: first login of a new address, remembered",
         {{}, nullptr, 0},
         blank,
         TypeAndLogin(kLi.mail, kLi.password, true),
         {IDOK, {}, {LoggedIn(kLi, L"secret1", L"1", L"0")}, {kLi.mail, L"1", L"0"}, Scrambled("secret1"), 1, false},
         "login_empty"},
        {"two users, the newer remembered: filled in, then closed",
         {liAndWang, nullptr, 0},
         Shown{{kLi.mail, kWang.mail}, kLi.mail, L"secret1", 1, 0},
         CloseAtOnce,
         {IDCANCEL, {}, liAndWang, kNoIni, std::nullopt, 0, false},
         "login_remembered"},
        {"two users, the newer not remembered: no password shown; a selection loads each",
         {wangNewer, nullptr, 0},
         Shown{{kWang.mail, kLi.mail}, kWang.mail, L"", 0, 0},
         ChooseEachThenClose,
         {IDCANCEL, {}, wangNewer, kNoIni, std::nullopt, 0, false},
         nullptr},
        {"auto-login, switch-user 0: logs in by itself",
         {liAuto, L"0", 0},
         std::nullopt,
         nullptr,
         {IDOK, {}, {LoggedIn(kLi, L"secret1", L"1", L"1")}, {kLi.mail, L"1", L"1"}, Scrambled("secret1"), 1, false},
         nullptr},
        {"auto-login, switch-user 1: shown instead; closing quits the application",
         {liAuto, L"1", 0},
         Shown{{kLi.mail}, kLi.mail, L"secret1", 1, 1},
         SwitchMarkClearedThenClose,
         {IDCANCEL, {}, liAuto, kNoIni, std::nullopt, 0, true},
         nullptr},
        {"empty mail address: told; the dialog stays with its contents",
         {{}, nullptr, 0},
         blank,
         TypeLoginStayAndClose(L"", L"pw", true),
         {IDCANCEL, {kEmptyField}, {}, {L"", L"1", L"0"}, Scrambled("pw"), 0, false},
         nullptr},
        {"empty password, remember cleared: told; the old registry copy removed",
         {li, nullptr, kOldCopy},
         liShown,
         EmptyPasswordUnrememberedAndClose,
         {IDCANCEL, {kEmptyField}, li, {kLi.mail, L"0", L"0"}, std::nullopt, 0, false},
         nullptr},
        {"wrong password: told; ini keys and registry copy written, no row",
         {{}, nullptr, 0},
         blank,
         TypeLoginStayAndClose(kLi.mail, L"nope", true),
         {IDCANCEL, {kWrongLogin}, {}, {kLi.mail, L"1", L"0"}, Scrambled("nope"), 1, false},
         nullptr},
        {"300-character password: refused before sending; the registry copy holds 255 bytes",
         {{}, nullptr, 0},
         blank,
         TypeLoginStayAndClose(kLi.mail, longPassword.c_str(), true),
         {IDCANCEL, {kWrongLogin}, {}, {kLi.mail, L"1", L"0"}, longCopy, 0, false},
         nullptr},
        {"no network: told, then the login goes on",
         {{}, nullptr, kNetworkDown},
         blank,
         TypeAndLogin(kLi.mail, kLi.password, false),
         {IDOK, {kNoNetwork}, {LoggedIn(kLi, L"", L"0", L"0")}, {kLi.mail, L"0", L"0"}, std::nullopt, 1, false},
         nullptr},
        {"existing address: password, flags and time updated, the rest kept",
         {liOld, nullptr, 0},
         Shown{{kLi.mail}, kLi.mail, L"old", 1, 0},
         NewPasswordWithAutoLogin,
         {IDOK,
          {},
          {LoggedIn(kLi, L"secret1", L"1", L"1", L"0", L"Li", L"note")},
          {kLi.mail, L"1", L"1"},
          Scrambled("secret1"),
          1,
          false},
         nullptr},
        {"remember cleared: the row keeps no password and the registry copy goes",
         {li, nullptr, kOldCopy},
         liShown,
         UntickRememberAndLogin,
         {IDOK, {}, {LoggedIn(kLi, L"", L"0", L"0")}, {kLi.mail, L"0", L"0"}, std::nullopt, 1, false},
         nullptr},
        {"quotes in mail address and password: stored as typed",
         {{}, nullptr, 0},
         blank,
         TypeAndLogin(kQuote.mail, kQuote.password, true),
         {IDOK,
          {},
          {LoggedIn(kQuote, kQuote.password, L"1", L"0")},
          {kQuote.mail, L"1", L"0"},
          Scrambled(kQuote.passwordUtf8),
          1,
          false},
         nullptr},
        {"a remembered address with quotes: found again and updated, not added",
         {quoteAndWang, nullptr, 0},
         Shown{{kWang.mail, kQuote.mail}, kWang.mail, L"", 0, 0},
         ChooseQuotedAndLogin,
         {IDOK,
          {},
          {LoggedIn(kQuote, kQuote.password, L"1", L"0"), quoteAndWang[1]},
          {kQuote.mail, L"1", L"0"},
          Scrambled(kQuote.passwordUtf8),
          1,
          false},
         nullptr},
        {"a password with the key byte: whole in the row, cut there in the registry copy",
         {{}, nullptr, 0},
         blank,
         TypeAndLogin(kBracket.mail, kBracket.password, true),
         {IDOK, {}, {LoggedIn(kBracket, L"ab[cd", L"1", L"0")}, {kBracket.mail, L"1", L"0"}, Scrambled("ab"), 1, false},
         nullptr},
        {"silent control server: the wrong-login message after the time-out",
         {{}, nullptr, kSilentServer},
         blank,
         TypeLoginStayAndClose(kLi.mail, kLi.password, false),
         {IDCANCEL, {kWrongLogin}, {}, {kLi.mail, L"0", L"0"}, std::nullopt, 1, false},
         nullptr},
        {"exit button: the loop ends with -1 and the quit goes on",
         {li, nullptr, 0},
         liShown,
         PressExit,
         {-1, {}, li, kNoIni, std::nullopt, 0, true},
         nullptr},
    };
    ASSERT_EQ(Scrambled("ab"), std::string("\x3A\x39"));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const After& x = c.after;
        Stage stage;
        ASSERT_TRUE(stage.Started());
        stage.Seed(c.before.seed, c.before.switchUser);
        if (c.before.flags & kOldCopy) {
            ASSERT_TRUE(WritePasswordCopy("stale"));
        }
        g_networkUp = !(c.before.flags & kNetworkDown);
        ConnectionProbe() = &Network;
        if (c.before.flags & kSilentServer) {
            provider::Fault stall;
            stall.stall = true;
            stage.Provider().State().SetFault(protocol::MSG_CODE_REQ_LOGIN, stall);
        }
        const std::wstring before = Now();
        Listener listener;
        g_nPipeListenerThreadId = listener.Id();
        BOOL showAllowed = TRUE;
        bool acted = false;
        HWND dialogWindow = nullptr;
        TipsWatch tips;
        CDialogLogin dialog;
        dialog.m_pbShowAllowed = &showAllowed;
        const INT_PTR result = test_modal::RunModal<CDialogLogin>(
            dialog,
            [&](CDialogLogin& d) {
                acted = true;
                dialogWindow = d.m_hWnd;
                EXPECT_EQ(AfxGetApp()->m_pActiveWnd, &d);
                if (c.shown) {
                    EXPECT_EQ(Read(d), *c.shown);
                }
                if (c.screenshot) test_capture::SaveWindow(d.m_hWnd, c.screenshot);
                if (c.act) c.act(d);
            },
            kSafetyMs);
        g_nPipeListenerThreadId = 0;

        EXPECT_EQ(result, x.result);
        EXPECT_EQ(acted, c.shown.has_value());
        EXPECT_EQ(AfxGetApp()->m_pActiveWnd, nullptr);
        std::vector<std::wstring> texts;
        for (const CString& t : tips.texts) texts.push_back(static_cast<LPCWSTR>(t));
        EXPECT_EQ(texts, x.tips);
        // Each box is modal to the login dialog: nothing under it can be pressed or closed.
        for (size_t i = 0; i < tips.owners.size(); ++i) {
            EXPECT_EQ(tips.owners[i], dialogWindow) << i;
            EXPECT_FALSE(tips.ownersEnabled[i]) << i;
        }

        const std::vector<Row> rows = stage.Rows();
        EXPECT_EQ(rows, x.rows);
        for (size_t i = 0; i < rows.size() && i < x.rows.size(); ++i) {
            if (x.rows[i].time.empty()) {
                EXPECT_EQ(rows[i].time.size(), 19u) << rows[i];
                EXPECT_GE(rows[i].time, before) << rows[i];
            } else {
                EXPECT_EQ(rows[i].time, x.rows[i].time);
            }
        }
        EXPECT_EQ(stage.SwitchUser(), L"0");
        EXPECT_EQ(stage.Ini(L"MailAddr"), x.ini.mail);
        EXPECT_EQ(stage.Ini(L"RemPass"), x.ini.remember);
        EXPECT_EQ(stage.Ini(L"AutoLogin"), x.ini.autoLogin);
        std::optional<std::string> copy = stage.RegistryCopy();
        EXPECT_EQ(copy.has_value(), x.copy.has_value());
        if (copy && x.copy) {
            EXPECT_EQ(*copy, *x.copy);
        }
        EXPECT_EQ(stage.Logins(), x.logins);

        const bool loggedIn = x.result == IDOK;
        EXPECT_EQ(g_LoginSession.IsLoggedIn(), loggedIn ? 1 : 0);
        for (const Row& r : x.rows) {
            if (r.time.empty()) {
                EXPECT_EQ(g_strUserName, CString(r.mail.c_str()));
            }
        }
        EXPECT_EQ(g_strUserName.IsEmpty(), !loggedIn);
        EXPECT_EQ(TakeQuit(), x.quits);
        EXPECT_EQ(listener.Stop(), x.quits && x.result == IDCANCEL);
        // A close keeps the main window hidden.
        EXPECT_EQ(showAllowed, x.result == IDCANCEL ? FALSE : TRUE);
    }
}

TEST(LoginDialog, CheckBoxesFollowEachOther) {
    Stage stage;
    CDialogLogin dialog;
    std::vector<std::pair<int, int>> states;
    test_modal::RunModal<CDialogLogin>(dialog, [&](CDialogLogin& d) {
        auto record = [&] { states.push_back({d.m_chkRemember.GetCheck(), d.m_chkAutoLogin.GetCheck()}); };
        Click(d.m_chkAutoLogin);  // ticks both
        record();
        Click(d.m_chkRemember);  // clears both
        record();
        Click(d.m_chkRemember);  // remember alone
        record();
        Click(d.m_chkAutoLogin);
        record();
        Click(d.m_chkAutoLogin);  // clearing auto-login clears remember too
        record();
        d.EndDialog(IDCANCEL);
    });
    const std::vector<std::pair<int, int>> expected = {{1, 1}, {0, 0}, {1, 0}, {1, 1}, {0, 0}};
    EXPECT_EQ(states, expected);
}

TEST(LoginDialog, TemplateTextsAndColours) {
    Stage stage;
    CDialogLogin dialog;
    CString caption, user, password, remember, login, exit;
    bool autoVisible = true, topmost = false;
    LRESULT limit = 0;
    COLORREF labelText = 0, labelBack = 0, editBack = 0;
    test_modal::RunModal<CDialogLogin>(dialog, [&](CDialogLogin& d) {
        caption = d.GetWindowText();
        user = d.m_stcUser.GetWindowText();
        password = d.m_stcPassword.GetWindowText();
        remember = d.m_chkRemember.GetWindowText();
        login = d.m_btnLogin.GetWindowText();
        exit = d.m_btnExit.GetWindowText();
        autoVisible = d.m_chkAutoLogin.IsWindowVisible() != FALSE;
        topmost = (d.GetExStyle() & WS_EX_TOPMOST) != 0;
        limit = ::SendMessageW(::GetWindow(d.m_cmbMail.m_hWnd, GW_CHILD), EM_GETLIMITTEXT, 0, 0);
        HDC dc = ::GetDC(d.m_hWnd);
        EXPECT_NE(d.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                reinterpret_cast<LPARAM>(d.m_stcUser.m_hWnd)),
                  0);
        labelText = GetTextColor(dc);
        labelBack = GetBkColor(dc);
        SetBkColor(dc, 0);
        d.SendMessage(WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(d.m_edtPassword.m_hWnd));
        editBack = GetBkColor(dc);
        ::ReleaseDC(d.m_hWnd, dc);
        d.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(caption, L"登录Tebrin上传助手");
    EXPECT_EQ(user, L"用户名 ：");
    EXPECT_EQ(password, L"密     码：");
    EXPECT_EQ(remember, L"记住密码");
    EXPECT_EQ(login, L"登录");
    EXPECT_EQ(exit, L"退出");
    EXPECT_FALSE(autoVisible);
    EXPECT_TRUE(topmost);
    EXPECT_EQ(limit, 128);
    EXPECT_EQ(labelText, static_cast<COLORREF>(0x555555));
    EXPECT_EQ(labelBack, static_cast<COLORREF>(0xFFFBFA));
    EXPECT_EQ(editBack, static_cast<COLORREF>(0xFFFBFA));
}

// Against the same template shown plainly: 2 pixels more on either side, and the bottom edge
// 2 pixels up on newer systems, 2 down on older ones.
TEST(LoginDialog, ClientRectangleFollowsTheSystemVersion) {
    Stage stage;
    const auto clientSize = test_modal::ModalClientSize;
    CDialog plain(CDialogLogin::IDD);
    const CSize base = clientSize(plain);
    ASSERT_GT(base.cx, 0);
    const BOOL saved = g_Settings.m_bVistaOrLater;
    for (BOOL vista : {TRUE, FALSE}) {
        g_Settings.m_bVistaOrLater = vista;
        CDialogLogin dialog;
        const CSize size = clientSize(dialog);
        EXPECT_EQ(size.cx, base.cx + 4) << vista;
        EXPECT_EQ(size.cy, base.cy + (vista ? -2 : 2)) << vista;
    }
    g_Settings.m_bVistaOrLater = saved;
}

TEST(LoginStore, RegistryCopyIsBoundedAndCutAtTheKeyByte) {
    struct Case {
        const char* name;
        std::wstring password;
        std::string expected;
    };
    const Case cases[] = {
        {"empty", L"", ""},
        {"plain", L"abc", Scrambled("abc")},
        {"key byte inside", L"ab[cd", Scrambled("ab")},
        {"key byte first", L"[abc", ""},
        {"255 bytes", std::wstring(255, L'a'), Scrambled(std::string(255, 'a').c_str())},
        {"300 bytes: the first 255", std::wstring(300, L'a'), Scrambled(std::string(255, 'a').c_str())},
    };
    for (const Case& c : cases) EXPECT_EQ(ScrambledPasswordCopy(c.password.c_str()), c.expected) << c.name;

    char buffer[] = "x[y";
    ScrambleBytes(buffer, kPasswordCopyKey);
    EXPECT_EQ(std::string(buffer, 3), std::string("\x23\0y", 3));  // stops at the byte that became zero
}

}  // namespace
