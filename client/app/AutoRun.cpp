#include "client/app/AutoRun.h"

#include "client/app/CAppSettings.h"

namespace {

const wchar_t kValueName[] = L"Quillex";

// Closes the key on every road out.
class KeyHandle {
public:
    KeyHandle(const AutoRunKey& key, REGSAM access) {
        if (RegOpenKeyExW(key.root, key.subKey, 0, access, &m_key) != ERROR_SUCCESS) m_key = nullptr;
    }
    ~KeyHandle() {
        if (m_key) RegCloseKey(m_key);
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

bool SetPathValue(HKEY key, const wchar_t* programPath) {
    wchar_t path[MAX_PATH] = {};
    lstrcpynW(path, programPath, MAX_PATH);
    // The size counts the terminating zero, so readers get a terminated string.
    DWORD bytes = static_cast<DWORD>((lstrlenW(path) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), bytes) == ERROR_SUCCESS;
}

}  // namespace

const AutoRunKey& DefaultAutoRunKey() {
    static const AutoRunKey key{HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run"};
    return key;
}

void SetAutoRunAt(const AutoRunKey& key, const wchar_t* programPath, bool enable) {
    if (GetFileAttributesW(programPath) == INVALID_FILE_ATTRIBUTES) return;
    KeyHandle run(key, KEY_SET_VALUE);
    if (!run.get()) return;
    if (enable)
        SetPathValue(run.get(), programPath);
    else
        RegDeleteValueW(run.get(), kValueName);
}

bool RegisterAutoRunAt(const AutoRunKey& key, const wchar_t* programPath) {
    KeyHandle run(key, KEY_WRITE);
    return run.get() && SetPathValue(run.get(), programPath);
}

bool UnregisterAutoRunAt(const AutoRunKey& key) {
    KeyHandle run(key, KEY_WRITE);
    if (!run.get()) return false;
    if (RegDeleteValueW(run.get(), kValueName) != ERROR_SUCCESS) return false;
    RegDeleteValueW(run.get(), L"path");
    return true;
}

bool RegisterAutoRun() { return RegisterAutoRunAt(DefaultAutoRunKey(), GetModulePath()); }
bool UnregisterAutoRun() { return UnregisterAutoRunAt(DefaultAutoRunKey()); }
