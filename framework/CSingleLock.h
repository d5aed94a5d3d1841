// CSingleLock: holds one CSyncObject for a scope; the destructor releases it.
#pragma once

#include "framework/CSyncObject.h"

class CSingleLock {
public:
    explicit CSingleLock(CSyncObject* object, BOOL initialLock = FALSE) : m_pObject(object) {
        if (initialLock) Lock();
    }
    ~CSingleLock() { Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    BOOL Lock(DWORD timeout = INFINITE) {
        if (!m_pObject) return FALSE;
        if (!m_bAcquired) m_bAcquired = m_pObject->Lock(timeout);
        return m_bAcquired;
    }
    BOOL Unlock() {
        if (m_pObject && m_bAcquired) m_bAcquired = !m_pObject->Unlock();
        return !m_bAcquired;
    }
    BOOL IsLocked() const { return m_bAcquired; }

private:
    CSyncObject* m_pObject;
    BOOL m_bAcquired = FALSE;
};
