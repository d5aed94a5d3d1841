#include "client/app/CFerrantApp.h"

#include <commctrl.h>

#include <string>

#include "client/app/CAppSettings.h"
#include "client/app/WebLogin.h"
#include "client/app/WebRequestClient.h"
#include "client/session/CLoginSession.h"
#include "client/session/SessionService.h"
#include "client/storage/CSqlite.h"
#include "client/windows/LoginStore.h"
#include "client/windows/UpdateCheck.h"
#include "common/LaunchText.h"
#include "common/NamedPipe.h"
#include "framework/AfxSocketInit.h"
#include "framework/CTime.h"
#include "trace/Trace.h"

CString g_strIniPath;

namespace {

const wchar_t kDataFolder[] = L"\\Quillex";
const wchar_t kDbFile[] = L"\\Quillex\\Quillex.db";
// What the first configuration row names until the server tells otherwise.
const wchar_t kDefaultServerDomain[] = L"upload.quillex.com";
const wchar_t kDefaultServerIp[] = L"127.0.0.1";
const UINT kSocketInitFailedText = 103;

bool FolderExists(const CString& path) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(path, &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void Trace(const wchar_t* label, const CString& value) {
    CString line = label;
    line += value;
    GetLogNode()->Send(line, nullptr);
}

}  // namespace

CFerrantApp::CFerrantApp() : CWinApp(L"Ferrant") {}

BOOL CFerrantApp::InitInstance() {
    // The service and the Run key start the client elsewhere; the windows' ".\Setting.ini" is ours.
    SetCurrentDirectoryW(GetModuleFolder());
    g_strIniPath = GetModuleFolder() + L"Setting.ini";
    if (!m_strSessionEndpoint.empty()) session::SetSessionServiceEndpoint(m_strSessionEndpoint);
    if (!m_strUpdateHost.IsEmpty()) SetUpdateHost(m_strUpdateHost);

    m_hMutex = CreateMutexW(nullptr, TRUE, kMutexName);
    if (!m_hMutex) return FALSE;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        HandOff();
        CloseHandle(m_hMutex);
        m_hMutex = nullptr;
        return FALSE;
    }

    SetUnhandledExceptionFilter(CrashExceptionFilter);
    PrepareDataFolder();

    // The main thread's login owns the gate from before the listener exists: the service hands
    // the same text over the command line and the pipe, and only the first may log in.
    m_bLoginBusy = true;
    StartListener();

    INITCOMMONCONTROLSEX controls = {8, 0xFF};
    InitCommonControlsEx(&controls);
    if (!AfxSocketInit()) {
        wchar_t text[256] = L"";
        LoadStringW(GetModuleHandleW(nullptr), kSocketInitFailedText, text, 256);
        MessageBoxW(nullptr, text, m_strAppName, MB_OK);
        return FALSE;
    }
    SetRegistryKey(L"Quillex");

    RunLogin(m_lpCmdLine ? CString(m_lpCmdLine) : CString());
    // The gate stays shut: the program ends with this main dialog.
    return TRUE;
}

int CFerrantApp::ExitInstance() {
    if (m_hMutex) {
        CloseHandle(m_hMutex);
        m_hMutex = nullptr;
    }
    if (m_pListenThread) {
        m_pListenThread->PostThreadMessage(WM_QUIT, 0, 0);
        // A pass holds the pipe for at most a read; past that the process ends it anyway.
        if (WaitForSingleObject(m_pListenThread->m_hThread, 3000) == WAIT_OBJECT_0) delete m_pListenThread;
        m_pListenThread = nullptr;
        g_nPipeListenerThreadId = 0;
    }
    return 1;
}

void CFerrantApp::HandOff() {
    // A first copy that never reads (hung, or busy in a login) must not keep this one alive.
    std::string word = WideToAnsi(NamedPipe::kPipeWord);
    NamedPipe::HandOver(NamedPipe::kPipeWord, word.data(), static_cast<DWORD>(word.size()), m_nHandOffWaitMs);
}

void CFerrantApp::PrepareDataFolder() {
    CString appData = GetAppDataFolder();
    if (!FolderExists(appData + kDataFolder)) CreateDirectoryW(appData + kDataFolder, nullptr);
    g_strDbPath = appData + kDbFile;
    CString now = CTime::GetCurrentTime().Format(L"%Y-%m-%d %H:%M:%S");
    PrepareLocalDatabase(g_Database, g_strDbPath, kDefaultServerDomain, kDefaultServerIp, now);
}

bool CFerrantApp::StartListener() {
    m_pListenThread = AfxBeginThread(PipeListenThreadProc, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (!m_pListenThread) return false;
    m_pListenThread->m_bAutoDelete = FALSE;
    g_nPipeListenerThreadId = m_pListenThread->m_nThreadID;
    m_pListenThread->ResumeThread();
    return true;
}

CString CFerrantApp::ReadPipeText() {
    NamedPipe pipe;
    std::string bytes;
    try {
        NamedPipe::ServerAvailable(L".", NamedPipe::kPipeWord, 1000);
        pipe.Open(L".", NamedPipe::kPipeWord, GENERIC_READ | 1, 0, nullptr, 0);
        if (pipe.IsOpen()) {
            char buffer[launch::kPipeReadLimit];
            DWORD got = pipe.Read(buffer, sizeof buffer, nullptr);
            bytes.assign(buffer, got);
        }
        pipe.Close();
    } catch (CNamedPipeException* e) {
        e->Delete();
        return CString();
    }
    return AnsiToWide(bytes.data(), static_cast<int>(bytes.size()));
}

UINT CFerrantApp::PipeListenThreadProc(LPVOID param) {
    auto* app = static_cast<CFerrantApp*>(param);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue ExitInstance posts the quit to
    for (;;) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_POSTMESSAGE) == WAIT_OBJECT_0) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) return 0;
            }
        }
        CString text = ReadPipeText();
        if (app && !text.IsEmpty() && text != NamedPipe::kPipeWord && !app->m_pActiveWnd && !app->m_pMainWnd)
            app->Onlogin(text);
    }
}

LONG WINAPI CFerrantApp::CrashExceptionFilter(EXCEPTION_POINTERS*) {
    MessageBoxW(nullptr, L"很抱歉，程序遇到问题需要关闭。请与本软件的技术人员联系。", L"", MB_OK);
    return EXCEPTION_CONTINUE_SEARCH;
}

int CFerrantApp::Onlogin(CString cmdLine) {
    bool idle = false;
    if (!m_bLoginBusy.compare_exchange_strong(idle, true)) {
        GetLogNode()->SendA("Onlogin: a login is in progress, text dropped", nullptr);
        return 0;
    }
    int result = RunLogin(cmdLine);
    m_bLoginBusy = false;
    return result;
}

void CFerrantApp::BringForward() {
    if (CWnd* active = m_pActiveWnd) {
        active->ShowWindow(SW_SHOW);
        active->BringWindowToTop();
    }
    if (CWnd* main = m_pMainWnd) {
        main->ShowWindow(SW_SHOW);
        main->BringWindowToTop();
        main->UpdateWindow();
        main->ShowWindow(SW_RESTORE);
        main->SetActiveWindow();
        main->BringWindowToTop();
    }
}

int CFerrantApp::RunLogin(const CString& cmdLine) {
    GetLogNode()->SendA("Onlogin begin", nullptr);
    Trace(L"strCmdLine = ", cmdLine);
    Trace(L"g_strUserName = ", g_strUserName);

    const std::wstring& text = cmdLine.str();
    if (weblogin::NamesUser(text, g_strUserName.str())) {
        BringForward();
        return 0;
    }
    g_Settings.SetServerPort(kServerPort);

    weblogin::LoginCheck check;
    if (weblogin::HandsOverNothing(text)) {
        // Straight to the main dialog, which asks for a login.
    } else if (!weblogin::CutLoginCheck(text, check)) {
        GetLogNode()->SendA("Onlogin: launch text not understood", nullptr);
    } else if (!weblogin::IsTrustedHost(check.host, m_strTrustedHosts.str())) {
        Trace(L"Onlogin: not a web-mail host of ours: ", CString(check.host));
    } else {
        Trace(L"strTmp = ", CString(check.url + L"?" + check.body));
        const std::string body = afx_string::Narrow(check.body.c_str(), static_cast<int>(check.body.size()));
        WebRequestClient request{CString(check.url)};
        request.SetRequestBody(reinterpret_cast<const BYTE*>(body.data()), static_cast<DWORD>(body.size()));
        request.SetHeaders(CString(weblogin::CheckHeaders(body.size())));
        // A redirect would let another server answer for ours.
        request.SendHttpRequest(L"POST", true);
        const CString answer = request.GetResponseBody();
        Trace(L"strResponse = ", answer);
        if (weblogin::Accepted(answer.str())) {
            const CString user(check.user);
            CLoginSession::SessionMessages messages;
            if (!CLoginSession::BuildSessionMessages(user, messages)) {
                Trace(L"Onlogin: user name too long for a session login: ", user);
            } else {
                g_strUserName = user;
                if (!user.IsEmpty()) g_LoginSession.QuerySessionKey(messages);
            }
        }
    }

    INT_PTR result = m_runMainDialog ? m_runMainDialog(*this) : IDCANCEL;
    if (result == -2) {
        g_LoginSession.m_bLoggedIn = false;
        return 0;
    }
    return 1;
}
