#include "client/storage/UserStore.h"

#include <sqlite3.h>

#include "client/storage/CSqlite.h"

const wchar_t kCreateQxConfig[] =
    L"create table qxconfig(id integer primary key,serverdomain varchar(255),serverip varchar(50),"
    L"\t\t\t\t\t  serverport varchar(5), startmode int, switchuser int, preloginuser varchar(255),"
    L"updatetime timestamp, comment varchar (200))";
const wchar_t kCreateQxUser[] =
    L"create table qxuser(id integer primary key,username varchar(50),\t\t\t\t\t\tusermail varchar(50), "
    L"password varchar(50), isrempwd int, isautologin int, isshowfloatwnd int, logintime timestamp, "
    L"comment varchar (200));";

namespace {

// Open for one call, closed however the call ends.
class Opened {
public:
    Opened(CSqlite& db, const std::wstring& path) : m_db(db), m_bOk(db.Open(path.c_str()) == SQLITE_OK) {}
    ~Opened() { m_db.Close(); }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    bool Ok() const { return m_bOk; }

private:
    CSqlite& m_db;
    bool m_bOk;
};

std::wstring Number(bool flag) { return flag ? L"1" : L"0"; }
std::wstring Quoted(const wchar_t* text) { return L"'" + SqlEscape(text) + L"'"; }

StoredUser CurrentUser(const CSqlite& db) {
    return {db.GetValue(L"usermail"),    db.GetValue(L"password"),       db.GetValue(L"isrempwd"),
            db.GetValue(L"isautologin"), db.GetValue(L"isshowfloatwnd"), db.GetValue(L"logintime")};
}

// The lookup of one address's row, the address quoted.
std::wstring SelectUserSql(const wchar_t* mail) { return L"select * from qxuser where usermail = " + Quoted(mail); }

}  // namespace

UserStore::UserStore(CSqlite& db, const wchar_t* path) : m_db(db), m_strPath(path ? path : L"") {}

bool UserStore::Prepare(const wchar_t* serverDomain, const wchar_t* serverIp, const wchar_t* now) {
    Opened open(m_db, m_strPath);
    if (!open.Ok()) return false;
    bool ok = true;
    if (!m_db.IsTableExist(L"qxconfig")) ok = m_db.ExecDML(kCreateQxConfig) == SQLITE_OK;
    if (m_db.Query(L"select * from qxconfig") != SQLITE_OK) {
        ok = false;
    } else if (m_db.GetRowCount() == 0) {
        const std::wstring sql = L"insert into qxconfig values (NULL," + Quoted(serverDomain) + L", " +
                                 Quoted(serverIp) + L", '443',0,0,''," + Quoted(now) + L",'');";
        ok = m_db.ExecDML(sql.c_str()) == SQLITE_OK && ok;
    }
    if (!m_db.IsTableExist(L"qxuser")) ok = m_db.ExecDML(kCreateQxUser) == SQLITE_OK && ok;
    return ok;
}

bool UserStore::TakeSwitchUserMark(std::wstring* mark) {
    mark->clear();
    Opened open(m_db, m_strPath);
    if (!open.Ok()) return false;
    const bool read = m_db.Query(L"select * from qxconfig") == SQLITE_OK;
    if (read && m_db.GetRowCount() > 0) *mark = m_db.GetValue(L"switchuser");
    // Cleared even when it could not be read, so no later opening inherits it.
    return m_db.ExecDML(L"update qxconfig set switchuser = 0") == SQLITE_OK && read;
}

bool UserStore::SaveStartMode(bool startWithWindows) {
    Opened open(m_db, m_strPath);
    const std::wstring sql = L"update qxconfig set startmode = " + Number(!startWithWindows);
    return open.Ok() && m_db.ExecDML(sql.c_str()) == SQLITE_OK;
}

bool UserStore::ReadUsers(std::vector<StoredUser>* users) {
    users->clear();
    Opened open(m_db, m_strPath);
    if (!open.Ok() || m_db.Query(L"select * from qxuser order by logintime desc") != SQLITE_OK) return false;
    m_db.MoveFirst();
    for (int i = 0; i < m_db.GetRowCount(); ++i, m_db.MoveNext()) users->push_back(CurrentUser(m_db));
    return true;
}

bool UserStore::ReadUser(const wchar_t* mail, std::optional<StoredUser>* user) {
    user->reset();
    Opened open(m_db, m_strPath);
    if (!open.Ok() || m_db.Query(SelectUserSql(mail).c_str()) != SQLITE_OK) return false;
    if (m_db.MoveFirst()) *user = CurrentUser(m_db);
    return true;
}

bool UserStore::RecordLogin(const wchar_t* mail, const wchar_t* password, bool remember, bool autoLogin,
                            const wchar_t* now) {
    Opened open(m_db, m_strPath);
    if (!open.Ok() || m_db.Query(SelectUserSql(mail).c_str()) != SQLITE_OK) return false;
    const std::wstring sql =
        m_db.GetRowCount() > 0
            ? L"update qxuser set password =" + Quoted(password) + L",isrempwd=" + Number(remember) + L",isautologin=" +
                  Number(autoLogin) + L",logintime=" + Quoted(now) + L" where usermail = " + Quoted(mail) + L" "
            : L"insert into qxuser (id, username, usermail, password, isrempwd, isautologin, isshowfloatwnd, "
              L"logintime, comment) values(NULL,''," +
                  Quoted(mail) + L"," + Quoted(password) + L"," + Number(remember) + L"," + Number(autoLogin) + L",1," +
                  Quoted(now) + L",'')";
    return m_db.ExecDML(sql.c_str()) == SQLITE_OK;
}

bool UserStore::SaveAutoLogin(const wchar_t* mail, bool autoLogin) {
    Opened open(m_db, m_strPath);
    const std::wstring n = Number(autoLogin);
    const std::wstring sql =
        L"update qxuser set isrempwd=" + n + L", isautologin = " + n + L"  where usermail =" + Quoted(mail);
    return open.Ok() && m_db.ExecDML(sql.c_str()) == SQLITE_OK;
}

bool UserStore::SaveFloatWnd(const wchar_t* mail, bool show) {
    Opened open(m_db, m_strPath);
    const std::wstring sql =
        L"update qxuser set isshowfloatwnd = " + Number(show) + L"  where usermail =" + Quoted(mail);
    return open.Ok() && m_db.ExecDML(sql.c_str()) == SQLITE_OK;
}
