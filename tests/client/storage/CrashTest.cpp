// A commit is cut short after each of its writes in turn: the files as they stood at that moment
// are reopened, and SQLite must replay the enciphered journal back to the old content.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "client/storage/CodecVfs.h"
#include "tests/support/StorageTestUtil.h"

using storage_test::ReadFile;
using storage_test::ScratchDir;
using storage_test::WriteFile;

namespace {

// Disk contents of the watched files after one write, truncation or deletion.
using Snapshot = std::map<std::string, std::vector<uint8_t>>;

struct Observer {
    sqlite3_vfs vfs;
    sqlite3_vfs* base = nullptr;
    bool armed = false;
    std::set<std::string> watched;
    std::vector<Snapshot> snapshots;

    void Take() {
        if (!armed) return;
        Snapshot s;
        for (const std::string& path : watched) {
            std::ifstream probe(path, std::ios::binary);
            if (probe) s[path] = ReadFile(path);
        }
        snapshots.push_back(std::move(s));
    }
} g_observer;

struct WatchedFile {
    sqlite3_file base;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};
WatchedFile* W(sqlite3_file* f) { return reinterpret_cast<WatchedFile*>(f); }

int Close(sqlite3_file* f) { return W(f)->real()->pMethods->xClose(W(f)->real()); }
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 o) {
    return W(f)->real()->pMethods->xRead(W(f)->real(), p, n, o);
}
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 o) {
    int rc = W(f)->real()->pMethods->xWrite(W(f)->real(), p, n, o);
    g_observer.Take();
    return rc;
}
int Truncate(sqlite3_file* f, sqlite3_int64 s) {
    int rc = W(f)->real()->pMethods->xTruncate(W(f)->real(), s);
    g_observer.Take();
    return rc;
}
int Sync(sqlite3_file* f, int fl) { return W(f)->real()->pMethods->xSync(W(f)->real(), fl); }
int FileSize(sqlite3_file* f, sqlite3_int64* s) { return W(f)->real()->pMethods->xFileSize(W(f)->real(), s); }
int Lock(sqlite3_file* f, int l) { return W(f)->real()->pMethods->xLock(W(f)->real(), l); }
int Unlock(sqlite3_file* f, int l) { return W(f)->real()->pMethods->xUnlock(W(f)->real(), l); }
int Reserved(sqlite3_file* f, int* o) { return W(f)->real()->pMethods->xCheckReservedLock(W(f)->real(), o); }
int Control(sqlite3_file* f, int op, void* a) { return W(f)->real()->pMethods->xFileControl(W(f)->real(), op, a); }
int Sector(sqlite3_file* f) { return W(f)->real()->pMethods->xSectorSize(W(f)->real()); }
int Device(sqlite3_file* f) { return W(f)->real()->pMethods->xDeviceCharacteristics(W(f)->real()); }
const sqlite3_io_methods kMethods = {1,       Close,   Read,     Write,   Truncate, Sync,   FileSize,
                                     Lock,    Unlock,  Reserved, Control, Sector,   Device, nullptr,
                                     nullptr, nullptr, nullptr,  nullptr, nullptr};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out) {
    sqlite3_vfs* b = g_observer.base;
    int rc = b->xOpen(b, name, W(f)->real(), flags, out);
    if (rc != SQLITE_OK) return rc;
    f->pMethods = &kMethods;
    return rc;
}
int Delete(sqlite3_vfs*, const char* n, int s) {
    int rc = g_observer.base->xDelete(g_observer.base, n, s);
    g_observer.Take();
    return rc;
}
int Access(sqlite3_vfs*, const char* n, int f, int* o) { return g_observer.base->xAccess(g_observer.base, n, f, o); }
int Full(sqlite3_vfs*, const char* n, int c, char* o) {
    return g_observer.base->xFullPathname(g_observer.base, n, c, o);
}
int Random(sqlite3_vfs*, int n, char* o) { return g_observer.base->xRandomness(g_observer.base, n, o); }
int Sleep(sqlite3_vfs*, int u) { return g_observer.base->xSleep(g_observer.base, u); }
int Now(sqlite3_vfs*, double* t) { return g_observer.base->xCurrentTime(g_observer.base, t); }
int LastError(sqlite3_vfs*, int n, char* o) { return g_observer.base->xGetLastError(g_observer.base, n, o); }

// The observer goes in first so that the codec, registered next, sits on top of it.
struct Install {
    Install() {
        sqlite3_initialize();
        g_observer.base = sqlite3_vfs_find(nullptr);
        sqlite3_vfs& v = g_observer.vfs;
        std::memset(&v, 0, sizeof v);
        v.iVersion = 1;
        v.szOsFile = int(sizeof(WatchedFile)) + g_observer.base->szOsFile;
        v.mxPathname = g_observer.base->mxPathname;
        v.zName = "observer";
        v.xOpen = Open;
        v.xDelete = Delete;
        v.xAccess = Access;
        v.xFullPathname = Full;
        v.xRandomness = Random;
        v.xSleep = Sleep;
        v.xCurrentTime = Now;
        v.xGetLastError = LastError;
        sqlite3_vfs_register(&v, 1);
        storage::CodecVfsRegister();
    }
} g_install;

const uint8_t kKey[2] = {'k', 0};

sqlite3* OpenKeyed(const std::string& path) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_key(db, kKey, 2);
    return db;
}

std::string Dump(sqlite3* db) {
    std::string out;
    sqlite3_exec(
        db, "select id || ':' || v from t order by id",
        [](void* p, int, char** values, char**) {
            *static_cast<std::string*>(p) += std::string(values[0] ? values[0] : "null") + ";";
            return 0;
        },
        &out, nullptr);
    return out;
}

std::string Check(sqlite3* db) {
    std::string out;
    sqlite3_exec(
        db, "pragma integrity_check",
        [](void* p, int, char** values, char**) {
            *static_cast<std::string*>(p) += values[0] ? values[0] : "";
            return 0;
        },
        &out, nullptr);
    return out;
}

}  // namespace

// A small cache spills pages before the commit, which starts further journal headers.
class InterruptedCommit : public ::testing::TestWithParam<int> {};

TEST_P(InterruptedCommit, EveryCutReplaysToTheOldContent) {
    ScratchDir dir;
    std::string path = dir.File("a.db"), journal = path + "-journal";
    sqlite3* db = OpenKeyed(path);
    ASSERT_EQ(sqlite3_exec(db,
                           "create table t(id integer primary key, v text);"
                           "with recursive n(i) as (select 1 union all select i + 1 from n where i < 80)"
                           " insert into t select i, printf('old-%0200d', i) from n;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    std::string oldContent = Dump(db);
    ASSERT_EQ(sqlite3_exec(db, ("pragma cache_size=" + std::to_string(GetParam())).c_str(), nullptr, nullptr, nullptr),
              SQLITE_OK);

    g_observer.watched = {path, journal};
    g_observer.snapshots.clear();
    g_observer.armed = true;
    ASSERT_EQ(sqlite3_exec(db,
                           "begin; update t set v = printf('new-%0300d', id) where id % 2 = 0;"
                           " delete from t where id % 5 = 0; commit;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    g_observer.armed = false;
    std::string newContent = Dump(db);
    sqlite3_close(db);
    ASSERT_NE(oldContent, newContent);
    ASSERT_GE(g_observer.snapshots.size(), 6u);

    // Journal headers in the fullest journal: more than one when the cache spilled.
    size_t headers = 0;
    for (const Snapshot& s : g_observer.snapshots) {
        if (!s.count(journal)) continue;
        const std::vector<uint8_t>& j = s.at(journal);
        size_t found = 0;
        for (size_t at = 0; at + 8 <= j.size(); at += 512)
            if (std::memcmp(j.data() + at, "\xd9\xd5\x05\xf9\x20\xa1\x63\xd7", 8) == 0) ++found;
        headers = std::max(headers, found);
    }
    EXPECT_EQ(headers > 1, GetParam() < 100) << headers << " journal headers";

    int replayed = 0;
    for (size_t i = 0; i < g_observer.snapshots.size(); ++i) {
        const Snapshot& s = g_observer.snapshots[i];
        std::string copy = dir.File("cut" + std::to_string(i) + ".db");
        ASSERT_TRUE(s.count(path));
        WriteFile(copy, s.at(path));
        bool hot = s.count(journal) && !s.at(journal).empty();
        if (hot) WriteFile(copy + "-journal", s.at(journal));
        sqlite3* cut = OpenKeyed(copy);
        EXPECT_EQ(Check(cut), "ok") << "cut after write " << i;
        std::string content = Dump(cut);
        sqlite3_close(cut);
        if (hot) {
            ++replayed;
            EXPECT_EQ(content, oldContent) << "cut after write " << i;
        } else {
            EXPECT_TRUE(content == oldContent || content == newContent) << "cut after write " << i;
        }
    }
    // The cuts that matter: database pages already overwritten while the journal still stood.
    EXPECT_GE(replayed, 3);
}

INSTANTIATE_TEST_SUITE_P(CacheSizes, InterruptedCommit, ::testing::Values(2000, 2));
