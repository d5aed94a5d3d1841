#include "framework/CCriticalSection.h"
#include "framework/CMutex.h"
#include "framework/CSingleLock.h"
#include "framework/CWinThread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

struct Probe {
    std::atomic<int> runs{0};
    std::atomic<CWinThread*> self{nullptr};
};

UINT __cdecl CountRun(LPVOID p) {
    Probe* probe = static_cast<Probe*>(p);
    probe->self = AfxGetThread();
    ++probe->runs;
    return 42;
}

struct Watched : CWinThread {
    Watched(AFX_THREADPROC proc, LPVOID param, std::atomic<int>* destroyed)
        : CWinThread(proc, param), m_destroyed(destroyed) {}
    ~Watched() override { ++*m_destroyed; }
    std::atomic<int>* m_destroyed;
};

HANDLE Duplicate(HANDLE h) {
    HANDLE copy = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, SYNCHRONIZE | THREAD_QUERY_INFORMATION,
                      FALSE, 0);
    return copy;
}

DWORD WINAPI TryLock(LPVOID p) {
    CSyncObject* lock = static_cast<CSyncObject*>(p);
    BOOL ok = lock->Lock(0);
    if (ok) lock->Unlock();
    return ok;
}

}  // namespace

TEST(CWinThread, SuspendedStartRunsOnlyAfterResume) {
    Probe probe;
    CWinThread* t = AfxBeginThread(CountRun, &probe, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(nullptr, t);
    ASSERT_NE(nullptr, t->m_hThread);
    EXPECT_NE(0u, t->m_nThreadID);
    t->m_bAutoDelete = FALSE;
    Sleep(100);
    EXPECT_EQ(0, probe.runs);
    EXPECT_EQ(1u, t->ResumeThread());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t->m_hThread, 5000));
    EXPECT_EQ(1, probe.runs);
    EXPECT_EQ(t, probe.self.load());
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t->m_hThread, &code));
    EXPECT_EQ(42u, code);
    delete t;  // not auto-deleted: still ours
}

TEST(CWinThread, AutoDeleteFreesTheObjectAtThreadEnd) {
    Probe probe;
    std::atomic<int> destroyed{0};
    Watched* t = new Watched(CountRun, &probe, &destroyed);
    ASSERT_TRUE(t->CreateThread(CREATE_SUSPENDED));
    HANDLE h = Duplicate(t->m_hThread);
    ASSERT_NE(nullptr, h);
    t->ResumeThread();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 5000));
    EXPECT_EQ(1, probe.runs);
    EXPECT_EQ(1, destroyed);
    CloseHandle(h);

    // Not auto-deleted: the object and its handle outlive the thread.
    std::atomic<int> kept{0};
    Watched* k = new Watched(CountRun, &probe, &kept);
    k->m_bAutoDelete = FALSE;
    ASSERT_TRUE(k->CreateThread());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(k->m_hThread, 5000));
    EXPECT_EQ(0, kept);
    delete k;
    EXPECT_EQ(1, kept);
}

TEST(CWinThread, PostedQuitEndsAMessageLoopThread) {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CWinThread* t = AfxBeginThread(
        [](LPVOID ev) -> UINT {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // make the queue
            SetEvent(static_cast<HANDLE>(ev));
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            }
            return 7;
        },
        ready, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(nullptr, t);
    t->m_bAutoDelete = FALSE;
    t->ResumeThread();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 5000));
    EXPECT_TRUE(t->PostThreadMessage(WM_QUIT, 0, 0));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t->m_hThread, 5000));
    delete t;
    CloseHandle(ready);
}

// Another thread tries each lock without waiting while this thread holds it.
TEST(Locks, HeldLocksExcludeOtherThreadsUntilReleased) {
    auto triedElsewhere = [](CSyncObject* lock) {
        HANDLE h = ::CreateThread(nullptr, 0, TryLock, lock, 0, nullptr);
        WaitForSingleObject(h, 5000);
        DWORD code = 0;
        GetExitCodeThread(h, &code);
        CloseHandle(h);
        return code != 0;
    };
    CCriticalSection cs;
    CMutex unnamed;
    CSyncObject* locks[] = {&cs, &unnamed};
    for (CSyncObject* lock : locks) {
        {
            CSingleLock hold(lock, TRUE);
            EXPECT_TRUE(hold.IsLocked());
            EXPECT_TRUE(lock->Lock(0));  // recursive for the owner
            lock->Unlock();
            EXPECT_FALSE(triedElsewhere(lock));
        }
        EXPECT_TRUE(triedElsewhere(lock));
    }

    // A named mutex is one object for everybody who opens the name.
    const wchar_t* name = L"FrameworkTestMutex-7c1f";
    CMutex owner(TRUE, name);
    ASSERT_NE(nullptr, owner.m_hObject);
    HANDLE again = CreateMutexW(nullptr, FALSE, name);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    CloseHandle(again);
    EXPECT_TRUE(owner.Unlock());
}
