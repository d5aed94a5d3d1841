#include "framework/CWinThread.h"

namespace {
thread_local CWinThread* t_current = nullptr;
}

CWinThread::~CWinThread() {
    if (m_hThread) ::CloseHandle(m_hThread);
}

BOOL CWinThread::CreateThread(DWORD createFlags, UINT stackSize, LPSECURITY_ATTRIBUTES security) {
    // Always made suspended so that m_hThread and m_nThreadID are set before the thread runs
    // (a worker that ends at once deletes the object).
    DWORD id = 0;
    HANDLE h = ::CreateThread(security, stackSize, &CWinThread::Start, this, createFlags | CREATE_SUSPENDED, &id);
    if (!h) return FALSE;
    m_hThread = h;
    m_nThreadID = id;
    if (!(createFlags & CREATE_SUSPENDED)) ::ResumeThread(h);
    return TRUE;
}

DWORD WINAPI CWinThread::Start(LPVOID param) {
    CWinThread* self = static_cast<CWinThread*>(param);
    t_current = self;
    DWORD code;
    if (self->m_pfnThreadProc) {
        code = self->m_pfnThreadProc(self->m_pThreadParams);
    } else {
        code = self->InitInstance() ? static_cast<DWORD>(self->Run()) : static_cast<DWORD>(self->ExitInstance());
    }
    t_current = nullptr;
    self->Delete();
    return code;
}

int CWinThread::Run() {
    MSG msg;
    for (;;) {
        BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) break;
        if (!PreTranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return ExitInstance();
}

void CWinThread::Delete() {
    if (m_bAutoDelete) delete this;
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize, DWORD createFlags,
                           LPSECURITY_ATTRIBUTES security) {
    CWinThread* thread = new CWinThread(proc, param);
    if (!thread->CreateThread(createFlags | CREATE_SUSPENDED, stackSize, security)) {
        delete thread;
        return nullptr;
    }
    thread->SetThreadPriority(priority);
    if (!(createFlags & CREATE_SUSPENDED)) thread->ResumeThread();
    return thread;
}

CWinThread* AfxGetThread() { return t_current; }
