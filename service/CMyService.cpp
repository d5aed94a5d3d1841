#include "service/CMyService.h"

#include <windows.h>
#include <shlwapi.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/LaunchText.h"
#include "common/NamedPipe.h"
#include "framework/CString.h"
#include "service/ServiceTrace.h"

namespace {
void TraceNumber(int n) { ServiceTrace(std::to_wstring(n).c_str()); }

// How long a stop waits for the launch in progress to give up (it notices within milliseconds).
const DWORD kLaunchEndMs = 5000;
const DWORD kStopWaitHintMs = 1100;

void EnableLaunchPrivileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    static const wchar_t* const kNames[] = {L"SeIncreaseQuotaPrivilege", L"SeAssignPrimaryTokenPrivilege",
                                            L"SeTcbPrivilege"};
    const DWORD count = sizeof(kNames) / sizeof(kNames[0]);
    // TOKEN_PRIVILEGES holds one entry; room for the other two follows it.
    std::vector<BYTE> buffer(sizeof(TOKEN_PRIVILEGES) + (count - 1) * sizeof(LUID_AND_ATTRIBUTES));
    auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    privileges->PrivilegeCount = 0;
    for (const wchar_t* name : kNames) {
        LUID luid;
        if (!LookupPrivilegeValueW(nullptr, name, &luid)) continue;
        privileges->Privileges[privileges->PrivilegeCount].Luid = luid;
        privileges->Privileges[privileges->PrivilegeCount].Attributes = SE_PRIVILEGE_ENABLED;
        ++privileges->PrivilegeCount;
    }
    AdjustTokenPrivileges(token, FALSE, privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

DWORD ActiveSession() {
    PWTS_SESSION_INFOW sessions = nullptr;
    DWORD count = 0, id = 0;
    if (WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        for (DWORD i = 0; i < count; ++i) {
            if (sessions[i].State == WTSActive) {
                id = sessions[i].SessionId;
                TraceNumber(static_cast<int>(id));
                break;
            }
        }
        WTSFreeMemory(sessions);
    }
    return id;
}
}  // namespace

CMyService::CMyService()
    : CWinService(L"Quillex Service", L"Quillex Service", SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE,
                  L"Tebrin\x670D\x52A1") {
    m_dwServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
    m_dwStartType = SERVICE_AUTO_START;
    InitializeCriticalSection(&m_csLaunches);
    m_hLaunchQueued = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hStopping = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ServiceTrace(L"into CMyService constructor");
}

CMyService::~CMyService() {
    // A launch thread still inside a system call keeps what it uses: the process is ending anyway.
    if (!EndLaunches(kLaunchEndMs)) return;
    CloseHandle(m_hLaunchQueued);
    CloseHandle(m_hStopping);
    DeleteCriticalSection(&m_csLaunches);
}

void CMyService::OnStop() {
    m_bStop = true;
    SetEvent(m_hStopping);
}
void CMyService::OnPause() { m_bPause = true; }
void CMyService::OnContinue() { m_bPause = false; }

int CMyService::NextInterval(int interval, DWORD control) {
    if (control <= 200) return interval > INT_MAX / 2 ? INT_MAX : interval * 2;
    int half = interval >> 1;
    return half < 1 ? 1 : half;
}

void CMyService::OnUserDefinedRequest(DWORD control) {
    int next = NextInterval(m_nInterval, control);
    m_nInterval = next;
    m_eventLogSource.Report(EVENTLOG_INFORMATION_TYPE, 0x40000011, std::to_wstring(next).c_str());
}

void CMyService::Run(DWORD, LPWSTR*) {
    auto infoEvent = [this](DWORD id) {
        m_eventLogSource.Report(EVENTLOG_INFORMATION_TYPE, id, m_strDisplayName.c_str());
    };
    ReportStatus(SERVICE_START_PENDING, 1, 1100);
    Sleep(1000);
    ReportStatus(SERVICE_RUNNING);
    infoEvent(0x40000001);

    Lacewing::Webserver server;
    server.RegisterHandlerGet(OnHttpGet, Lacewing::HandlerMode::Default);
    for (int port = 10000; port <= 10004; ++port) {
        server.Host(port);
        if (server.Hosting()) {
            TraceNumber(port);
            m_nPort = port;
            if (m_bUseConsole) {
                wprintf(L"Hosting on port %d\n", port);
                fflush(stdout);
            }
            break;
        }
        server.Unhost();
    }

    for (;;) {
        bool paused = m_bPause;
        if (m_bStop) break;
        Lacewing::Utility::Pause(1000);
        if (m_bPause != paused) {
            if (m_bPause) {
                ReportStatus(SERVICE_PAUSED);
                infoEvent(0x40000004);
            } else {
                ReportStatus(SERVICE_RUNNING);
                infoEvent(0x40000005);
            }
        }
    }

    ReportStatus(SERVICE_STOP_PENDING, 1, kStopWaitHintMs);
    Sleep(1000);
    infoEvent(0x40000003);
    // Connections and hand-overs end now, within the wait hint.
    ReportStatus(SERVICE_STOP_PENDING, 2, kStopWaitHintMs);
    server.Unhost();
    m_nPort = 0;
    EndLaunches(kLaunchEndMs);
}

CMyService::RequestPlan CMyService::PlanRequest(const char* requestText) {
    RequestPlan plan;
    if (requestText)
        plan.text = afx_string::Widen(requestText, static_cast<int>(std::strlen(requestText)), CP_THREAD_ACP);
    plan.launch = plan.text.find(L"Ferrant") != std::wstring::npos;
    plan.probe = plan.text.find(L"isInstallQuillex") != std::wstring::npos;
    if (plan.launch) plan.launchText = launch::FromRequest(plan.text);
    return plan;
}

void CMyService::OnHttpGet(Lacewing::Webserver&, Lacewing::Webserver::Request& request) {
    ServiceTrace(L"into ServiceMain");
    RequestPlan plan = PlanRequest(request.URL);
    ServiceTrace(plan.text.c_str());
    auto* service = static_cast<CMyService*>(CWinService::Current());
    if (plan.launch && service) service->QueueLaunch(plan.launchText);
    if (plan.probe) request << "result=1";
}

bool CMyService::LaunchClient(const std::wstring& launchText) {
    std::wstring folder = m_strClientFolder;
    if (folder.empty()) {
        folder = ProgramPath();
        std::size_t slash = folder.rfind(L'\\');
        folder = slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
    }
    std::wstring path = folder + L"\\Ferrant.exe";
    std::wstring commandLine = launch::CommandLine(path, launchText);
    ServiceTrace(path.c_str());
    ServiceTrace(commandLine.c_str());
    if (!PathFileExistsW(path.c_str())) {
        ServiceTraceA("Can't start Ferrant!!! ");
        return false;
    }
    ServiceTrace(L"file exist");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    DWORD session = ActiveSession();
    EnableLaunchPrivileges();

    HANDLE userToken = nullptr, primary = nullptr;
    LPVOID environment = nullptr;
    bool started = false;
    ServiceTrace(L"WTSQueryUserToken start");
    if (!WTSQueryUserToken(session, &userToken)) {
        TraceNumber(static_cast<int>(GetLastError()));
        userToken = nullptr;
    } else {
        ServiceTrace(L"WTSQueryUserToken end");
        ServiceTrace(L"DuplicateTokenEx start");
        if (!DuplicateTokenEx(userToken, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary, &primary)) {
            ServiceTrace(L"DuplicateTokenEx fail");
            primary = nullptr;
        } else {
            ServiceTrace(L"DuplicateTokenEx end");
            ServiceTrace(L"CreateEnvironmentBlock start");
            if (!CreateEnvironmentBlock(&environment, primary, FALSE)) {
                ServiceTrace(L"CreateEnvironmentBlock fail");
                environment = nullptr;
            } else {
                ServiceTrace(L"CreateEnvironmentBlock end");
                ServiceTrace(L"CreateProcessAsUser start");
                std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
                mutableLine.push_back(0);
                PROCESS_INFORMATION process{};
                // The path as application name: an unquoted path with blanks cannot be misread.
                if (!CreateProcessAsUserW(primary, path.c_str(), mutableLine.data(), nullptr, nullptr, FALSE,
                                          CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | CREATE_UNICODE_ENVIRONMENT,
                                          environment, nullptr, &startup, &process)) {
                    TraceNumber(static_cast<int>(GetLastError()));
                } else {
                    CloseHandle(process.hThread);
                    CloseHandle(process.hProcess);
                    started = true;
                    ServiceTrace(L"CreateProcessAsUser ok");
                    ServiceTrace(L"CreateProcessAsUser end");
                    // The pipe carries ANSI bytes.
                    std::string bytes = afx_string::Narrow(launchText.c_str(), static_cast<int>(launchText.size()));
                    NamedPipe::HandOver(m_strPipeName.c_str(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                        m_dwPipeWaitMs, m_hStopping);
                }
            }
        }
    }
    if (userToken) CloseHandle(userToken);
    if (primary) CloseHandle(primary);
    if (environment) DestroyEnvironmentBlock(environment);
    ServiceTraceA("Start Ferrant Successfully!!! ");
    return started;
}

void CMyService::QueueLaunch(const std::wstring& launchText) {
    EnterCriticalSection(&m_csLaunches);
    bool open = WaitForSingleObject(m_hStopping, 0) == WAIT_TIMEOUT;
    if (open && !m_hLauncher) m_hLauncher = CreateThread(nullptr, 0, LaunchMain, this, 0, nullptr);
    if (open && m_hLauncher) m_launches.push_back(launchText);
    LeaveCriticalSection(&m_csLaunches);
    if (open && !m_hLauncher) {
        LaunchClient(launchText);  // no thread to be had: launch here, as before
        return;
    }
    if (open) SetEvent(m_hLaunchQueued);
}

DWORD WINAPI CMyService::LaunchMain(LPVOID self) {
    static_cast<CMyService*>(self)->LaunchLoop();
    return 0;
}

void CMyService::LaunchLoop() {
    HANDLE waits[] = {m_hStopping, m_hLaunchQueued};
    for (;;) {
        std::wstring launchText;
        bool have = false;
        EnterCriticalSection(&m_csLaunches);
        if (!m_launches.empty()) {
            launchText = std::move(m_launches.front());
            m_launches.pop_front();
            have = true;
        }
        LeaveCriticalSection(&m_csLaunches);
        if (WaitForSingleObject(m_hStopping, 0) == WAIT_OBJECT_0) return;
        if (have) {
            LaunchClient(launchText);
        } else if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
            return;
        }
    }
}

bool CMyService::EndLaunches(DWORD waitMs) {
    SetEvent(m_hStopping);
    EnterCriticalSection(&m_csLaunches);
    m_launches.clear();
    HANDLE launcher = m_hLauncher;
    LeaveCriticalSection(&m_csLaunches);
    if (!launcher) return true;
    DWORD checkPoint = CurrentStatus().dwCheckPoint, start = GetTickCount();
    while (WaitForSingleObject(launcher, 500) == WAIT_TIMEOUT) {
        if (GetTickCount() - start >= waitMs) return false;
        ReportStatus(SERVICE_STOP_PENDING, ++checkPoint, kStopWaitHintMs);
    }
    CloseHandle(launcher);
    EnterCriticalSection(&m_csLaunches);
    m_hLauncher = nullptr;
    LeaveCriticalSection(&m_csLaunches);
    return true;
}
