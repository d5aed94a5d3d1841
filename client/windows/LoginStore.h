// What the login dialog keeps about its users besides the local database: the scrambled password
// copy in the application's registry profile, and the process-wide names the start-up fills in.
#pragma once

#include <windows.h>

#include <string>

#include "client/storage/UserStore.h"
#include "framework/CString.h"

// The local database file; set by the start-up before any window opens it.
extern CString g_strDbPath;
// Mail address of the logged-in user (a handed-over web session or the login dialog).
extern CString g_strUserName;
// The pipe listener's thread, which a quit from the login dialog ends too; 0 while none runs.
extern DWORD g_nPipeListenerThreadId;

// The one-byte key of the registry copy.
const char kPasswordCopyKey = 0x5B;
// The registry copy holds at most this many bytes of the password's ANSI form.
const int kPasswordCopyMaxBytes = 255;

// buffer[i] ^= key up to the text's end, measured again before every byte: a byte equal to the
// key becomes the terminator and ends the text there.
void ScrambleBytes(char* buffer, char key);

// The password in the thread's ANSI code page, cut before the character that would pass
// kPasswordCopyMaxBytes, scrambled; as long as its text after scrambling.
std::string ScrambledPasswordCopy(const CString& password);
// Section "LoginInfo", value "Pass" of the application's registry profile.
BOOL WritePasswordCopy(const std::string& bytes);
// Removes that value; TRUE when it is absent afterwards.
BOOL RemovePasswordCopy();

// The users of this process's database: g_Database at g_strDbPath.
UserStore LocalUserStore();
