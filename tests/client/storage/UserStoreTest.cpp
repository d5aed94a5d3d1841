#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/storage/CSqlite.h"
#include "client/storage/UserStore.h"
#include "tests/support/StorageTestUtil.h"

using storage_test::ReadFile;
using storage_test::ScratchDir;

namespace {

// Quotes that would end the literal, in the address and in the password.
const wchar_t kLi[] = L"li'ming@example.test";
const wchar_t kLiPassword[] = L"'; delete from qxuser; --";
const wchar_t kOther[] = L"x' or '1'='1";

std::wstring Wide(const std::string& path) { return std::filesystem::path(path).wstring(); }

std::string Text(const std::wstring& w) { return std::string(w.begin(), w.end()); }

std::string Show(const StoredUser& u) {
    return Text(u.mail + L"|" + u.password + L"|" + u.remember + u.autoLogin + u.floatWnd + L"|" + u.loginTime);
}

class UserStoreTest : public ::testing::Test {
public:
    void SetUp() override { path_ = Wide(dir_.File("Quillex.db")); }

    UserStore Store() { return UserStore(db_, path_.c_str()); }

    // Straight through the wrapper, to see what the store wrote.
    void Exec(const wchar_t* sql) {
        ASSERT_EQ(raw_.Open(path_.c_str()), SQLITE_OK);
        EXPECT_EQ(raw_.ExecDML(sql), SQLITE_OK) << Text(sql);
        raw_.Close();
    }
    std::wstring Value(const wchar_t* sql, const wchar_t* column) {
        EXPECT_EQ(raw_.Open(path_.c_str()), SQLITE_OK);
        EXPECT_EQ(raw_.Query(sql), SQLITE_OK) << Text(sql);
        raw_.Close();
        return raw_.GetRowCount() == 1 ? raw_.GetValue(column)
                                       : L"(rows: " + std::to_wstring(raw_.GetRowCount()) + L")";
    }
    std::string User(const wchar_t* mail) {
        std::optional<StoredUser> user;
        EXPECT_TRUE(Store().ReadUser(mail, &user));
        return user ? Show(*user) : "(none)";
    }

    ScratchDir dir_;
    std::wstring path_;
    CSqlite db_, raw_;
};

TEST_F(UserStoreTest, ConfigurationRowRoundTrips) {
    ASSERT_TRUE(Store().Prepare(L"upload.example.test", L"127.0.0.1", L"2026-12-10 10:20:30"));
    std::wstring mark = L"junk";
    EXPECT_TRUE(Store().TakeSwitchUserMark(&mark));
    EXPECT_EQ(mark, L"0");

    Exec(L"update qxconfig set switchuser = 1");
    EXPECT_TRUE(Store().TakeSwitchUserMark(&mark));
    EXPECT_EQ(mark, L"1");
    EXPECT_TRUE(Store().TakeSwitchUserMark(&mark));
    EXPECT_EQ(mark, L"0") << "the mark holds for one opening";

    for (bool withWindows : {true, false, true}) {
        EXPECT_TRUE(Store().SaveStartMode(withWindows));
        EXPECT_EQ(Value(L"select * from qxconfig", L"startmode"), withWindows ? L"0" : L"1");
    }
    // The other values stay as the start-up wrote them.
    EXPECT_EQ(Value(L"select * from qxconfig", L"serverdomain"), L"upload.example.test");
    EXPECT_EQ(Value(L"select * from qxconfig", L"updatetime"), L"2026-12-10 10:20:30");

    Exec(L"delete from qxconfig");
    EXPECT_TRUE(Store().TakeSwitchUserMark(&mark));
    EXPECT_EQ(mark, L"") << "no configuration row";
}

TEST_F(UserStoreTest, UserRowsRoundTripWithQuotesKeptInside) {
    ASSERT_TRUE(Store().Prepare(L"upload.example.test", L"127.0.0.1", L"2026-12-10 10:20:30"));
    std::vector<StoredUser> users(1);
    EXPECT_TRUE(Store().ReadUsers(&users));
    EXPECT_TRUE(users.empty());
    EXPECT_EQ(User(kLi), "(none)");

    // First logins add rows with the floating window shown, username and comment empty.
    EXPECT_TRUE(Store().RecordLogin(kLi, kLiPassword, true, false, L"2026-12-10 11:00:00"));
    EXPECT_TRUE(Store().RecordLogin(kOther, L"", false, true, L"2026-12-10 12:00:00"));
    ASSERT_TRUE(Store().ReadUsers(&users));
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(Show(users[0]), Text(std::wstring(kOther) + L"||011|2026-12-10 12:00:00")) << "newest first";
    EXPECT_EQ(Show(users[1]), Text(std::wstring(kLi) + L"|" + kLiPassword + L"|101|2026-12-10 11:00:00"));
    const std::wstring selectLi = L"select * from qxuser where usermail = '" + SqlEscape(kLi) + L"'";
    EXPECT_EQ(Value(selectLi.c_str(), L"username"), L"");
    EXPECT_EQ(Value(selectLi.c_str(), L"comment"), L"");

    // A later login updates password, flags and time only.
    Exec(L"update qxuser set username = 'Li', comment = 'note' where id = 1");
    EXPECT_TRUE(Store().SaveFloatWnd(kLi, false));
    EXPECT_TRUE(Store().RecordLogin(kLi, L"pw'2", false, true, L"2026-12-10 13:00:00"));
    EXPECT_EQ(User(kLi), Text(std::wstring(kLi) + L"|pw'2|010|2026-12-10 13:00:00"));
    EXPECT_EQ(Value(selectLi.c_str(), L"username"), L"Li");
    EXPECT_EQ(Value(selectLi.c_str(), L"comment"), L"note");
    ASSERT_TRUE(Store().ReadUsers(&users));
    EXPECT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].mail, kLi);

    // The settings' flags reach the one address only; auto-login takes remember with it.
    const std::string other = User(kOther);
    EXPECT_TRUE(Store().SaveAutoLogin(kLi, true));
    EXPECT_EQ(User(kLi), Text(std::wstring(kLi) + L"|pw'2|110|2026-12-10 13:00:00"));
    EXPECT_TRUE(Store().SaveAutoLogin(kLi, false));
    EXPECT_TRUE(Store().SaveFloatWnd(kLi, true));
    EXPECT_EQ(User(kLi), Text(std::wstring(kLi) + L"|pw'2|001|2026-12-10 13:00:00"));
    EXPECT_EQ(User(kOther), other);
    // An address without a row changes nothing and is no failure.
    EXPECT_TRUE(Store().SaveFloatWnd(L"nobody@example.test", false));
    EXPECT_EQ(User(L"nobody@example.test"), "(none)");
    EXPECT_EQ(Value(L"select count(*) as n from qxuser", L"n"), L"2");
}

// Every call says so when the file fails it, and hands back nothing it did not read.
TEST_F(UserStoreTest, FailureIsReported) {
    using Setup = std::function<void(UserStoreTest&)>;
    struct Case {
        const char* name;
        Setup setup;
        bool prepares, configWorks;
    };
    const Case cases[] = {
        {"a folder that does not exist",
         [](UserStoreTest& t) { t.path_ = Wide(t.dir_.File("no-such-folder")) + L"\\Quillex.db"; }, false, false},
        {"a database of another program",
         [](UserStoreTest& t) {
             sqlite3* other = nullptr;
             ASSERT_EQ(sqlite3_open(t.dir_.File("Quillex.db").c_str(), &other), SQLITE_OK);
             ASSERT_EQ(sqlite3_exec(other, "create table qxuser(x)", nullptr, nullptr, nullptr), SQLITE_OK);
             sqlite3_close(other);
         },
         false, false},
        {"no user table",
         [](UserStoreTest& t) {
             ASSERT_TRUE(t.Store().Prepare(L"upload.example.test", L"127.0.0.1", L"2026-12-10 10:20:30"));
             t.Exec(L"drop table qxuser");
         },
         true, true},
        {"no tables at all", [](UserStoreTest& t) { t.Exec(L"create table other(x)"); }, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir_.File("Quillex.db"));
        path_ = Wide(dir_.File("Quillex.db"));
        c.setup(*this);
        const auto before = ReadFile(dir_.File("Quillex.db"));

        std::wstring mark = L"junk";
        std::vector<StoredUser> users(1);
        std::optional<StoredUser> user = StoredUser();
        EXPECT_EQ(Store().TakeSwitchUserMark(&mark), c.configWorks);
        EXPECT_EQ(mark, c.configWorks ? L"0" : L"");
        EXPECT_EQ(Store().SaveStartMode(true), c.configWorks);
        EXPECT_FALSE(Store().ReadUsers(&users));
        EXPECT_TRUE(users.empty());
        EXPECT_FALSE(Store().ReadUser(kLi, &user));
        EXPECT_FALSE(user.has_value());
        EXPECT_FALSE(Store().RecordLogin(kLi, L"pw", true, true, L"2026-12-10 11:00:00"));
        EXPECT_FALSE(Store().SaveAutoLogin(kLi, true));
        EXPECT_FALSE(Store().SaveFloatWnd(kLi, true));
        if (!c.configWorks) {
            EXPECT_EQ(ReadFile(dir_.File("Quillex.db")), before) << "nothing written";
        }
        // The start-up makes what is missing where the file lets it.
        EXPECT_EQ(Store().Prepare(L"upload.example.test", L"127.0.0.1", L"2026-12-10 10:20:30"), c.prepares);
        EXPECT_EQ(Store().ReadUsers(&users), c.prepares);
    }
}

}  // namespace
