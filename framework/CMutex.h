// CMutex: a Win32 mutex, named (shared between processes) or unnamed.
#pragma once

#include "framework/CSyncObject.h"

class CMutex : public CSyncObject {
public:
    explicit CMutex(BOOL initiallyOwn = FALSE, LPCTSTR name = nullptr, LPSECURITY_ATTRIBUTES attributes = nullptr) {
        m_hObject = ::CreateMutexW(attributes, initiallyOwn, name);
    }
    BOOL Unlock() override { return ::ReleaseMutex(m_hObject); }
};
