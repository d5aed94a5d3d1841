// CSqlite: the one wrapper over the local database, with its query result held as wide strings.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct sqlite3;

class CSqlite {
public:
    CSqlite();
    virtual ~CSqlite();

    int Open(const wchar_t* path);
    void Close();
    bool IsTableExist(const wchar_t* name);
    int ExecDML(const wchar_t* sql);
    int Query(const wchar_t* sql);
    int GetRowCount() const { return m_nRowCount; }
    bool MoveFirst();
    bool MoveNext();
    // Never null: empty text when the name, the column or the row is missing.
    const wchar_t* GetValue(const wchar_t* column) const;

    int GetLastError() const { return m_nLastError; }
    bool IsOpen() const { return m_pDb != nullptr; }

private:
    CSqlite(const CSqlite&) = delete;
    CSqlite& operator=(const CSqlite&) = delete;

    sqlite3* m_pDb;
    std::vector<std::wstring> m_columns;
    std::vector<std::vector<std::wstring>> m_rows;
    int m_nLastError;
    int m_nRowCount;
    int m_nColumnCount;
    int m_nCurrentRow;
    CRITICAL_SECTION m_lock;
};

extern CSqlite g_Database;

// Text placed inside a single-quoted SQL literal: every quote doubled, so the text can never end
// the literal.
std::wstring SqlEscape(const wchar_t* text);

// Start-up: UserStore::Prepare on this connection; the start-up goes on whatever it answers.
void PrepareLocalDatabase(CSqlite& db, const wchar_t* path, const wchar_t* serverDomain, const wchar_t* serverIp,
                          const wchar_t* now);
