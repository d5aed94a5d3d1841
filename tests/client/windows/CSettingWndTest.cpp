#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "client/app/AutoRun.h"
#include "client/app/CAppSettings.h"
#include "client/storage/CSqlite.h"
#include "client/windows/CSettingWnd.h"
#include "client/windows/LoginStore.h"
#include "tests/support/Capture.h"
#include "tests/support/ModalRun.h"
#include "tests/support/TempDir.h"

namespace {

// The logged-in user's address holds a quote: the statements must keep it inside the literal.
const wchar_t kMe[] = L"li'ming@example.test";
const wchar_t kOther[] = L"other@example.test";

struct UserFlags {
    std::wstring remember, autoLogin, floatWnd;
    bool operator==(const UserFlags& o) const {
        return remember == o.remember && autoLogin == o.autoLogin && floatWnd == o.floatWnd;
    }
};

std::ostream& operator<<(std::ostream& out, const UserFlags& f) {
    auto n = [](const std::wstring& s) { return std::string(s.begin(), s.end()); };
    return out << "{rem " << n(f.remember) << ", auto " << n(f.autoLogin) << ", float " << n(f.floatWnd) << "}";
}

// The start-up value under the real Run key: what the settings object and the dialog write.
bool RunValue(std::wstring* data = nullptr) {
    const AutoRunKey& key = DefaultAutoRunKey();
    HKEY run = nullptr;
    if (RegOpenKeyExW(key.root, key.subKey, 0, KEY_QUERY_VALUE, &run) != ERROR_SUCCESS) return false;
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD bytes = sizeof buffer - sizeof(wchar_t);
    bool present =
        RegQueryValueExW(run, L"Quillex", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) == ERROR_SUCCESS;
    RegCloseKey(run);
    if (data) *data = buffer;
    return present;
}

void SetRunValue(bool present) {
    if (present)
        RegisterAutoRunAt(DefaultAutoRunKey(), GetModulePath());
    else
        UnregisterAutoRunAt(DefaultAutoRunKey());
}

int IniFlag(const wchar_t* key) {
    return static_cast<int>(GetPrivateProfileIntW(L"Setting", key, -1, L".\\Setting.ini"));
}

// A fresh database with the configuration row, the logged-in user and one other user; a fresh
// working folder for ".\Setting.ini"; the real Run value put back afterwards.
class SettingWndTest : public ::testing::Test {
public:
    void SetUp() override {
        m_bHadRunValue = RunValue(&m_strRunValue);
        m_nFloatWnd = g_Settings.m_nFloatWnd;
        g_strDbPath = m_dir.File(L"Quillex.db");
        g_strUserName = kMe;
        PrepareLocalDatabase(m_db, g_strDbPath, L"upload.example.test", L"127.0.0.1", L"2026-12-10 10:20:30");
    }
    void TearDown() override {
        m_db.Close();
        g_Database.Close();
        const AutoRunKey& key = DefaultAutoRunKey();
        if (m_bHadRunValue) {
            HKEY run = nullptr;
            if (RegOpenKeyExW(key.root, key.subKey, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
                RegSetValueExW(run, L"Quillex", 0, REG_SZ, reinterpret_cast<const BYTE*>(m_strRunValue.c_str()),
                               static_cast<DWORD>((m_strRunValue.size() + 1) * sizeof(wchar_t)));
                RegCloseKey(run);
            }
        } else {
            UnregisterAutoRunAt(key);
        }
        g_Settings.m_nFloatWnd = m_nFloatWnd;
        g_strUserName.Empty();
        g_strDbPath.Empty();
    }

    void Exec(const std::wstring& sql) {
        m_db.Open(g_strDbPath);
        EXPECT_EQ(m_db.ExecDML(sql.c_str()), 0) << std::string(sql.begin(), sql.end());
        m_db.Close();
    }
    static std::wstring InsertUserSql(const wchar_t* mail, const std::wstring& remember, const std::wstring& autoLogin,
                                      const std::wstring& floatWnd) {
        return L"insert into qxuser (id, username, usermail, password, isrempwd, isautologin, isshowfloatwnd, "
               L"logintime, comment) values(NULL,'','" +
               SqlEscape(mail) + L"','pw'," + remember + L"," + autoLogin + L"," + floatWnd +
               L",'2026-12-10 10:20:30','');";
    }
    // The stored state before each case, in one statement batch: me, and the other user with
    // flags opposite to what the cases write.
    void Reset(bool runValue, int startMode, const UserFlags& me) {
        Exec(L"delete from qxuser;" + InsertUserSql(kMe, me.remember, me.autoLogin, me.floatWnd) +
             InsertUserSql(kOther, L"0", L"1", L"0") + L"update qxconfig set startmode = " +
             std::to_wstring(startMode));
        SetRunValue(runValue);
        DeleteFileW(m_folder.Dir().File(L"Setting.ini"));
    }

    UserFlags Flags(const wchar_t* mail) {
        UserFlags f;
        m_db.Open(g_strDbPath);
        std::wstring sql = L"select * from qxuser where usermail = '" + SqlEscape(mail) + L"'";
        if (m_db.Query(sql.c_str()) == 0 && m_db.GetRowCount() == 1)
            f = {m_db.GetValue(L"isrempwd"), m_db.GetValue(L"isautologin"), m_db.GetValue(L"isshowfloatwnd")};
        m_db.Close();
        return f;
    }
    std::wstring StartMode() {
        m_db.Open(g_strDbPath);
        std::wstring mode = m_db.Query(L"select * from qxconfig") == 0 ? m_db.GetValue(L"startmode") : L"?";
        m_db.Close();
        return mode;
    }
    int UserRows() {
        m_db.Open(g_strDbPath);
        int rows = m_db.Query(L"select * from qxuser") == 0 ? m_db.GetRowCount() : -1;
        m_db.Close();
        return rows;
    }

    TempDir m_dir;
    TempWorkingFolder m_folder;
    CSqlite m_db;

private:
    bool m_bHadRunValue = false;
    std::wstring m_strRunValue;
    int m_nFloatWnd = 0;
};

struct Boxes {
    int autoRun, autoLogin, floatWnd;
};

Boxes Shown(CDialog& b) {
    auto check = [&](int id) { return static_cast<int>(b.GetDlgItem(id)->SendMessage(BM_GETCHECK)); };
    return {check(CSettingWnd::IDC_AUTO_RUN), check(CSettingWnd::IDC_AUTO_LOGIN), check(CSettingWnd::IDC_FLOAT_WND)};
}

void Tick(CDialog& b, const Boxes& to) {
    b.GetDlgItem(CSettingWnd::IDC_AUTO_RUN)->SendMessage(BM_SETCHECK, to.autoRun);
    b.GetDlgItem(CSettingWnd::IDC_AUTO_LOGIN)->SendMessage(BM_SETCHECK, to.autoLogin);
    b.GetDlgItem(CSettingWnd::IDC_FLOAT_WND)->SendMessage(BM_SETCHECK, to.floatWnd);
}

void Click(CDialog& b, int id) { b.GetDlgItem(id)->PostMessage(BM_CLICK); }

TEST_F(SettingWndTest, EveryBoxStateWithOkAndCancel) {
    const UserFlags meBefore{L"1", L"0", L"1"};
    const UserFlags otherBefore{L"0", L"1", L"0"};
    std::wstring program(GetModulePath());
    for (int state = 0; state < 8; ++state) {
        const Boxes to{(state >> 2) & 1, (state >> 1) & 1, state & 1};
        for (bool ok : {true, false}) {
            SCOPED_TRACE(testing::Message() << "A" << to.autoRun << " L" << to.autoLogin << " F" << to.floatWnd
                                            << (ok ? " OK" : " Cancel"));
            Reset(false, 1, meBefore);
            g_Settings.m_nFloatWnd = 7;
            Boxes shown{-1, -1, -1};
            CSettingWnd dlg;
            INT_PTR result = test_modal::RunModal<CSettingWnd>(dlg, [&](CSettingWnd& b) {
                shown = Shown(b);
                Tick(b, to);
                Click(b, ok ? IDOK : IDCANCEL);
            });
            EXPECT_EQ(shown.autoRun, 0);
            EXPECT_EQ(shown.autoLogin, 0);
            EXPECT_EQ(shown.floatWnd, 1);
            EXPECT_EQ(Flags(kOther), otherBefore);
            if (!ok) {
                EXPECT_EQ(result, IDCANCEL);
                EXPECT_EQ(IniFlag(L"AutoRun"), -1);
                EXPECT_EQ(IniFlag(L"AutoLoginToRun"), -1);
                EXPECT_EQ(IniFlag(L"FloatWnd"), -1);
                EXPECT_FALSE(RunValue());
                EXPECT_EQ(StartMode(), L"1");
                EXPECT_EQ(Flags(kMe), meBefore);
                EXPECT_EQ(g_Settings.m_nFloatWnd, 7);
                continue;
            }
            EXPECT_EQ(result, IDOK);
            EXPECT_EQ(IniFlag(L"AutoRun"), to.autoRun);
            EXPECT_EQ(IniFlag(L"AutoLoginToRun"), to.autoLogin);
            EXPECT_EQ(IniFlag(L"FloatWnd"), to.floatWnd);
            EXPECT_EQ(g_Settings.m_nFloatWnd, to.floatWnd);
            std::wstring runData;
            EXPECT_EQ(RunValue(&runData), to.autoRun == 1);
            if (to.autoRun) {
                EXPECT_EQ(runData, program);
            }
            EXPECT_EQ(StartMode(), to.autoRun ? L"0" : L"1");
            // Ticking auto-login remembers the password too; the untouched box keeps both flags.
            UserFlags meAfter = to.autoLogin ? UserFlags{L"1", L"1", L""} : UserFlags{L"1", L"0", L""};
            meAfter.floatWnd = to.floatWnd ? L"1" : L"0";
            EXPECT_EQ(Flags(kMe), meAfter);
        }
    }
}

TEST_F(SettingWndTest, OkOnAnUntouchedDialogChangesNothing) {
    struct Case {
        const char* name;
        bool runValue;
        UserFlags me;
    };
    const Case cases[] = {
        {"all off, password remembered", false, {L"1", L"0", L"0"}},
        {"all on", true, {L"1", L"1", L"1"}},
        {"start with Windows, no float", true, {L"0", L"0", L"0"}},
        {"float only", false, {L"0", L"0", L"1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int startMode = c.runValue ? 0 : 1;
        Reset(c.runValue, startMode, c.me);
        const UserFlags other = Flags(kOther);
        CSettingWnd dlg;
        Boxes shown{-1, -1, -1};
        EXPECT_EQ(test_modal::RunModal<CSettingWnd>(dlg,
                                                    [&](CSettingWnd& b) {
                                                        shown = Shown(b);
                                                        Click(b, IDOK);
                                                    }),
                  IDOK);
        EXPECT_EQ(shown.autoRun, c.runValue ? 1 : 0);
        EXPECT_EQ(shown.autoLogin, c.me.autoLogin == L"1" ? 1 : 0);
        EXPECT_EQ(shown.floatWnd, c.me.floatWnd == L"1" ? 1 : 0);
        EXPECT_EQ(RunValue(), c.runValue);
        EXPECT_EQ(StartMode(), std::to_wstring(startMode));
        EXPECT_EQ(Flags(kMe), c.me);
        EXPECT_EQ(Flags(kOther), other);
        // The ini keys record what the boxes showed.
        EXPECT_EQ(IniFlag(L"AutoRun"), shown.autoRun);
        EXPECT_EQ(IniFlag(L"AutoLoginToRun"), shown.autoLogin);
        EXPECT_EQ(IniFlag(L"FloatWnd"), shown.floatWnd);
    }
}

TEST_F(SettingWndTest, EscapeAndCloseBoxStoreNothing) {
    const std::function<void(CSettingWnd&)> closers[] = {
        [](CSettingWnd& b) {
            b.GetDlgItem(CSettingWnd::IDC_FLOAT_WND)->PostMessage(WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        },
        [](CSettingWnd& b) { b.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0); },
    };
    for (const auto& close : closers) {
        Reset(false, 1, {L"1", L"0", L"1"});
        CSettingWnd dlg;
        EXPECT_EQ(test_modal::RunModal<CSettingWnd>(dlg,
                                                    [&](CSettingWnd& b) {
                                                        Tick(b, {1, 1, 0});
                                                        close(b);
                                                    }),
                  IDCANCEL);
        EXPECT_EQ(IniFlag(L"FloatWnd"), -1);
        EXPECT_FALSE(RunValue());
        EXPECT_EQ(StartMode(), L"1");
        EXPECT_EQ(Flags(kMe), (UserFlags{L"1", L"0", L"1"}));
    }
}

// A user without a row, a user table without the flag columns, no user table at all: the boxes
// open clear and OK stores the ini keys and the start-up choice without touching other rows.
TEST_F(SettingWndTest, MissingRowColumnOrTableReadsAsNotSet) {
    struct Case {
        const char* name;
        std::function<void(SettingWndTest&)> prepare;
    };
    const Case cases[] = {
        {"no row for the user",
         [](SettingWndTest& t) {
             t.Reset(false, 1, {L"1", L"1", L"1"});
             g_strUserName = L"nobody@example.test";
         }},
        {"old user table",
         [](SettingWndTest& t) {
             t.Exec(L"drop table qxuser");
             t.Exec(L"create table qxuser(id integer primary key, usermail varchar(50), password varchar(50))");
             t.Exec(L"insert into qxuser values(NULL, 'li''ming@example.test', 'pw')");
         }},
        {"no user table", [](SettingWndTest& t) { t.Exec(L"drop table qxuser"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_strUserName = kMe;
        c.prepare(*this);
        const int rows = UserRows();
        const UserFlags me = Flags(kMe);
        const UserFlags other = Flags(kOther);
        DeleteFileW(m_folder.Dir().File(L"Setting.ini"));
        CSettingWnd dlg;
        Boxes shown{-1, -1, -1};
        EXPECT_EQ(test_modal::RunModal<CSettingWnd>(dlg,
                                                    [&](CSettingWnd& b) {
                                                        shown = Shown(b);
                                                        Tick(b, {1, 0, 1});
                                                        Click(b, IDOK);
                                                    }),
                  IDOK);
        EXPECT_EQ(shown.autoLogin, 0);
        EXPECT_EQ(shown.floatWnd, 0);
        EXPECT_EQ(IniFlag(L"AutoRun"), 1);
        EXPECT_EQ(IniFlag(L"FloatWnd"), 1);
        EXPECT_TRUE(RunValue());
        EXPECT_EQ(StartMode(), L"0");
        EXPECT_EQ(UserRows(), rows) << "no row is made";
        EXPECT_EQ(Flags(kMe), me);
        EXPECT_EQ(Flags(kOther), other);
    }
}

// Another connection holds the database while the dialog opens: the boxes open clear, and OK
// stores no flag of the user's that was not read and not changed.
TEST_F(SettingWndTest, UnreadFlagsAreStoredOnlyWhenChanged) {
    struct Case {
        const char* name;
        UserFlags before, after;
        Boxes to;
    };
    const Case cases[] = {
        {"untouched", {L"1", L"1", L"1"}, {L"1", L"1", L"1"}, {0, 0, 0}},
        {"floating window ticked", {L"1", L"0", L"0"}, {L"1", L"0", L"1"}, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset(false, 1, c.before);
        CSqlite holder;
        ASSERT_EQ(holder.Open(g_strDbPath), 0);
        ASSERT_EQ(holder.ExecDML(L"begin exclusive"), 0);
        Boxes shown{-1, -1, -1};
        CSettingWnd dlg;
        EXPECT_EQ(test_modal::RunModal<CSettingWnd>(dlg,
                                                    [&](CSettingWnd& b) {
                                                        shown = Shown(b);
                                                        EXPECT_EQ(holder.ExecDML(L"commit"), 0);
                                                        holder.Close();
                                                        Tick(b, c.to);
                                                        Click(b, IDOK);
                                                    }),
                  IDOK);
        holder.Close();
        EXPECT_EQ(shown.autoLogin, 0);
        EXPECT_EQ(shown.floatWnd, 0);
        EXPECT_EQ(Flags(kMe), c.after);
        EXPECT_EQ(Flags(kOther), (UserFlags{L"0", L"1", L"0"}));
        EXPECT_EQ(StartMode(), L"1");
    }
}

TEST_F(SettingWndTest, TemplateIsAPlainDialog) {
    Reset(false, 1, {L"0", L"0", L"1"});
    CSettingWnd dlg;
    CString title, ok, cancel, autoRun, autoLogin, floatWnd;
    bool autoLoginVisible = true;
    LONG style = 0;
    test_modal::RunModal<CSettingWnd>(dlg, [&](CSettingWnd& b) {
        title = b.GetWindowText();
        ok = b.GetDlgItem(IDOK)->GetWindowText();
        cancel = b.GetDlgItem(IDCANCEL)->GetWindowText();
        autoRun = b.GetDlgItem(CSettingWnd::IDC_AUTO_RUN)->GetWindowText();
        autoLogin = b.GetDlgItem(CSettingWnd::IDC_AUTO_LOGIN)->GetWindowText();
        floatWnd = b.GetDlgItem(CSettingWnd::IDC_FLOAT_WND)->GetWindowText();
        autoLoginVisible = IsWindowVisible(b.GetDlgItem(CSettingWnd::IDC_AUTO_LOGIN)->m_hWnd) != FALSE;
        style = GetWindowLongW(b.m_hWnd, GWL_STYLE);
        b.UpdateWindow();
        test_capture::SaveWindow(b.m_hWnd, "settings_dialog");
        b.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(title, L"设置");
    EXPECT_EQ(ok, L"确定");
    EXPECT_EQ(cancel, L"取消");
    EXPECT_EQ(autoRun, L"开机时自动启动本软件");
    EXPECT_EQ(autoLogin, L"启动本软件时为我自动登录");
    EXPECT_EQ(floatWnd, L"最小化窗口时，显示迷你悬浮框");
    EXPECT_FALSE(autoLoginVisible);
    EXPECT_EQ(style & WS_CAPTION, static_cast<LONG>(WS_CAPTION));
    EXPECT_EQ(style & WS_SYSMENU, static_cast<LONG>(WS_SYSMENU));
}

}  // namespace
