// CSyncObject: base of the lockable objects; CSingleLock locks one for a scope.
#pragma once

#include <windows.h>

class CSyncObject {
public:
    CSyncObject() = default;
    virtual ~CSyncObject() {
        if (m_hObject) ::CloseHandle(m_hObject);
    }
    CSyncObject(const CSyncObject&) = delete;
    CSyncObject& operator=(const CSyncObject&) = delete;

    virtual BOOL Lock(DWORD timeout = INFINITE) {
        DWORD r = ::WaitForSingleObject(m_hObject, timeout);
        return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    }
    virtual BOOL Unlock() = 0;
    operator HANDLE() const { return m_hObject; }

    HANDLE m_hObject = nullptr;
};
