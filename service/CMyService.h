// CMyService, RequestPlan: the launcher service, which answers the web page on a local port and
// starts the client, and what one request of the page asks of it.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <string>

#include "common/NamedPipe.h"
#include "lacewing/Lacewing.h"
#include "service/CWinService.h"

class CMyService : public CWinService {
public:
    CMyService();
    ~CMyService() override;

    void Run(DWORD argc, LPWSTR* argv) override;
    void OnStop() override;
    void OnPause() override;
    void OnContinue() override;
    void OnUserDefinedRequest(DWORD control) override;

    static void OnHttpGet(Lacewing::Webserver& server, Lacewing::Webserver::Request& request);

    // What one request asks for; both tests are independent and case-sensitive.
    struct RequestPlan {
        bool launch = false;
        bool probe = false;
        std::wstring text;  // the request text, widened in the thread's ANSI code page
        std::wstring launchText;
    };
    static RequestPlan PlanRequest(const char* requestText);

    // Starts the client beside this program with the launch text and hands the text over the pipe.
    // Returns false when the client could not be started.
    bool LaunchClient(const std::wstring& launchText);
    // Queues a launch: launches run one after another on a thread of their own, so that two requests
    // never meet on the single-instance pipe and probes are answered while a client is handed its text.
    // Nothing is queued once stopping began.
    void QueueLaunch(const std::wstring& launchText);
    // Ends the launches: the hand-over under way gives up, queued ones are dropped. Waits at most
    // waitMs for the launch thread, reporting stop-pending checkpoints meanwhile; true when it ended.
    bool EndLaunches(DWORD waitMs);

    // Next interval after a user-defined control; never overflows or reaches zero.
    static int NextInterval(int interval, DWORD control);

    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bPause{false};
    std::atomic<int> m_nInterval{1000};

    // Where the client is looked for (empty: this program's folder), the pipe it reads, and how
    // long the hand-over waits for it.
    std::wstring m_strClientFolder;
    std::wstring m_strPipeName = NamedPipe::kPipeWord;
    DWORD m_dwPipeWaitMs = 30000;
    // Port the web server hosts on, 0 when none.
    std::atomic<int> m_nPort{0};

private:
    static DWORD WINAPI LaunchMain(LPVOID self);
    void LaunchLoop();

    CRITICAL_SECTION m_csLaunches;
    std::deque<std::wstring> m_launches;
    HANDLE m_hLaunchQueued = nullptr;  // auto-reset: a launch was queued
    HANDLE m_hStopping = nullptr;      // manual-reset: set by a stop, ends every wait for a client
    HANDLE m_hLauncher = nullptr;
};
