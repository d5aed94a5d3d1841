// AutoRunKey: the start-with-Windows value "Quillex" under the Run key, written and removed for the
// settings object and the settings dialog.
#pragma once

#include <windows.h>

struct AutoRunKey {
    HKEY root;
    const wchar_t* subKey;
};

// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run
const AutoRunKey& DefaultAutoRunKey();

// The settings object's road: nothing happens when the program file is not on disk.
void SetAutoRunAt(const AutoRunKey& key, const wchar_t* programPath, bool enable);
// The settings dialog's road; true when the value was written or removed.
bool RegisterAutoRunAt(const AutoRunKey& key, const wchar_t* programPath);
bool UnregisterAutoRunAt(const AutoRunKey& key);

// The same for the running program under the real key, as the settings dialog calls them.
bool RegisterAutoRun();
bool UnregisterAutoRun();
