#include "client/storage/CSqlite.h"

#include <sqlite3.h>

#include "client/storage/CodecVfs.h"
#include "client/storage/UserStore.h"
#include "framework/CString.h"

CSqlite g_Database;

namespace {
// Only the first UTF-16 unit (2 bytes) takes part: stored files depend on exactly that.
const wchar_t kDatabaseKey[] = L"k7#Qv2!pZ9&mR4$x";
const int kDatabaseKeyBytes = 2;
const int kSchemaRetries = 8;

std::string ToUtf8(const wchar_t* text) {
    return text ? afx_string::Narrow(text, afx_string::Length(text), CP_UTF8) : std::string();
}

std::wstring FromUtf8(const char* text) {
    return text ? afx_string::Widen(text, afx_string::Length(text), CP_UTF8) : std::wstring();
}
}  // namespace

CSqlite::CSqlite() : m_pDb(nullptr), m_nLastError(0), m_nRowCount(0), m_nColumnCount(0), m_nCurrentRow(0) {
    InitializeCriticalSection(&m_lock);
}

CSqlite::~CSqlite() {
    Close();
    DeleteCriticalSection(&m_lock);
}

int CSqlite::Open(const wchar_t* path) {
    Close();
    // The codec must sit under SQLite before the file is opened.
    storage::CodecVfsRegister();
    int rc = sqlite3_open16(path ? path : L"", &m_pDb);
    if (rc != SQLITE_OK) m_nLastError = rc;
    sqlite3_key(m_pDb, kDatabaseKey, kDatabaseKeyBytes);
    return rc;
}

void CSqlite::Close() {
    if (!m_pDb) return;
    sqlite3_close(m_pDb);
    m_pDb = nullptr;
}

bool CSqlite::IsTableExist(const wchar_t* name) {
    // The name is bound, never pasted into the text.
    static const wchar_t kSql[] = L"select count(*) from sqlite_master where type='table' and name=?";
    int count = 0;
    if (!m_pDb) return false;
    for (int attempt = 0; attempt < kSchemaRetries; ++attempt) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare16(m_pDb, kSql, -1, &stmt, nullptr) == SQLITE_OK && stmt) {
            sqlite3_bind_text16(stmt, 1, name ? name : L"", -1, SQLITE_TRANSIENT);
            if (sqlite3_step(stmt) == SQLITE_ROW) {
                const void* text = sqlite3_column_text16(stmt, 0);
                count = text ? _wtoi(static_cast<const wchar_t*>(text)) : 0;
            }
        }
        if (sqlite3_finalize(stmt) != SQLITE_SCHEMA) break;
    }
    return count > 0;
}

int CSqlite::ExecDML(const wchar_t* sql) {
    if (!m_pDb) return m_nLastError = SQLITE_MISUSE;
    std::string text = ToUtf8(sql);
    char* error = nullptr;
    int rc = sqlite3_exec(m_pDb, text.c_str(), nullptr, nullptr, &error);
    sqlite3_free(error);
    if (rc != SQLITE_OK) m_nLastError = rc;
    return rc;
}

int CSqlite::Query(const wchar_t* sql) {
    std::string text = ToUtf8(sql);
    char** result = nullptr;
    char* error = nullptr;
    int rows = 0, columns = 0;
    // SQLite does not check for a missing connection here.
    int rc = m_pDb ? sqlite3_get_table(m_pDb, text.c_str(), &result, &rows, &columns, &error) : SQLITE_MISUSE;
    sqlite3_free(error);
    if (rc != SQLITE_OK) {
        m_nLastError = rc;
        rows = columns = 0;
    }
    if (!result) rows = columns = 0;
    if (rows > 0) m_nCurrentRow = 0;
    m_nRowCount = rows;
    m_nColumnCount = columns;
    m_columns.clear();
    m_rows.clear();
    for (int c = 0; c < columns; ++c) m_columns.push_back(FromUtf8(result[c]));
    for (int r = 0; r < rows; ++r) {
        std::vector<std::wstring> row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c) row.push_back(FromUtf8(result[columns + r * columns + c]));
        m_rows.push_back(std::move(row));
    }
    sqlite3_free_table(result);
    return rc;
}

bool CSqlite::MoveFirst() {
    if (m_nRowCount <= 0) return false;
    m_nCurrentRow = 0;
    return true;
}

bool CSqlite::MoveNext() {
    if (m_nCurrentRow >= static_cast<int>(m_rows.size())) return false;
    ++m_nCurrentRow;
    return true;
}

const wchar_t* CSqlite::GetValue(const wchar_t* column) const {
    // Callers compare the answer directly: a missing row or column reads as empty text.
    static const wchar_t kEmpty[] = L"";
    if (!column || m_nCurrentRow < 0 || m_nCurrentRow >= static_cast<int>(m_rows.size())) return kEmpty;
    const std::vector<std::wstring>& row = m_rows[m_nCurrentRow];
    for (size_t c = 0; c < m_columns.size() && c < row.size(); ++c) {
        if (afx_string::CompareNoCase(m_columns[c].c_str(), column) == 0) return row[c].c_str();
    }
    return kEmpty;
}

std::wstring SqlEscape(const wchar_t* text) {
    std::wstring out;
    for (const wchar_t* p = text; p && *p; ++p) {
        out += *p;
        if (*p == L'\'') out += L'\'';
    }
    return out;
}

void PrepareLocalDatabase(CSqlite& db, const wchar_t* path, const wchar_t* serverDomain, const wchar_t* serverIp,
                          const wchar_t* now) {
    UserStore(db, path).Prepare(serverDomain, serverIp, now);
}
