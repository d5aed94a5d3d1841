// CWinThread and AfxBeginThread: a Win32 thread with an object that may delete itself.
// In the worker form the thread runs one function; with m_bAutoDelete (the default) the object
// deletes itself, and closes m_hThread, when that function returns.
#pragma once

#include <windows.h>

class CWnd;

typedef UINT(__cdecl* AFX_THREADPROC)(LPVOID);

class CWinThread {
public:
    CWinThread() = default;
    CWinThread(AFX_THREADPROC proc, LPVOID param) : m_pfnThreadProc(proc), m_pThreadParams(param) {}
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Starts the thread; CREATE_SUSPENDED leaves it waiting for ResumeThread.
    BOOL CreateThread(DWORD createFlags = 0, UINT stackSize = 0, LPSECURITY_ATTRIBUTES security = nullptr);
    DWORD ResumeThread() { return ::ResumeThread(m_hThread); }
    DWORD SuspendThread() { return ::SuspendThread(m_hThread); }
    BOOL SetThreadPriority(int priority) { return ::SetThreadPriority(m_hThread, priority); }
    int GetThreadPriority() const { return ::GetThreadPriority(m_hThread); }
    BOOL PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) {
        return ::PostThreadMessageW(m_nThreadID, message, wParam, lParam);
    }
    operator HANDLE() const { return m_hThread; }

    // The user-interface form: InitInstance, then Run's message loop, then ExitInstance.
    virtual BOOL InitInstance() { return FALSE; }
    virtual int Run();
    virtual BOOL PreTranslateMessage(MSG*) { return FALSE; }
    virtual int ExitInstance() { return 0; }
    // Frees the object at thread end when m_bAutoDelete is set.
    virtual void Delete();

    HANDLE m_hThread = nullptr;
    UINT m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;
    CWnd* m_pMainWnd = nullptr;
    AFX_THREADPROC m_pfnThreadProc = nullptr;
    LPVOID m_pThreadParams = nullptr;

private:
    static DWORD WINAPI Start(LPVOID self);
};

// Worker form: returns the thread object, or null when the thread could not be made.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL, UINT stackSize = 0,
                           DWORD createFlags = 0, LPSECURITY_ATTRIBUTES security = nullptr);
// The calling thread's object when it was started by AfxBeginThread, else null.
CWinThread* AfxGetThread();
