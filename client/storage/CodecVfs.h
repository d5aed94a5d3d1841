// The codec attached as a VFS: every page is enciphered on its way to the database file or the
// rollback journal and deciphered on its way back.
#pragma once

struct sqlite3;

namespace storage {
// Makes the codec VFS SQLite's default, layered over the default found at the first call.
// Idempotent; must run before a database is opened.
int CodecVfsRegister();
const char* CodecVfsName();
}  // namespace storage

extern "C" {
int sqlite3_key(sqlite3* db, const void* key, int nKey);
int sqlite3_key_v2(sqlite3* db, const char* zDbName, const void* key, int nKey);
int sqlite3_rekey(sqlite3* db, const void* key, int nKey);
}
