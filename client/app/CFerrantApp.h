// The client's application object: the start-up (settings path, one instance per session, the
// hand-off of a second copy over the named pipe, the data folder and local database, the pipe
// listener) and the web-started login that leads to the main dialog.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "framework/AfxWin.h"
#include "framework/CWinApp.h"
#include "framework/CWinThread.h"

// Program folder + "Setting.ini".
extern CString g_strIniPath;

class CFerrantApp : public CWinApp {
public:
    CFerrantApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    // Takes a launch text (from the command line or the pipe), turns a web session the web-mail
    // server vouches for into a login and runs the main dialog. A call while another one runs,
    // on any thread, returns 0 at once: one login and one main dialog at a time.
    int Onlogin(CString cmdLine);

    static UINT PipeListenThreadProc(LPVOID param);
    static LONG WINAPI CrashExceptionFilter(EXCEPTION_POINTERS* pointers);

    // Runs the main dialog modally with m_pMainWnd pointing at it; returns DoModal's result.
    // The program sets the real one; tests put their own.
    std::function<INT_PTR(CFerrantApp& app)> m_runMainDialog;
    // Web-mail hosts whose login check is believed (';'-separated, "host[:port][/prefix]").
    CString m_strTrustedHosts;
    // The deployment's session service endpoint and update host, set at start-up; empty: the
    // ones built into those libraries.
    std::string m_strSessionEndpoint;
    CString m_strUpdateHost;
    // How long a second copy waits for the first one to take the pipe word.
    DWORD m_nHandOffWaitMs = 10000;

    CWinThread* m_pListenThread = nullptr;
    HANDLE m_hMutex = nullptr;

    static constexpr const wchar_t* kMutexName = L"OrvoQuillexMutex";
    static constexpr UINT kServerPort = 20000;

private:
    int RunLogin(const CString& cmdLine);
    void BringForward();
    // As a second copy: hands the pipe word to the first one's listener.
    void HandOff();
    void PrepareDataFolder();
    bool StartListener();
    // Reads one text from a waiting pipe server; empty when none waited.
    static CString ReadPipeText();

    // Held while a login or a main dialog runs, and for good once the main thread's has ended.
    std::atomic<bool> m_bLoginBusy{false};
};
