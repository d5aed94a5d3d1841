#include "client/windows/LoginStore.h"

#include <cstring>

#include "client/storage/CSqlite.h"
#include "framework/CWinApp.h"

CString g_strDbPath;
CString g_strUserName;
DWORD g_nPipeListenerThreadId = 0;

namespace {
const wchar_t kSection[] = L"LoginInfo";
const wchar_t kEntry[] = L"Pass";
}  // namespace

void ScrambleBytes(char* buffer, char key) {
    for (size_t i = 0; buffer[i]; ++i) {
        buffer[i] ^= key;
        if (!buffer[i]) break;
    }
}

std::string ScrambledPasswordCopy(const CString& password) {
    char buffer[kPasswordCopyMaxBytes + 1] = {};
    int used = 0;
    const wchar_t* text = password;
    const int length = password.GetLength();
    // One character at a time, so the copy never runs past its buffer and a character of two
    // bytes (or a surrogate pair) is never cut in half.
    for (int i = 0; i < length;) {
        int units = 1;
        if (IS_HIGH_SURROGATE(text[i]) && i + 1 < length && IS_LOW_SURROGATE(text[i + 1])) units = 2;
        char bytes[8];
        int n = WideCharToMultiByte(CP_ACP, 0, text + i, units, bytes, sizeof bytes, nullptr, nullptr);
        if (n <= 0 || used + n > kPasswordCopyMaxBytes) break;
        std::memcpy(buffer + used, bytes, static_cast<size_t>(n));
        used += n;
        i += units;
    }
    buffer[used] = 0;
    ScrambleBytes(buffer, kPasswordCopyKey);
    return std::string(buffer, std::strlen(buffer));
}

BOOL WritePasswordCopy(const std::string& bytes) {
    CWinApp* app = AfxGetApp();
    if (!app) return FALSE;
    return app->WriteProfileBinary(kSection, kEntry, reinterpret_cast<const BYTE*>(bytes.data()),
                                   static_cast<UINT>(bytes.size()));
}

BOOL RemovePasswordCopy() {
    CWinApp* app = AfxGetApp();
    CString path = app ? app->GetAppRegistryPath() : CString();
    if (path.IsEmpty()) return FALSE;
    path += L"\\";
    path += kSection;
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_SET_VALUE, &key);
    if (rc == ERROR_FILE_NOT_FOUND) return TRUE;
    if (rc != ERROR_SUCCESS) return FALSE;
    rc = RegDeleteValueW(key, kEntry);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

UserStore LocalUserStore() { return UserStore(g_Database, g_strDbPath); }
