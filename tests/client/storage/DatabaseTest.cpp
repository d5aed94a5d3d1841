#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "client/storage/CSqlite.h"
#include "client/storage/UserStore.h"
#include "tests/support/StorageTestUtil.h"

using storage_test::ReadFile;
using storage_test::ScratchDir;
using storage_test::WriteFile;

namespace {

std::wstring Wide(const std::string& path) { return std::filesystem::path(path).wstring(); }

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { path_ = Wide(dir_.File("Quillex.db")); }
    void Prepare() {
        PrepareLocalDatabase(db_, path_.c_str(), L"upload.example.test", L"127.0.0.1", L"2026-12-10 10:20:30");
    }
    // Runs one query on a freshly opened database, closing it before the values are read.
    int Select(const wchar_t* sql) {
        EXPECT_EQ(db_.Open(path_.c_str()), SQLITE_OK);
        int rc = db_.Query(sql);
        db_.Close();
        return rc;
    }
    ScratchDir dir_;
    std::wstring path_;
    CSqlite db_;
};

TEST_F(DatabaseTest, FirstStartCreatesTablesAndOneConfigRow) {
    Prepare();
    ASSERT_EQ(Select(L"select * from qxconfig"), SQLITE_OK);
    ASSERT_EQ(db_.GetRowCount(), 1);
    ASSERT_TRUE(db_.MoveFirst());
    struct Expect {
        const wchar_t *column, *value;
    } expects[] = {
        {L"serverdomain", L"upload.example.test"},
        {L"serverip", L"127.0.0.1"},
        {L"serverport", L"443"},
        {L"startmode", L"0"},
        {L"switchuser", L"0"},
        {L"preloginuser", L""},
        {L"updatetime", L"2026-12-10 10:20:30"},
        {L"comment", L""},
    };
    for (const Expect& e : expects) EXPECT_STREQ(db_.GetValue(e.column), e.value) << e.column;

    // The schema keeps the statements' text, tabs included; SQLite rewrites only the leading
    // keywords and drops the final semicolon.
    std::wstring config = std::wstring(L"CREATE TABLE") + (kCreateQxConfig + 12);
    std::wstring user = std::wstring(L"CREATE TABLE") + (kCreateQxUser + 12);
    user.pop_back();
    ASSERT_EQ(Select(L"select name, sql from sqlite_master where type='table' order by name"), SQLITE_OK);
    ASSERT_EQ(db_.GetRowCount(), 2);
    db_.MoveFirst();
    EXPECT_STREQ(db_.GetValue(L"sql"), config.c_str());
    db_.MoveNext();
    EXPECT_STREQ(db_.GetValue(L"sql"), user.c_str());
}

// A file the program wrote before: every user's database opens only under the program's key.
TEST_F(DatabaseTest, StoredFileOpensUnderTheProgramsKey) {
    auto stored = ReadFile(STORAGE_DATA_DIR "/Quillex.db");
    ASSERT_EQ(stored.size(), 4096u);
    WriteFile(dir_.File("Quillex.db"), stored);
    struct Expect {
        const wchar_t *table, *column, *value;
    } expects[] = {
        {L"qxconfig", L"serverdomain", L"upload.example.test"},
        {L"qxconfig", L"updatetime", L"2026-12-10 10:20:30"},
        {L"qxuser", L"username", L"\x5f20\x4e09"},
        {L"qxuser", L"usermail", L"user@example.test"},
        {L"qxuser", L"password", L"pw'1"},
    };
    for (const Expect& e : expects) {
        ASSERT_EQ(Select((std::wstring(L"select * from ") + e.table).c_str()), SQLITE_OK) << e.table;
        ASSERT_EQ(db_.GetRowCount(), 1) << e.table;
        db_.MoveFirst();
        EXPECT_STREQ(db_.GetValue(e.column), e.value) << e.column;
    }
}

TEST_F(DatabaseTest, IsTableExistAnswersOnlyForRealTables) {
    Prepare();
    ASSERT_EQ(db_.Open(path_.c_str()), SQLITE_OK);
    struct Case {
        const wchar_t* name;
        bool exists;
    } cases[] = {
        {L"qxconfig", true}, {L"qxuser", true}, {L"QXUSER", false},       {L"nosuch", false},
        {L"", false},        {nullptr, false},  {L"x' or '1'='1", false}, {L"sqlite_master", false},
    };
    for (const Case& c : cases) EXPECT_EQ(db_.IsTableExist(c.name), c.exists) << (c.name ? c.name : L"(null)");
    db_.Close();
    // Closed: every operation fails without touching SQLite.
    EXPECT_FALSE(db_.IsTableExist(L"qxconfig"));
    EXPECT_EQ(db_.ExecDML(L"delete from qxuser"), SQLITE_MISUSE);
    EXPECT_EQ(db_.Query(L"select * from qxconfig"), SQLITE_MISUSE);
    EXPECT_EQ(db_.GetRowCount(), 0);
}

TEST_F(DatabaseTest, SecondStartChangesNothing) {
    Prepare();
    auto before = ReadFile(dir_.File("Quillex.db"));
    Prepare();
    EXPECT_EQ(ReadFile(dir_.File("Quillex.db")), before);
    ASSERT_EQ(Select(L"select * from qxconfig"), SQLITE_OK);
    EXPECT_EQ(db_.GetRowCount(), 1);
    EXPECT_EQ(db_.GetLastError(), 0);
}

TEST_F(DatabaseTest, CursorWalksRowsAndSurvivesClose) {
    Prepare();
    ASSERT_EQ(db_.Open(path_.c_str()), SQLITE_OK);
    ASSERT_EQ(db_.ExecDML(L"insert into qxuser (usermail, password, logintime) values ('a@x', 'pa', '2026-01-01');"
                          L"insert into qxuser (usermail, password, logintime) values ('b@x', NULL, '2026-03-01');"
                          L"insert into qxuser (usermail, password, logintime) values ('c@x', 'pc', '2026-02-01')"),
              SQLITE_OK);
    ASSERT_EQ(db_.Query(L"select * from qxuser order by logintime desc"), SQLITE_OK);
    db_.Close();
    ASSERT_EQ(db_.GetRowCount(), 3);
    ASSERT_TRUE(db_.MoveFirst());
    EXPECT_STREQ(db_.GetValue(L"USERMAIL"), L"b@x");
    EXPECT_STREQ(db_.GetValue(L"password"), L"");  // SQL NULL
    EXPECT_TRUE(db_.MoveNext());
    EXPECT_STREQ(db_.GetValue(L"usermail"), L"c@x");
    EXPECT_TRUE(db_.MoveNext());
    EXPECT_STREQ(db_.GetValue(L"UserMail"), L"a@x");
    EXPECT_TRUE(db_.MoveNext());  // one past the end
    EXPECT_STREQ(db_.GetValue(L"usermail"), L"");
    EXPECT_FALSE(db_.MoveNext());
    db_.MoveFirst();
    EXPECT_STREQ(db_.GetValue(L"startmode"), L"");  // no such column in qxuser
    EXPECT_STREQ(db_.GetValue(nullptr), L"");

    ASSERT_EQ(Select(L"select * from qxuser where usermail = 'nobody'"), SQLITE_OK);
    EXPECT_EQ(db_.GetRowCount(), 0);
    EXPECT_FALSE(db_.MoveFirst());
    EXPECT_STREQ(db_.GetValue(L"usermail"), L"");
}

TEST_F(DatabaseTest, FailedQueryLeavesNoRowsAndKeepsTheError) {
    Prepare();
    EXPECT_EQ(Select(L"select * from no_such_table"), SQLITE_ERROR);
    EXPECT_EQ(db_.GetRowCount(), 0);
    EXPECT_FALSE(db_.MoveFirst());
    EXPECT_EQ(Select(L"select * from qxconfig"), SQLITE_OK);
    EXPECT_EQ(db_.GetLastError(), SQLITE_ERROR);  // never reset
}

TEST_F(DatabaseTest, OpenTwiceAndCloseTwiceLeaveOneConnection) {
    Prepare();
    ASSERT_EQ(db_.Open(path_.c_str()), SQLITE_OK);
    sqlite3_int64 once = sqlite3_memory_used();
    ASSERT_EQ(db_.Open(path_.c_str()), SQLITE_OK);
    EXPECT_EQ(sqlite3_memory_used(), once);
    db_.Close();
    EXPECT_FALSE(db_.IsOpen());
    db_.Close();
    EXPECT_FALSE(db_.IsOpen());
    std::wstring missing = Wide(dir_.File("no-such-folder")) + L"\\Quillex.db";
    EXPECT_EQ(db_.Open(missing.c_str()), SQLITE_CANTOPEN);
    EXPECT_EQ(db_.GetLastError(), SQLITE_CANTOPEN);
    db_.Close();
}

TEST_F(DatabaseTest, ForeignFileFailsEveryStatement) {
    // A database under another key (or none) reads as not a database.
    {
        std::string path = dir_.File("Quillex.db");
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "create table qxconfig(x)", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(other);
    }
    auto before = ReadFile(dir_.File("Quillex.db"));
    Prepare();
    EXPECT_EQ(db_.GetLastError(), SQLITE_NOTADB);
    EXPECT_EQ(ReadFile(dir_.File("Quillex.db")), before);
    ASSERT_EQ(db_.Open(path_.c_str()), SQLITE_OK);
    EXPECT_FALSE(db_.IsTableExist(L"qxconfig"));
    db_.Close();
}

TEST_F(DatabaseTest, QuotedTextIsStoredExactlyAndTouchesNoOtherRow) {
    Prepare();
    const wchar_t* texts[] = {
        L"o'brien@example.test",
        L"'; delete from qxuser; --",
        L"a''b",
        L"'",
        L"x' or '1'='1",
        L"\x4e2d\x6587'\x6d4b\x8bd5@example.test",
        L"back\\slash'",
    };
    ASSERT_EQ(db_.Open(path_.c_str()), SQLITE_OK);
    ASSERT_EQ(db_.ExecDML(L"insert into qxuser (usermail, password) values ('keep@x', 'keep')"), SQLITE_OK);
    for (const wchar_t* text : texts) {
        std::wstring mail = SqlEscape(text), password = SqlEscape((std::wstring(L"pw") + text).c_str());
        wchar_t sql[512];
        swprintf(sql, 512,
                 L"insert into qxuser (id, username, usermail, password, isrempwd, isautologin, isshowfloatwnd, "
                 L"logintime, comment) values(NULL,'','%ls','%ls',%ls,%ls,1,'%ls','')",
                 mail.c_str(), password.c_str(), L"1", L"0", L"2026-12-10 10:00:00");
        EXPECT_EQ(db_.ExecDML(sql), SQLITE_OK) << text;
        swprintf(
            sql, 512,
            L"update qxuser set password ='%ls',isrempwd=%ls,isautologin=%ls,logintime='%ls' where usermail = '%ls' ",
            password.c_str(), L"0", L"1", L"2026-12-10 11:00:00", mail.c_str());
        EXPECT_EQ(db_.ExecDML(sql), SQLITE_OK) << text;
        ASSERT_EQ(db_.Query((L"select * from qxuser where usermail = '" + mail + L"'").c_str()), SQLITE_OK);
        ASSERT_EQ(db_.GetRowCount(), 1) << text;
        db_.MoveFirst();
        EXPECT_STREQ(db_.GetValue(L"usermail"), text);
        EXPECT_EQ(db_.GetValue(L"password"), std::wstring(L"pw") + text);
        EXPECT_STREQ(db_.GetValue(L"isautologin"), L"1");
    }
    ASSERT_EQ(db_.Query(L"select * from qxuser where usermail = 'keep@x'"), SQLITE_OK);
    ASSERT_EQ(db_.GetRowCount(), 1);
    db_.MoveFirst();
    EXPECT_STREQ(db_.GetValue(L"password"), L"keep");
    EXPECT_STREQ(db_.GetValue(L"logintime"), L"");
    ASSERT_EQ(db_.Query(L"select * from qxuser"), SQLITE_OK);
    EXPECT_EQ(db_.GetRowCount(), int(1 + sizeof texts / sizeof texts[0]));
    db_.Close();
}

TEST(SqlEscape, DoublesEveryQuoteOnly) {
    struct Case {
        const wchar_t *in, *out;
    } cases[] = {
        {L"", L""}, {nullptr, L""}, {L"plain", L"plain"}, {L"'", L"''"}, {L"a'b''c", L"a''b''''c"},
    };
    for (const Case& c : cases) EXPECT_EQ(SqlEscape(c.in), c.out);
}

}  // namespace
