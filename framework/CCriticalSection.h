// CCriticalSection: an in-process lock, recursive for its owner thread.
#pragma once

#include "framework/CSyncObject.h"

class CCriticalSection : public CSyncObject {
public:
    CCriticalSection() { ::InitializeCriticalSection(&m_sect); }
    ~CCriticalSection() override { ::DeleteCriticalSection(&m_sect); }

    BOOL Lock() {
        ::EnterCriticalSection(&m_sect);
        return TRUE;
    }
    // A critical section has no timed wait: any time-out other than 0 waits without limit.
    BOOL Lock(DWORD timeout) override {
        if (timeout == 0) return ::TryEnterCriticalSection(&m_sect);
        return Lock();
    }
    BOOL Unlock() override {
        ::LeaveCriticalSection(&m_sect);
        return TRUE;
    }
    operator CRITICAL_SECTION*() { return &m_sect; }

    CRITICAL_SECTION m_sect;
};
