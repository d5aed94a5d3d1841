// UserStore, StoredUser: the local database's two tables and every statement on them, behind
// typed calls. Each call opens the database, runs its statements and closes it again; false
// means a statement failed (a file that cannot be opened, is not this program's, or lacks the
// table), and whatever the call reads is then left empty.
#pragma once

#include <optional>
#include <string>
#include <vector>

class CSqlite;

// One remembered user as stored. The flags stay texts ("1" or "0" from this program): each
// reader keeps its own rule for any other text an older file may hold.
struct StoredUser {
    std::wstring mail, password;
    std::wstring remember, autoLogin, floatWnd;
    std::wstring loginTime;
};

class UserStore {
public:
    // The connection is the caller's (the program has one, g_Database); the path is copied.
    UserStore(CSqlite& db, const wchar_t* path);

    // Start-up: the missing tables, and the configuration row when there is none. `now` is the
    // local time as "%Y-%m-%d %H:%M:%S".
    bool Prepare(const wchar_t* serverDomain, const wchar_t* serverIp, const wchar_t* now);

    // The configuration's switch-user mark (empty without a configuration row), cleared at once
    // so it holds for one opening of the login dialog only.
    bool TakeSwitchUserMark(std::wstring* mark);
    bool SaveStartMode(bool startWithWindows);

    // Every remembered user, newest login first.
    bool ReadUsers(std::vector<StoredUser>* users);
    // None when the address has no row.
    bool ReadUser(const wchar_t* mail, std::optional<StoredUser>* user);
    // The address's row gets the password, the flags and the time, or is added with the floating
    // window shown.
    bool RecordLogin(const wchar_t* mail, const wchar_t* password, bool remember, bool autoLogin, const wchar_t* now);
    // Auto-login takes the remember flag with it.
    bool SaveAutoLogin(const wchar_t* mail, bool autoLogin);
    bool SaveFloatWnd(const wchar_t* mail, bool show);

private:
    CSqlite& m_db;
    std::wstring m_strPath;
};

// Created exactly like this, so the schema text a stored file keeps stays the same.
extern const wchar_t kCreateQxConfig[];
extern const wchar_t kCreateQxUser[];
