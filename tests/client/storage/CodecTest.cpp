#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <string>

#include "client/storage/Codec.h"
#include "client/storage/CodecVfs.h"
#include "tests/support/StorageTestUtil.h"

using namespace storage;
using storage_test::Hex;
using storage_test::ReadFile;
using storage_test::ScratchDir;
using storage_test::Unhex;
using storage_test::WriteFile;

namespace {

const char kHeader[] = "SQLite format 3";
const uint8_t kProgramKey[2] = {'k', 0};  // first UTF-16 unit of the program's key

sqlite3* OpenKeyed(const std::string& path, const void* key, int nKey) {
    EXPECT_EQ(CodecVfsRegister(), SQLITE_OK);
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_key(db, key, nKey), SQLITE_OK);
    return db;
}

int Exec(sqlite3* db, const std::string& sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); }

// All values of a query joined with '|', rows with ';'; "error N" when it fails.
std::string Rows(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    if (rc != SQLITE_OK) return "error " + std::to_string(rc);
    std::string out;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            const unsigned char* v = sqlite3_column_text(st, c);
            out += (c ? "|" : "") + std::string(v ? reinterpret_cast<const char*>(v) : "");
        }
        out += ";";
    }
    sqlite3_finalize(st);
    return rc == SQLITE_DONE ? out : "error " + std::to_string(rc);
}

void MakeSample(const std::string& path, const void* key, int nKey, const std::string& prelude = "") {
    sqlite3* db = OpenKeyed(path, key, nKey);
    ASSERT_EQ(Exec(db, prelude + "create table t(id integer primary key, v text);"
                                 "insert into t values (1, 'one'), (2, 'two');"
                                 "insert into t select id + 2, printf('%0500d', id) from t;"),
              SQLITE_OK);
    sqlite3_close(db);
}
const char kSampleRows[] = "1|one;2|two;";

bool StartsWithHeader(const std::vector<uint8_t>& file) {
    return file.size() >= 16 && std::memcmp(file.data(), kHeader, 16) == 0;
}

#ifdef STORAGE_ORACLE
std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, pipe)) out += buf;
    pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}
#endif

}  // namespace

TEST(CodecVectors, DerivationIvAndPageKey) {
    struct Derive {
        std::string key, derived;
    } derives[] = {
        {"6b00", "fc5d92a0ce88e11942694e5c5389310dcf350ec8d28a8ebd15f3c016279ce18a"},
        {"6b003700", "0c167090bb2edadf56e251cce8753e6fa1d97d142a780c21cdaa5cbcfb03b3b3"},
        {"", "e36e1031fbe92304fa62a6e8b5abf35753631818b5eb3c25a035427ec4d52f68"},
        // 34 bytes: only the first 32 count.
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f2021",
         "429c0f5744662729924e804a9b86b1f0338db1d187263423f4b7b953dd083bdf"},
    };
    for (const Derive& d : derives) {
        auto key = Unhex(d.key);
        uint8_t out[32];
        CodecDeriveKey(key.data(), int(key.size()), out);
        EXPECT_EQ(Hex(out, 32), d.derived) << d.key;
    }
    struct Iv {
        uint32_t pgno;
        std::string iv;
    } ivs[] = {
        {1, "20d7420f9c37a35dca6fe92a1c6999a9"},
        {2, "b2547aac5270eef583e1d267a725d988"},
        {1000, "fca0bda904208d25dabb12dc671b89ab"},
        {1073741824, "a47d98dd76a850eab1b7473fb37301ed"},
    };
    for (const Iv& v : ivs) {
        uint8_t out[16];
        CodecPageIV(v.pgno, out);
        EXPECT_EQ(Hex(out, 16), v.iv) << v.pgno;
    }
    auto base = Unhex(derives[0].derived);
    uint8_t pageKey[32];
    CodecPageKey(base.data(), 1, pageKey);
    EXPECT_EQ(Hex(pageKey, 32), "40afa5de74c586c0d6fae9bc7e7903fa0c08306848122b564e6432258ac79f52");
    CodecPageKey(base.data(), 7, pageKey);
    EXPECT_EQ(Hex(pageKey, 32), "6bd57cf2b7f09212adf3eb007fb017afa36b68f611bbd01c24396af7a3b7f153");
}

#ifdef STORAGE_ORACLE
TEST(CodecVectors, AgreeWithOracleForManyInputs) {
    for (int n = 1; n <= 40; n += 3) {
        std::vector<uint8_t> key(n);
        for (int i = 0; i < n; ++i) key[i] = uint8_t(37 * i + n);
        uint8_t derived[32], pageKey[32], iv[16];
        CodecDeriveKey(key.data(), n, derived);
        EXPECT_EQ(Hex(derived, 32), Shell(std::string(STORAGE_ORACLE) + " derive " + Hex(key.data(), n)));
        uint32_t pgno = uint32_t(n) * 7919u * 13u;
        CodecPageIV(pgno, iv);
        EXPECT_EQ(Hex(iv, 16), Shell(std::string(STORAGE_ORACLE) + " iv " + std::to_string(pgno)));
        CodecPageKey(derived, pgno, pageKey);
        EXPECT_EQ(Hex(pageKey, 32),
                  Shell(std::string(STORAGE_ORACLE) + " pagekey " + Hex(derived, 32) + " " + std::to_string(pgno)));
    }
}

TEST(CodecFile, ProgramFileOpensInStockSqliteAfterOracleDeciphers) {
    ScratchDir dir;
    std::string enc = dir.File("enc.db"), clear = dir.File("clear.db");
    MakeSample(enc, kProgramKey, 2);
    auto bytes = ReadFile(enc);
    ASSERT_EQ(bytes.size() % 1024, 0u);
    EXPECT_FALSE(StartsWithHeader(bytes));
    ASSERT_EQ(Shell(std::string(STORAGE_ORACLE) + " decrypt 6b00 1024 " + enc + " " + clear + "; echo $?"), "0");
    EXPECT_TRUE(StartsWithHeader(ReadFile(clear)));
    EXPECT_EQ(Shell("sqlite3 " + clear + " 'pragma integrity_check; select id, v from t where id < 3'"),
              "ok\n1|one\n2|two");
}

TEST(CodecFile, OracleFileReadsInProgram) {
    ScratchDir dir;
    std::string enc = dir.File("enc.db"), clear = dir.File("clear.db");
    ASSERT_EQ(
        Shell("sqlite3 " + clear +
              " 'pragma page_size=1024; create table t(id integer primary key, v text);"
              " insert into t values (1, \"one\"), (2, \"two\"); insert into t select id+2, zeroblob(900) from t;'"
              "; echo $?"),
        "0");
    ASSERT_EQ(Shell(std::string(STORAGE_ORACLE) + " encrypt 6b00 1024 " + clear + " " + enc + "; echo $?"), "0");
    sqlite3* db = OpenKeyed(enc, kProgramKey, 2);
    EXPECT_EQ(Rows(db, "pragma integrity_check"), "ok;");
    EXPECT_EQ(Rows(db, "select id, v from t where id < 3"), kSampleRows);
    sqlite3_close(db);
}
#endif

// The program wrote this file through CSqlite (its two tables, one user): it must keep reading.
TEST(CodecFile, StoredProgramFileReads) {
    ScratchDir dir;
    auto stored = ReadFile(STORAGE_DATA_DIR "/Quillex.db");
    ASSERT_EQ(stored.size(), 4096u);
    WriteFile(dir.File("Quillex.db"), stored);
    sqlite3* db = OpenKeyed(dir.File("Quillex.db"), kProgramKey, 2);
    EXPECT_EQ(Rows(db, "pragma integrity_check"), "ok;");
    EXPECT_EQ(Rows(db, "select * from qxconfig"), "1|upload.example.test|127.0.0.1|443|0|0||2026-12-10 10:20:30|;");
    EXPECT_EQ(Rows(db, "select * from qxuser"),
              "1|\xe5\xbc\xa0\xe4\xb8\x89|user@example.test|pw'1|1|0|1|2026-12-10 11:00:00|;");
    sqlite3_close(db);
}

// The codec follows whatever page size the file has; its buffer grows with it.
TEST(CodecFile, EveryPageSizeRoundTrips) {
    for (int size : {512, 1024, 4096, 32768}) {
        ScratchDir dir;
        std::string path = dir.File("a.db");
        MakeSample(path, kProgramKey, 2, "pragma page_size=" + std::to_string(size) + ";");
        EXPECT_EQ(ReadFile(path).size() % size, 0u) << size;
        sqlite3* db = OpenKeyed(path, kProgramKey, 2);
        EXPECT_EQ(Rows(db, "pragma integrity_check"), "ok;") << size;
        EXPECT_EQ(Rows(db, "pragma page_size"), std::to_string(size) + ";");
        EXPECT_EQ(Rows(db, "select id, v from t where id < 3"), kSampleRows) << size;
        ASSERT_EQ(Exec(db, "begin; delete from t where id > 2; rollback"), SQLITE_OK);
        EXPECT_EQ(Rows(db, "select count(*) from t"), "4;") << size;
        sqlite3_close(db);
#ifdef STORAGE_ORACLE
        std::string clear = dir.File("clear.db");
        ASSERT_EQ(Shell(std::string(STORAGE_ORACLE) + " decrypt 6b00 " + std::to_string(size) + " " + path + " " +
                        clear + "; echo $?"),
                  "0");
        EXPECT_EQ(Shell("sqlite3 " + clear + " 'pragma integrity_check; select count(*) from t'"), "ok\n4") << size;
#endif
    }
}

TEST(CodecFile, KeysThatAgreeWhereTheyCount) {
    const char16_t first[] = u"k7#Qv2!pZ9&mR4$x", second[] = u"kXXXXXXXXXXXXXXX", other[] = u"q7#Qv2!pZ9&mR4$x";
    std::string longA(40, 'a'), longB = std::string(32, 'a') + "bbbbbbbb";
    struct Case {
        const void* a;
        int na;
        const void* b;
        int nb;
        bool same;
    } cases[] = {
        {first, 2, second, 2, true},
        {first, 2, other, 2, false},
        {longA.data(), 40, longB.data(), 40, true},
        {first, 32, second, 32, false},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        MakeSample(dir.File("a.db"), c.a, c.na);
        sqlite3* db = OpenKeyed(dir.File("a.db"), c.b, c.nb);
        EXPECT_EQ(Rows(db, "select id, v from t where id < 3"),
                  c.same ? kSampleRows : "error " + std::to_string(SQLITE_NOTADB));
        sqlite3_close(db);
    }
}

TEST(CodecFile, KeyPragmas) {
    ScratchDir dir;
    std::string path = dir.File("a.db");
    MakeSample(path, "secret", 6);
    struct Case {
        std::string pragma;
        int rc;
        std::string rows;
    } cases[] = {
        {"pragma key='secret'", SQLITE_OK, kSampleRows},
        {"pragma hexkey='736563726574'", SQLITE_OK, kSampleRows},
        {"pragma key='other'", SQLITE_OK, "error " + std::to_string(SQLITE_NOTADB)},
        {"pragma hexkey='7g'", SQLITE_ERROR, "error " + std::to_string(SQLITE_NOTADB)},
    };
    for (const Case& c : cases) {
        sqlite3* db = OpenKeyed(path, nullptr, 0);
        EXPECT_EQ(Exec(db, c.pragma), c.rc) << c.pragma;
        EXPECT_EQ(Rows(db, "select id, v from t where id < 3"), c.rows) << c.pragma;
        sqlite3_close(db);
    }
}

TEST(CodecFile, NoKeyLeavesTheFileInClear) {
    struct Case {
        const void* key;
        int n;
    } cases[] = {{kProgramKey, 0}, {nullptr, 2}};
    for (const Case& c : cases) {
        ScratchDir dir;
        MakeSample(dir.File("a.db"), c.key, c.n);
        EXPECT_TRUE(StartsWithHeader(ReadFile(dir.File("a.db"))));
    }
}

TEST(CodecFile, WrongKeyFailsAndLeavesTheFileUntouched) {
    ScratchDir dir;
    MakeSample(dir.File("a.db"), kProgramKey, 2);
    auto before = ReadFile(dir.File("a.db"));
    sqlite3* db = OpenKeyed(dir.File("a.db"), "zz", 2);
    EXPECT_EQ(Exec(db, "insert into t values (9, 'x')"), SQLITE_NOTADB);
    EXPECT_EQ(Exec(db, "create table u(x)"), SQLITE_NOTADB);
    EXPECT_STREQ(sqlite3_errstr(sqlite3_errcode(db)), "file is not a database");
    sqlite3_close(db);
    EXPECT_EQ(ReadFile(dir.File("a.db")), before);
}

// SQLite takes the page size from the file header at open, before the key is set: from ciphertext.
// Where that spells a size beyond the end of the file, the first read of page 1 comes back short.
TEST(CodecFile, OpensWhateverPageSizeTheEncipheredHeaderSpells) {
    ScratchDir dir;
    std::string path = dir.File("a.db");
    sqlite3* db = OpenKeyed(path, kProgramKey, 2);
    ASSERT_EQ(Exec(db, "create table t(id integer primary key, v text); insert into t values (1, 'one'), (2, 'two')"),
              SQLITE_OK);
    sqlite3_close(db);
    auto file = ReadFile(path);
    ASSERT_EQ(file.size(), 2048u);
    Codec codec;
    CodecDeriveKey(kProgramKey, 2, codec.readKey);
    std::memcpy(codec.writeKey, codec.readKey, 32);
    std::vector<uint8_t> clear(file.begin(), file.begin() + 1024);
    CodecDecryptPage(&codec, 1, clear.data(), 1024);
    auto putBe32 = [](uint8_t* p, uint32_t v) {
        for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
    };
    auto spelled = [](const uint8_t* page) { return (page[16] << 8) | (page[17] << 16); };

    // Each commit writes a new change counter (bytes 24-27) into the block that holds the page size;
    // enciphering just the first two blocks finds a counter for each size. These four come within
    // the first 20000 counters (2048 still reads whole, the others reach past the end).
    const int sizes[] = {2048, 4096, 8192, 32768};
    std::map<int, uint32_t> counters;
    uint8_t key[32], iv[16];
    CodecPageKey(codec.writeKey, 1, key);
    CodecPageIV(1, iv);
    for (uint32_t counter = 1; counters.size() < std::size(sizes) && counter < 20000; ++counter) {
        uint8_t head[32];
        std::memcpy(head, clear.data(), 32);
        putBe32(head + 24, counter);
        codec.aes.Init(AesCbc::kEncipher, key, iv);
        codec.aes.Encipher(head, 256, head);
        if (std::find(std::begin(sizes), std::end(sizes), spelled(head)) != std::end(sizes))
            counters.emplace(spelled(head), counter);
    }
    ASSERT_EQ(counters.size(), std::size(sizes));
    for (auto [size, counter] : counters) {
        auto page = clear;
        putBe32(&page[24], counter);
        putBe32(&page[92], counter);  // the counter the page count is valid for
        CodecEncryptPage(&codec, 1, page.data(), 1024, true);
        auto copy = file;
        std::copy(page.begin(), page.end(), copy.begin());
        ASSERT_EQ(spelled(copy.data()), size);
        WriteFile(path, copy);
        db = OpenKeyed(path, kProgramKey, 2);
        EXPECT_EQ(Rows(db, "select id, v from t"), kSampleRows) << size;
        EXPECT_EQ(Rows(db, "pragma page_size"), "1024;") << size;
        sqlite3_close(db);
    }
}

TEST(CodecPage, SameContentAndPageGiveSameBytes) {
    Codec codec;
    CodecDeriveKey(kProgramKey, 2, codec.readKey);
    std::memcpy(codec.writeKey, codec.readKey, 32);
    std::vector<uint8_t> page(1024);
    for (size_t i = 0; i < page.size(); ++i) page[i] = uint8_t(i * 7);
    auto a = page, b = page, c = page;
    CodecEncryptPage(&codec, 5, a.data(), 1024, true);
    CodecEncryptPage(&codec, 5, b.data(), 1024, false);
    CodecEncryptPage(&codec, 6, c.data(), 1024, true);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a, page);
    // Deciphering the last block must not depend on anything beyond the page.
    CodecDecryptPage(&codec, 5, a.data(), 1024);
    EXPECT_EQ(a, page);
}

TEST(CodecFile, JournalHoldsPagesEncipheredWithConsistentChecksums) {
    ScratchDir dir;
    std::string path = dir.File("a.db");
    MakeSample(path, kProgramKey, 2);
    auto before = ReadFile(path);
    sqlite3* db = OpenKeyed(path, kProgramKey, 2);
    ASSERT_EQ(Exec(db, "begin; update t set v = 'changed'"), SQLITE_OK);
    auto journal = ReadFile(path + "-journal");
    auto be32 = [&](size_t at) {
        return (uint32_t(journal[at]) << 24) | (uint32_t(journal[at + 1]) << 16) | (uint32_t(journal[at + 2]) << 8) |
               journal[at + 3];
    };
    ASSERT_GE(journal.size(), 28u);
    uint32_t cksumInit = be32(12), sector = be32(20), pageSize = be32(24);
    ASSERT_EQ(pageSize, 1024u);
    Codec codec;
    CodecDeriveKey(kProgramKey, 2, codec.readKey);
    int records = 0;
    for (size_t at = sector; at + pageSize + 8 <= journal.size(); at += pageSize + 8, ++records) {
        uint32_t pgno = be32(at);
        ASSERT_GE(pgno, 1u);
        std::vector<uint8_t> image(journal.begin() + at + 4, journal.begin() + at + 4 + pageSize);
        uint32_t sum = cksumInit;
        for (int i = int(pageSize) - 200; i > 0; i -= 200) sum += image[i];
        EXPECT_EQ(be32(at + 4 + pageSize), sum) << "record " << records;
        // The image is the page as it was on disk, deciphered: the same as the database's page.
        std::vector<uint8_t> disk(before.begin() + (pgno - 1) * pageSize, before.begin() + pgno * pageSize);
        CodecDecryptPage(&codec, pgno, image.data(), int(pageSize));
        CodecDecryptPage(&codec, pgno, disk.data(), int(pageSize));
        EXPECT_EQ(image, disk) << "page " << pgno;
    }
    EXPECT_GE(records, 2);
    ASSERT_EQ(Exec(db, "rollback"), SQLITE_OK);
    EXPECT_EQ(Rows(db, "select id, v from t where id < 3"), kSampleRows);
    sqlite3_close(db);
}

TEST(CodecFile, RekeyRewritesEveryPage) {
    ScratchDir dir;
    std::string path = dir.File("a.db");
    MakeSample(path, kProgramKey, 2);
    sqlite3* db = OpenKeyed(path, kProgramKey, 2);
    ASSERT_EQ(sqlite3_rekey(db, "new key", 7), SQLITE_OK);
    EXPECT_EQ(Rows(db, "select id, v from t where id < 3"), kSampleRows);
    sqlite3_close(db);
    struct Case {
        const void* key;
        int n;
        std::string rows;
    } cases[] = {
        {kProgramKey, 2, "error " + std::to_string(SQLITE_NOTADB)},
        {"new key", 7, "ok;"},
    };
    for (const Case& c : cases) {
        db = OpenKeyed(path, c.key, c.n);
        EXPECT_EQ(Rows(db, "pragma integrity_check"), c.rows);
        sqlite3_close(db);
    }
    db = OpenKeyed(path, "new key", 7);
    ASSERT_EQ(sqlite3_rekey(db, nullptr, 0), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_TRUE(StartsWithHeader(ReadFile(path)));
}
