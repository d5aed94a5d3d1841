#include "client/storage/CodecVfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "client/storage/Codec.h"

namespace storage {
namespace {

const char kVfsName[] = "ferrant-codec";
sqlite3_vfs g_vfs;
sqlite3_vfs* g_base = nullptr;

enum Kind { kOther, kMainDb, kJournal };

struct CodecFile {
    sqlite3_file base;
    int kind;
    Codec* codec;            // owned by a main database file
    sqlite3_file* mainFile;  // a journal's database, which holds the codec
    // Journal records are written and read as: page number (4), page (P), checksum (4).
    sqlite3_int64 last4Off;
    uint32_t last4Value;
    sqlite3_int64 cksumOff;
    uint32_t cksumDelta;
    std::vector<uint8_t>* buffer;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

extern const sqlite3_io_methods g_methods;

bool IsPageSize(int n) { return n >= 512 && n <= 65536 && (n & (n - 1)) == 0; }

uint32_t Be32(const void* p) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}
void PutBe32(void* p, uint32_t v) {
    uint8_t* b = static_cast<uint8_t*>(p);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// The bytes the journal record checksum samples.
uint32_t SampleSum(const uint8_t* page, int size) {
    uint32_t sum = 0;
    for (int i = size - 200; i > 0; i -= 200) sum += page[i];
    return sum;
}

Codec* CodecOf(CodecFile* f) {
    if (f->kind == kMainDb) return f->codec;
    if (f->kind == kJournal && f->mainFile && f->mainFile->pMethods == &g_methods)
        return reinterpret_cast<CodecFile*>(f->mainFile)->codec;
    return nullptr;
}

const uint8_t kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};

bool IsJournalPage(CodecFile* f, const void* data, sqlite3_int64 off, int n) {
    if (!IsPageSize(n) || f->last4Off != off - 4) return false;
    if (std::memcmp(data, kJournalMagic, 8) == 0) return false;  // a journal header
    uint32_t pgno = f->last4Value;
    // The lock-byte page number marks a super-journal name, not a page.
    return pgno != 0 && pgno != uint32_t(0x40000000 / n) + 1;
}

int Close(sqlite3_file* file) {
    CodecFile* f = reinterpret_cast<CodecFile*>(file);
    int rc = f->real()->pMethods ? f->real()->pMethods->xClose(f->real()) : SQLITE_OK;
    delete f->codec;
    delete f->buffer;
    f->codec = nullptr;
    f->buffer = nullptr;
    return rc;
}

// Reads `n` bytes of page `pgno` and deciphers them. Page 1 is first read at the page size the
// still enciphered header seemed to spell, which may reach past the end of the file: the blocks
// that came are deciphered all the same (CBC needs nothing after them), so SQLite finds the true
// size and reads again. Only a short read asks for the file size.
int ReadPage(sqlite3_file* r, Codec* codec, uint32_t pgno, uint8_t* data, int n, sqlite3_int64 off) {
    int rc = r->pMethods->xRead(r, data, n, off);
    if (rc == SQLITE_OK) {
        CodecDecryptPage(codec, pgno, data, n);
        return rc;
    }
    if (rc != SQLITE_IOERR_SHORT_READ) return rc;
    sqlite3_int64 size = 0;
    int sizeRc = r->pMethods->xFileSize(r, &size);
    if (sizeRc != SQLITE_OK) return sizeRc;
    int came = int(std::clamp<sqlite3_int64>(size - off, 0, n)) / 16 * 16;
    if (came > 0) CodecDecryptPage(codec, pgno, data, came);
    // A broken block cannot be deciphered; it reads as missing.
    std::memset(data + came, 0, size_t(n - came));
    return rc;
}

int Read(sqlite3_file* file, void* out, int n, sqlite3_int64 off) {
    CodecFile* f = reinterpret_cast<CodecFile*>(file);
    sqlite3_file* r = f->real();
    Codec* codec = CodecOf(f);
    bool decipher = codec && codec->encrypted && codec->hasReadKey;
    uint8_t* data = static_cast<uint8_t*>(out);
    if (f->kind == kMainDb && decipher) {
        if (IsPageSize(n) && off % n == 0) return ReadPage(r, codec, uint32_t(off / n + 1), data, n, off);
        if (off >= 0 && off + n <= 512) {
            // The file header: CBC lets the head of page 1 be deciphered without its length.
            int length = int((off + n + 15) / 16 * 16);
            uint8_t head[512];
            int rc = ReadPage(r, codec, 1, head, length, 0);
            if (rc == SQLITE_OK || rc == SQLITE_IOERR_SHORT_READ)
                std::memcpy(out, head + off, n);
            else
                std::memset(out, 0, n);
            return rc;
        }
        return r->pMethods->xRead(r, out, n, off);
    }
    int rc = r->pMethods->xRead(r, out, n, off);
    if (f->kind != kJournal) return rc;
    if (n == 4) {
        // A checksum closes its record; anything else may be the page number of the next one.
        bool checksum = off == f->cksumOff;
        if (rc == SQLITE_OK && checksum) PutBe32(out, Be32(out) + f->cksumDelta);
        f->cksumOff = -1;
        f->last4Off = checksum || rc != SQLITE_OK ? -1 : off;
        f->last4Value = rc == SQLITE_OK ? Be32(out) : 0;
        return rc;
    }
    if (decipher && rc == SQLITE_OK && IsJournalPage(f, data, off, n)) {
        uint32_t stored = SampleSum(data, n);
        CodecDecryptPage(codec, f->last4Value, data, n);
        // SQLite checks the checksum against the clear page it is handed.
        f->cksumDelta = SampleSum(data, n) - stored;
        f->cksumOff = off + n;
    }
    f->last4Off = -1;
    return rc;
}

int Write(sqlite3_file* file, const void* in, int n, sqlite3_int64 off) {
    CodecFile* f = reinterpret_cast<CodecFile*>(file);
    sqlite3_file* r = f->real();
    Codec* codec = CodecOf(f);
    if (f->kind == kMainDb) {
        if (codec && codec->encrypted && codec->hasWriteKey && IsPageSize(n) && off % n == 0) {
            if (codec->pageBuffer.size() < size_t(n)) codec->pageBuffer.resize(n);
            std::memcpy(codec->pageBuffer.data(), in, n);
            CodecEncryptPage(codec, uint32_t(off / n + 1), codec->pageBuffer.data(), n, true);
            return r->pMethods->xWrite(r, codec->pageBuffer.data(), n, off);
        }
        return r->pMethods->xWrite(r, in, n, off);
    }
    if (f->kind != kJournal) return r->pMethods->xWrite(r, in, n, off);
    if (n == 4) {
        uint8_t word[4];
        std::memcpy(word, in, 4);
        bool checksum = off == f->cksumOff;
        if (checksum) PutBe32(word, Be32(word) + f->cksumDelta);
        f->cksumOff = -1;
        f->last4Off = checksum ? -1 : off;
        f->last4Value = Be32(in);
        return r->pMethods->xWrite(r, word, 4, off);
    }
    bool encipher = codec && codec->encrypted && codec->hasReadKey;
    if (encipher && IsJournalPage(f, in, off, n)) {
        f->last4Off = -1;
        if (f->buffer->size() < size_t(n)) f->buffer->resize(n);
        uint8_t* page = f->buffer->data();
        std::memcpy(page, in, n);
        CodecEncryptPage(codec, f->last4Value, page, n, false);
        // Keep the record checksum true to the bytes actually stored.
        f->cksumDelta = SampleSum(page, n) - SampleSum(static_cast<const uint8_t*>(in), n);
        f->cksumOff = off + n;
        return r->pMethods->xWrite(r, page, n, off);
    }
    f->last4Off = -1;
    return r->pMethods->xWrite(r, in, n, off);
}

#define FORWARD(name, sig, args) \
    int name sig { return reinterpret_cast<CodecFile*>(file)->real()->pMethods->x##name args; }
FORWARD(Truncate, (sqlite3_file * file, sqlite3_int64 size), (reinterpret_cast<CodecFile*>(file)->real(), size))
FORWARD(Sync, (sqlite3_file * file, int flags), (reinterpret_cast<CodecFile*>(file)->real(), flags))
FORWARD(FileSize, (sqlite3_file * file, sqlite3_int64* size), (reinterpret_cast<CodecFile*>(file)->real(), size))
FORWARD(Lock, (sqlite3_file * file, int level), (reinterpret_cast<CodecFile*>(file)->real(), level))
FORWARD(Unlock, (sqlite3_file * file, int level), (reinterpret_cast<CodecFile*>(file)->real(), level))
FORWARD(CheckReservedLock, (sqlite3_file * file, int* out), (reinterpret_cast<CodecFile*>(file)->real(), out))
FORWARD(SectorSize, (sqlite3_file * file), (reinterpret_cast<CodecFile*>(file)->real()))
FORWARD(DeviceCharacteristics, (sqlite3_file * file), (reinterpret_cast<CodecFile*>(file)->real()))
#undef FORWARD

int AttachKey(CodecFile* f, const void* key, int nKey);

bool Unhex(const char* text, std::string& out) {
    auto digit = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    out.clear();
    for (; text[0]; text += 2) {
        int hi = digit(text[0]), lo = text[1] ? digit(text[1]) : -1;
        if (hi < 0 || lo < 0) return false;
        out += char(hi * 16 + lo);
    }
    return true;
}

// "pragma key" and "pragma hexkey" reach the database file as a file control.
int FileControl(sqlite3_file* file, int op, void* arg) {
    CodecFile* f = reinterpret_cast<CodecFile*>(file);
    if (op == SQLITE_FCNTL_PRAGMA && f->kind == kMainDb) {
        char** args = static_cast<char**>(arg);
        const char* name = args[1];
        const char* value = args[2];
        if (value && (sqlite3_stricmp(name, "key") == 0 || sqlite3_stricmp(name, "hexkey") == 0)) {
            std::string key = value;
            if (sqlite3_stricmp(name, "hexkey") == 0 && !Unhex(value, key)) {
                args[0] = sqlite3_mprintf("hexkey: not a hexadecimal key");
                return SQLITE_ERROR;
            }
            return AttachKey(f, key.data(), int(key.size()));
        }
    }
    return f->real()->pMethods->xFileControl(f->real(), op, arg);
}

// Version 1: no shared memory (so no WAL) and no memory-mapped pages, which would bypass the codec.
const sqlite3_io_methods g_methods = {1,
                                      Close,
                                      Read,
                                      Write,
                                      Truncate,
                                      Sync,
                                      FileSize,
                                      Lock,
                                      Unlock,
                                      CheckReservedLock,
                                      FileControl,
                                      SectorSize,
                                      DeviceCharacteristics,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    CodecFile* f = reinterpret_cast<CodecFile*>(file);
    std::memset(f, 0, sizeof *f);
    f->last4Off = -1;
    f->cksumOff = -1;
    f->kind = (flags & SQLITE_OPEN_MAIN_DB) ? kMainDb : (flags & SQLITE_OPEN_MAIN_JOURNAL) ? kJournal : kOther;
    sqlite3_file* r = f->real();
    int rc = g_base->xOpen(g_base, name, r, flags, outFlags);
    if (rc != SQLITE_OK) {
        // SQLite calls xClose only on files whose methods are set.
        if (r->pMethods) r->pMethods->xClose(r);
        return rc;
    }
    if (f->kind == kJournal) {
        f->mainFile = sqlite3_database_file_object(name);
        f->buffer = new (std::nothrow) std::vector<uint8_t>();
        if (!f->buffer) {
            r->pMethods->xClose(r);
            return SQLITE_NOMEM;
        }
    }
    file->pMethods = &g_methods;
    return SQLITE_OK;
}

#define FORWARD_VFS(name, sig, args) \
    auto name sig { return g_base->x##name args; }
FORWARD_VFS(Delete, (sqlite3_vfs*, const char* n, int s), (g_base, n, s))
FORWARD_VFS(Access, (sqlite3_vfs*, const char* n, int f, int* o), (g_base, n, f, o))
FORWARD_VFS(FullPathname, (sqlite3_vfs*, const char* n, int c, char* o), (g_base, n, c, o))
FORWARD_VFS(Randomness, (sqlite3_vfs*, int n, char* o), (g_base, n, o))
FORWARD_VFS(Sleep, (sqlite3_vfs*, int u), (g_base, u))
FORWARD_VFS(CurrentTime, (sqlite3_vfs*, double* t), (g_base, t))
FORWARD_VFS(GetLastError, (sqlite3_vfs*, int n, char* o), (g_base, n, o))
#undef FORWARD_VFS

int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* t) {
    if (g_base->iVersion >= 2 && g_base->xCurrentTimeInt64) return g_base->xCurrentTimeInt64(g_base, t);
    double d = 0;
    int rc = g_base->xCurrentTime(g_base, &d);
    *t = static_cast<sqlite3_int64>(d * 86400000.0);
    return rc;
}

CodecFile* MainFile(sqlite3* db, const char* zDbName) {
    sqlite3_file* file = nullptr;
    if (!db || sqlite3_file_control(db, zDbName, SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        file->pMethods != &g_methods)
        return nullptr;
    return reinterpret_cast<CodecFile*>(file);
}

}  // namespace

int CodecVfsRegister() {
    static std::once_flag once;
    static int result = SQLITE_OK;
    std::call_once(once, [] {
        result = sqlite3_initialize();
        if (result != SQLITE_OK) return;
        g_base = sqlite3_vfs_find(nullptr);
        if (!g_base) {
            result = SQLITE_ERROR;
            return;
        }
        std::memset(&g_vfs, 0, sizeof g_vfs);
        g_vfs.iVersion = 2;
        g_vfs.szOsFile = int(sizeof(CodecFile)) + g_base->szOsFile;
        g_vfs.mxPathname = g_base->mxPathname;
        g_vfs.zName = kVfsName;
        g_vfs.xOpen = Open;
        g_vfs.xDelete = Delete;
        g_vfs.xAccess = Access;
        g_vfs.xFullPathname = FullPathname;
        g_vfs.xRandomness = Randomness;
        g_vfs.xSleep = Sleep;
        g_vfs.xCurrentTime = CurrentTime;
        g_vfs.xGetLastError = GetLastError;
        g_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
        result = sqlite3_vfs_register(&g_vfs, 1);
    });
    return result;
}

const char* CodecVfsName() { return kVfsName; }

}  // namespace storage

using storage::Codec;
using storage::CodecFile;

namespace storage {
namespace {
int AttachKey(CodecFile* f, const void* key, int nKey) {
    delete f->codec;
    f->codec = nullptr;
    if (!key || nKey < 1) return SQLITE_OK;  // no key: the file stays in clear
    Codec* codec = new (std::nothrow) Codec();
    if (!codec) return SQLITE_NOMEM;
    codec->encrypted = codec->hasReadKey = codec->hasWriteKey = true;
    storage::CodecDeriveKey(key, nKey, codec->readKey);
    std::memcpy(codec->writeKey, codec->readKey, 32);
    f->codec = codec;
    return SQLITE_OK;
}
}  // namespace
}  // namespace storage

extern "C" int sqlite3_key_v2(sqlite3* db, const char* zDbName, const void* key, int nKey) {
    CodecFile* f = storage::MainFile(db, zDbName ? zDbName : "main");
    if (!f) return db ? SQLITE_OK : SQLITE_MISUSE;
    return storage::AttachKey(f, key, nKey);
}

extern "C" int sqlite3_key(sqlite3* db, const void* key, int nKey) { return sqlite3_key_v2(db, "main", key, nKey); }

namespace {
// The whole of one database into another, through the backup machinery.
int CopyDatabase(sqlite3* to, sqlite3* from) {
    sqlite3_backup* b = sqlite3_backup_init(to, "main", from, "main");
    int rc = b ? sqlite3_backup_step(b, -1) : sqlite3_errcode(to);
    int done = b ? sqlite3_backup_finish(b) : SQLITE_OK;
    return rc == SQLITE_DONE ? done : rc;
}

// After a rekey both keys are the one the file now holds (`written`: the new write key; otherwise
// the read key it had); a file without a key loses its codec.
void SettleKeys(CodecFile* f, bool written) {
    Codec* codec = f->codec;
    bool keyed = written ? codec->hasWriteKey : codec->hasReadKey;
    if (!keyed) {
        delete codec;
        f->codec = nullptr;
        return;
    }
    if (written) {
        std::memcpy(codec->readKey, codec->writeKey, 32);
        codec->hasReadKey = true;
    } else {
        std::memcpy(codec->writeKey, codec->readKey, 32);
        codec->hasWriteKey = true;
    }
}
}  // namespace

// Every page is written again under the new write key: copied out through the current read key,
// then copied back by the backup machinery, which journals and commits like any transaction.
extern "C" int sqlite3_rekey(sqlite3* db, const void* key, int nKey) {
    CodecFile* f = storage::MainFile(db, "main");
    if (!f) return db ? SQLITE_OK : SQLITE_MISUSE;
    bool newKey = key && nKey > 0;
    if (!f->codec && !newKey) return SQLITE_OK;
    if (!f->codec) {
        f->codec = new (std::nothrow) Codec();
        if (!f->codec) return SQLITE_NOMEM;
        f->codec->encrypted = true;
    }
    Codec* codec = f->codec;

    sqlite3* copy = nullptr;
    int rc = sqlite3_open_v2(":memory:", &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) rc = CopyDatabase(copy, db);
    if (rc == SQLITE_OK) {
        if (newKey) storage::CodecDeriveKey(key, nKey, codec->writeKey);
        codec->hasWriteKey = newKey;
        rc = CopyDatabase(db, copy);
    }
    sqlite3_close(copy);
    SettleKeys(f, rc == SQLITE_OK);
    return rc;
}
