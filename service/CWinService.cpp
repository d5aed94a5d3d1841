#include "service/CWinService.h"

#include <shellapi.h>

#include <cwchar>
#include <cwctype>

CWinService* CWinService::sm_pService = nullptr;

namespace {
const wchar_t* const kStrings[] = {
    L"",
    L"CWinService::Install, Failed call to open SCM, Error:%1",
    L"CWinService::Install, Failed call to lock SCM, Error:%1",
    L"CWinService::Install, Failed call to CreateService, Error:%1",
    L"CWinService::Install, Failed call to install service as an event log source, Error:%1",
    L"CWinService::Uninstall, Failed call to open SCM, Error:%1",
    L"CWinService::Uninstall, Failed call to OpenService, Error:%1",
    L"CWinService::Uninstall, Failed call to WaitForStop, Error:%1",
    L"CWinService::Uninstall, Failed call to DeleteService, Error:%1",
    L"CWinService::Uninstall, Failed call to remove service as an event log source, Error:%1",
    L"Failed to start the service, Error:%1",
    L"Failed to stop the service, Error:%1",
    L"Failed to continue the service, Error:%1",
    L"Failed to pause the service, Error:%1",
    L"Failed to start the service, Error:%1",
    L"%1, %2",
    L"CWinService::Uninstall, Failed to stop service, Error:%1",
    L"CWinService::SetServiceToStatus, Failed call to open SCM, Error:%1",
    L"CWinService::SetServiceToStatus, Failed call to OpenService, Error:%1",
    L"CWinService::SetServiceToStatus, Failed to start the service, Error:%1",
    L"CWinService::SetServiceToStatus, Failed to continue the service, Error:%1",
    L"CWinService::SetServiceToStatus, Failed to pause the service, Error:%1",
    L"CWinService::SetServiceToStatus, Failed to stop the service, Error:%1",
    L"CWinService::SetServiceToStatus, Failed to wait for the service to change state, Error:%1",
    L"CWinService::SetServiceToStatus, Failed to check the service status, Error:%1",
};

// Fills %1 and %2 of a template.
std::wstring Fill(const std::wstring& form, const std::wstring& one, const std::wstring& two = std::wstring()) {
    std::wstring out;
    for (std::size_t i = 0; i < form.size(); ++i) {
        if (form[i] == L'%' && i + 1 < form.size() && (form[i + 1] == L'1' || form[i + 1] == L'2')) {
            out += form[i + 1] == L'1' ? one : two;
            ++i;
        } else {
            out += form[i];
        }
    }
    return out;
}

void Wipe(std::wstring& text) {
    for (auto& c : text) c = 0;
    text.clear();
}

bool EqualNoCase(const wchar_t* a, const wchar_t* b) { return _wcsicmp(a, b) == 0; }

bool StartsWithNoCase(const std::wstring& token, const wchar_t* prefix, std::wstring& rest) {
    std::size_t n = wcslen(prefix);
    if (token.size() <= n) return false;  // needs at least one character after the prefix
    for (std::size_t i = 0; i < n; ++i)
        if (std::towupper(token[i]) != std::towupper(prefix[i])) return false;
    rest = token.substr(n);
    return true;
}

const DWORD kErrorFallback = ERROR_GEN_FAILURE;
DWORD NonZero(DWORD error) { return error ? error : kErrorFallback; }
}  // namespace

// ---- command line

void CWinServiceCommandLineInfo::ParseParam(const wchar_t* param, BOOL flag, BOOL) {
    if (!flag || !param) return;
    static const struct {
        const wchar_t* word;
        int action;
    } kActions[] = {
        {L"install", InstallService},     {L"start", StartTheService}, {L"pause", PauseService},
        {L"continue", ContinueService},   {L"stop", StopService},      {L"remove", UninstallService},
        {L"uninstall", UninstallService}, {L"debug", DebugService},    {L"app", DebugService},
        {L"application", DebugService},   {L"console", DebugService},  {L"help", ShowServiceHelp},
        {L"?", ShowServiceHelp},
    };
    if (EqualNoCase(param, L"silent")) {
        m_bSilent = TRUE;
        return;
    }
    if (EqualNoCase(param, L"auto")) {
        m_bAutoStart = TRUE;
        return;
    }
    for (const auto& a : kActions)
        if (EqualNoCase(param, a.word)) {
            m_nShellCommand = a.action;
            return;
        }
    static const struct {
        const wchar_t* prefix;
        std::wstring CWinServiceCommandLineInfo::*text;
    } kTexts[] = {
        {L"SCL:", &CWinServiceCommandLineInfo::m_strServiceCommandLine},
        {L"SD:", &CWinServiceCommandLineInfo::m_strServiceDescription},
        {L"SN:", &CWinServiceCommandLineInfo::m_strServiceName},
        {L"SDN:", &CWinServiceCommandLineInfo::m_strServiceDisplayName},
        {L"P:", &CWinServiceCommandLineInfo::m_strPassword},
        {L"U:", &CWinServiceCommandLineInfo::m_strUserName},
    };
    std::wstring token = param, rest;
    if (StartsWithNoCase(token, L"T:", rest)) {
        m_dwTimeout = static_cast<DWORD>(_wtoi(rest.c_str()));
        return;
    }
    for (const auto& t : kTexts)
        if (StartsWithNoCase(token, t.prefix, rest)) {
            this->*t.text = rest;
            return;
        }
}

// ---- construction

CWinService::CWinService(LPCWSTR serviceName, LPCWSTR displayName, DWORD controlsAccepted, LPCWSTR description)
    : m_dwServiceStatusControls(controlsAccepted) {
    InitializeCriticalSection(&m_csStatus);
    m_serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    m_serviceStatus.dwCurrentState = SERVICE_STOPPED;
    if (HMODULE advapi = GetModuleHandleW(L"ADVAPI32.DLL"))
        m_pfnRegisterHandlerEx = reinterpret_cast<RegisterHandlerExFn>(
            reinterpret_cast<void*>(GetProcAddress(advapi, "RegisterServiceCtrlHandlerExW")));
    if (serviceName) m_strServiceName = serviceName;
    if (displayName) m_strDisplayName = displayName;
    if (description) m_strDescription = description;
    m_eventLogSource.m_strSource = m_strDisplayName;
    sm_pService = this;
}

CWinService::~CWinService() {
    Wipe(m_strPassword);
    DeleteCriticalSection(&m_csStatus);
    if (sm_pService == this) sm_pService = nullptr;
}

std::wstring CWinService::ProgramPath() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

const wchar_t* CWinService::LoadResourceString(UINT id) {
    return id < sizeof(kStrings) / sizeof(kStrings[0]) ? kStrings[id] : L"";
}

// ---- command line processing

void CWinService::ParseCommandLine(CWinServiceCommandLineInfo& info) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* token = argv[i];
        BOOL flag = token[0] == L'-' || token[0] == L'/';
        info.ParseParam(flag ? token + 1 : token, flag, i == argc - 1);
    }
    LocalFree(argv);
}

void CWinService::ShowMessage(const std::wstring& text, BOOL silent) {
    if (silent) return;
    if (m_pMessageSink) {
        *m_pMessageSink += text + L"\n";
    } else if (m_bUseConsole) {
        wprintf(L"%ls\n", text.c_str());
        fflush(stdout);
    } else {
        MessageBoxW(nullptr, text.c_str(), m_strDisplayName.c_str(), MB_OK | MB_ICONSTOP);
    }
}

DWORD CWinService::ProcessShellCommand(CWinServiceCommandLineInfo& info) {
    if (m_bAllowNameChange && !info.m_strServiceName.empty()) m_strServiceName = info.m_strServiceName;
    if (m_bAllowDisplayNameChange && !info.m_strServiceDisplayName.empty()) {
        m_strDisplayName = info.m_strServiceDisplayName;
        m_eventLogSource.m_strSource = m_strDisplayName;
    }
    if (m_bAllowDescriptionChange && !info.m_strServiceDescription.empty())
        m_strDescription = info.m_strServiceDescription;

    DWORD error = 0;
    std::wstring message;
    switch (info.m_nShellCommand) {
    case CWinServiceCommandLineInfo::RunAsService:
        if (!StartDispatcher()) error = NonZero(GetLastError());
        break;
    case CWinServiceCommandLineInfo::StartTheService:
    case CWinServiceCommandLineInfo::PauseService:
    case CWinServiceCommandLineInfo::ContinueService:
    case CWinServiceCommandLineInfo::StopService: {
        static const int kOperation[] = {0, 0, 1, 2, 3};
        static const UINT kString[] = {0, 10, 13, 12, 11};
        int action = info.m_nShellCommand;
        if (!SetServiceToStatus(kOperation[action], error, info.m_dwTimeout, 250)) {
            error = NonZero(error);
            FormatResourceMessage(message, kString[action], error, FALSE);
            ShowMessage(message, info.m_bSilent);
        }
        break;
    }
    case CWinServiceCommandLineInfo::InstallService: {
        m_strBinaryPathName = ProgramPath();
        if (m_strBinaryPathName.find(L' ') != std::wstring::npos)
            m_strBinaryPathName = L"\"" + m_strBinaryPathName + L"\"";
        if (m_bAllowNameChange && !info.m_strServiceName.empty())
            m_strBinaryPathName += L" \"/SN:" + info.m_strServiceName + L"\"";
        if (m_bAllowDisplayNameChange && !info.m_strServiceDisplayName.empty())
            m_strBinaryPathName += L" \"/SDN:" + info.m_strServiceDisplayName + L"\"";
        if (m_bAllowDescriptionChange && !info.m_strServiceDescription.empty())
            m_strBinaryPathName += L" \"/SD:" + info.m_strServiceDescription + L"\"";
        if (m_bAllowCommandLine && !info.m_strServiceCommandLine.empty())
            m_strBinaryPathName += L" " + info.m_strServiceCommandLine;
        if (!info.m_strUserName.empty()) {
            m_strUserName = info.m_strUserName;
            Wipe(info.m_strUserName);
        }
        if (!info.m_strPassword.empty()) {
            m_strPassword = info.m_strPassword;
            Wipe(info.m_strPassword);
        }
        if (info.m_bAutoStart) m_dwStartType = SERVICE_AUTO_START;
        if (!Install(message, error)) {
            error = NonZero(error);
            ShowMessage(message, info.m_bSilent);
        }
        break;
    }
    case CWinServiceCommandLineInfo::UninstallService:
        if (!Uninstall(message, error, info.m_dwTimeout)) {
            error = NonZero(error);
            ShowMessage(message, info.m_bSilent);
        } else if (!message.empty()) {
            ShowMessage(message, info.m_bSilent);  // the service had refused to stop
        }
        break;
    case CWinServiceCommandLineInfo::DebugService: try { RunAsConsole();
        } catch (CWinServiceTerminateException& e) {
            error = e.m_dwWin32ExitCode;
        }
        break;
    case CWinServiceCommandLineInfo::ShowServiceHelp: ShowHelp(); break;
    }
    return error;
}

// ---- status

BOOL CWinService::ReportStatus(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD controls) {
    return ReportStatus(state, checkPoint, waitHint, controls, 0, 0);
}

BOOL CWinService::ReportStatus(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD controls, DWORD win32ExitCode,
                               DWORD serviceExitCode) {
    const DWORD keep = static_cast<DWORD>(-1);
    SERVICE_STATUS copy;
    SERVICE_STATUS_HANDLE handle;
    EnterCriticalSection(&m_csStatus);
    m_serviceStatus.dwCurrentState = state;
    m_serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    if (state == SERVICE_STOPPED) {
        m_serviceStatus.dwCheckPoint = 0;
        waitHint = 0;
    } else if (state == SERVICE_RUNNING || state == SERVICE_PAUSED) {
        m_serviceStatus.dwCheckPoint = 0;
        waitHint = 0;
        win32ExitCode = serviceExitCode = 0;
    } else {
        if (checkPoint != keep) m_serviceStatus.dwCheckPoint = checkPoint;
        win32ExitCode = serviceExitCode = 0;
    }
    if (waitHint != keep) m_serviceStatus.dwWaitHint = waitHint;
    if (controls != keep) m_dwServiceStatusControls = controls;
    bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                   state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
    m_serviceStatus.dwControlsAccepted = pending ? 0 : m_dwServiceStatusControls;
    m_serviceStatus.dwWin32ExitCode = win32ExitCode;
    m_serviceStatus.dwServiceSpecificExitCode = serviceExitCode;
    copy = m_serviceStatus;
    handle = m_hStatus;
    LeaveCriticalSection(&m_csStatus);
    if (!handle) return 0;
    return SetServiceStatus(handle, &copy);
}

BOOL CWinService::ReportCurrentStatus() {
    return ReportStatus(CurrentStatus().dwCurrentState, static_cast<DWORD>(-1), static_cast<DWORD>(-1),
                        static_cast<DWORD>(-1));
}

SERVICE_STATUS CWinService::CurrentStatus() {
    EnterCriticalSection(&m_csStatus);
    SERVICE_STATUS copy = m_serviceStatus;
    LeaveCriticalSection(&m_csStatus);
    return copy;
}

BOOL CWinService::RegisterCtrlHandler() {
    EnterCriticalSection(&m_csStatus);
    if (m_pfnRegisterHandlerEx) {
        m_hStatus = m_pfnRegisterHandlerEx(m_strServiceName.c_str(), HandlerExTrampoline, nullptr);
    } else {
        m_hStatus = RegisterServiceCtrlHandlerW(m_strServiceName.c_str(), HandlerTrampoline);
    }
    BOOL ok = m_hStatus != nullptr;
    LeaveCriticalSection(&m_csStatus);
    return ok;
}

DWORD CWinService::ServiceCtrlHandler(DWORD control, DWORD eventType, LPVOID eventData) {
    DWORD result = NO_ERROR;
    switch (control) {
    case SERVICE_CONTROL_STOP: OnStop(); break;
    case SERVICE_CONTROL_PAUSE: OnPause(); break;
    case SERVICE_CONTROL_CONTINUE: OnContinue(); break;
    case SERVICE_CONTROL_INTERROGATE: OnInterrogate(); break;
    case SERVICE_CONTROL_SHUTDOWN: OnShutdown(); break;
    case SERVICE_CONTROL_PARAMCHANGE: OnParamChange(); break;
    case SERVICE_CONTROL_NETBINDADD: OnNetBindAdd(); break;
    case SERVICE_CONTROL_NETBINDREMOVE: OnNetBindRemove(); break;
    case SERVICE_CONTROL_NETBINDENABLE: OnNetBindEnable(); break;
    case SERVICE_CONTROL_NETBINDDISABLE: OnNetBindDisable(); break;
    case SERVICE_CONTROL_DEVICEEVENT: result = OnDeviceEvent(eventType, eventData); break;
    case SERVICE_CONTROL_HARDWAREPROFILECHANGE: result = OnHardwareProfileChange(eventType, eventData); break;
    case SERVICE_CONTROL_POWEREVENT: result = OnPowerEvent(eventType, eventData); break;
    default: OnUserDefinedRequest(control); break;
    }
    ReportCurrentStatus();
    return result;
}

void CWinService::Run(DWORD, LPWSTR*) {}

void CWinService::ReportInfoEvent(DWORD eventId) {
    if (m_bEventLogging)
        m_eventLogSource.Report(EVENTLOG_INFORMATION_TYPE, MapEventId(eventId), m_strDisplayName.c_str());
}

void CWinService::ReportErrorEvent(DWORD eventId, const std::wstring& message) {
    if (m_bEventLogging) m_eventLogSource.Report(EVENTLOG_ERROR_TYPE, MapEventId(eventId), message.c_str());
}

void CWinService::OnStop() { ReportInfoEvent(0x40000003); }
void CWinService::OnPause() { ReportInfoEvent(0x40000004); }
void CWinService::OnContinue() { ReportInfoEvent(0x40000005); }
void CWinService::OnInterrogate() { ReportCurrentStatus(); }
void CWinService::OnShutdown() { ReportInfoEvent(0x40000009); }
void CWinService::OnUserDefinedRequest(DWORD) {}

// ---- dispatcher and entry points

void WINAPI CWinService::ServiceMainTrampoline(DWORD argc, LPWSTR* argv) {
    if (sm_pService) sm_pService->ServiceMain(argc, argv);
}

void WINAPI CWinService::HandlerTrampoline(DWORD control) {
    if (sm_pService) sm_pService->ServiceCtrlHandler(control, 0, nullptr);
}

DWORD WINAPI CWinService::HandlerExTrampoline(DWORD control, DWORD eventType, LPVOID eventData, LPVOID) {
    return sm_pService ? sm_pService->ServiceCtrlHandler(control, eventType, eventData) : NO_ERROR;
}

BOOL WINAPI CWinService::ConsoleTrampoline(DWORD event) {
    return sm_pService ? sm_pService->ConsoleCtrlHandler(event) : FALSE;
}

BOOL CWinService::StartDispatcher() {
    wchar_t name[256];
    lstrcpynW(name, m_strServiceName.c_str(), 256);
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMainTrampoline}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table);
}

void CWinService::ServiceMain(DWORD argc, LPWSTR* argv) {
    RegisterCtrlHandler();
    DWORD win32Code = 0, serviceCode = 0;
    try {
        Run(argc, argv);
    } catch (CWinServiceTerminateException& e) {
        win32Code = e.m_dwWin32ExitCode;
        serviceCode = e.m_dwServiceSpecificExitCode;
    } catch (...) {
        // Any other failure still ends in a stopped status that says why.
        win32Code = ERROR_EXCEPTION_IN_SERVICE;
    }
    ReportStatus(SERVICE_STOPPED, 0, 0, 0, win32Code, serviceCode);
}

void CWinService::RunAsConsole() {
    int argc = 0;
    LPWSTR* all = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<LPWSTR> kept;
    static const wchar_t* const kDrop[] = {L"-debug",       L"/debug",       L"-app",     L"/app",
                                           L"-application", L"/application", L"-console", L"/console"};
    for (int i = 0; all && i < argc; ++i) {
        bool drop = false;
        for (const wchar_t* d : kDrop) drop = drop || EqualNoCase(all[i], d);
        if (!drop) kept.push_back(all[i]);
    }
    kept.push_back(nullptr);
    SetConsoleCtrlHandler(ConsoleTrampoline, TRUE);
    try {
        Run(static_cast<DWORD>(kept.size() - 1), kept.data());
    } catch (...) {
        SetConsoleCtrlHandler(ConsoleTrampoline, FALSE);
        if (all) LocalFree(all);
        throw;
    }
    SetConsoleCtrlHandler(ConsoleTrampoline, FALSE);
    if (all) LocalFree(all);
}

BOOL CWinService::ConsoleCtrlHandler(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        OnStop();
        return TRUE;
    }
    return FALSE;
}

std::vector<wchar_t> CWinService::GetDependencies() { return EventLogSource::BuildMultiSz(m_dependencies); }

// ---- messages

void CWinService::GetErrorMessage(std::wstring& text, DWORD error) {
    text.clear();
    LPWSTR buffer = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (n && buffer) {
        text = buffer;
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    }
    if (buffer) LocalFree(buffer);
}

void CWinService::FormatResourceMessage(std::wstring& text, UINT stringId, DWORD error, BOOL forEventLog) {
    std::wstring number = EventLogSource::FormatNumber(error, FALSE), system;
    GetErrorMessage(system, error);
    std::wstring joined = Fill(LoadResourceString(MapStringId(15)), number, system);
    std::wstring form = LoadResourceString(MapStringId(stringId));
    int mode = forEventLog ? m_nELErrorLoggingDetail : m_nUIErrorLoggingDetail;
    switch (mode) {
    case 0: text = number; break;
    case 1: text = joined; break;
    case 2: text = system; break;
    case 3: text = forEventLog ? std::wstring() : Fill(form, number); break;
    case 4: text = forEventLog ? std::wstring() : Fill(form, joined); break;
    case 5: text = forEventLog ? std::wstring() : Fill(form, system); break;
    default: text.clear(); break;
    }
}

// ---- install, uninstall, control

BOOL CWinService::FailStep(DWORD systemError, UINT stringId, DWORD& error, std::wstring* message, DWORD eventId) {
    error = NonZero(systemError);
    if (message) FormatResourceMessage(*message, stringId, error, FALSE);
    if (eventId) {
        std::wstring logText;
        FormatResourceMessage(logText, stringId, error, TRUE);
        ReportErrorEvent(eventId, logText);
    }
    return FALSE;
}

BOOL CWinService::Install(std::wstring& message, DWORD& error) {
    error = 0;
    ScmManager manager;
    if (!manager.Open(nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_LOCK))
        return FailStep(GetLastError(), 1, error, &message);
    if (!manager.Lock()) return FailStep(GetLastError(), 2, error, &message);
    ScmServiceHandle service;
    std::vector<wchar_t> dependencies = GetDependencies();
    BOOL created = service.Create(
        manager, m_strServiceName.c_str(), m_strDisplayName.c_str(), SERVICE_CHANGE_CONFIG | DELETE, m_dwServiceType,
        m_dwStartType, m_dwErrorControl, m_strBinaryPathName.c_str(),
        m_strLoadOrderGroup.empty() ? nullptr : m_strLoadOrderGroup.c_str(), nullptr, dependencies.data(),
        m_strUserName.empty() ? nullptr : m_strUserName.c_str(), m_strPassword.c_str());
    DWORD createError = GetLastError();
    Wipe(m_strUserName);
    Wipe(m_strPassword);
    if (!created) {
        // Nothing was installed: stop here (the manager's destructor releases the lock).
        return FailStep(createError, 3, error, &message);
    }
    if (m_bEventLogging) {
        if (m_strEventMessageFile.empty()) {
            std::wstring path = ProgramPath();
            std::size_t dot = path.rfind(L'.');
            std::size_t slash = path.rfind(L'\\');
            if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
                path.resize(dot + 1);
            else
                path += L'.';
            m_strEventMessageFile = path + L"DLL";
        }
        if (!EventLogSource::InstallSource(m_eventLogSource.m_strLog.c_str(), m_eventLogSource.m_strSource.c_str(),
                                           m_strEventMessageFile.c_str(), 7)) {
            // A failed install leaves nothing behind that would make the next one fail.
            DWORD sourceError = GetLastError();
            service.Delete();
            return FailStep(sourceError, 4, error, &message);
        }
    }
    if (m_bForgetChangeConfig2) service.ForgetChangeConfig2();
    // The service works without its description: its absence fails no install.
    if (!m_strDescription.empty()) service.SetDescription(m_strDescription.c_str());
    ReportInfoEvent(0x40000002);
    return TRUE;
}

BOOL CWinService::Uninstall(std::wstring& message, DWORD& error, DWORD waitMs) {
    error = 0;
    ScmManager manager;
    if (!manager.Open(nullptr, SC_MANAGER_CONNECT)) return FailStep(GetLastError(), 5, error, &message, 0xC0000006);
    ScmServiceHandle service;
    if (!manager.OpenService(m_strServiceName.c_str(), DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS, service))
        return FailStep(GetLastError(), 6, error, &message, 0xC0000007);
    // A refused stop is only told, to be shown by the caller, who knows whether to be silent; the
    // remove goes on, and a later failure's text follows it.
    std::wstring refused;
    auto fail = [&](DWORD systemError, UINT stringId, DWORD eventId) {
        FailStep(systemError, stringId, error, &message, eventId);
        if (!refused.empty()) message = refused + L"\n" + message;
        return FALSE;
    };
    SERVICE_STATUS status{};
    if (service.QueryStatus(status) && status.dwCurrentState != SERVICE_STOPPED) {
        if (!service.Stop()) FormatResourceMessage(refused, 16, GetLastError(), FALSE);
        if (!service.WaitForStop(waitMs)) return fail(GetLastError(), 7, 0);
    }
    if (!service.Delete()) return fail(GetLastError(), 8, 0xC0000008);
    if (m_bEventLogging &&
        !EventLogSource::RemoveSource(m_eventLogSource.m_strLog.c_str(), m_eventLogSource.m_strSource.c_str())) {
        return fail(GetLastError(), 9, 0);
    }
    message = refused;
    return TRUE;
}

BOOL CWinService::SetServiceToStatus(int operation, DWORD& error, DWORD waitMs, DWORD pollMs) {
    static const struct {
        DWORD target, access;
        UINT string;
        DWORD event;
    } kOps[] = {
        {SERVICE_RUNNING, SERVICE_START, 19, 0xC000000A},
        {SERVICE_PAUSED, SERVICE_PAUSE_CONTINUE, 21, 0xC000000D},
        {SERVICE_RUNNING, SERVICE_PAUSE_CONTINUE, 20, 0xC000000C},
        {SERVICE_STOPPED, SERVICE_STOP, 22, 0xC000000B},
    };
    error = 0;
    if (operation < 0 || operation > 3) {
        error = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const auto& op = kOps[operation];
    ScmManager manager;
    if (!manager.Open(nullptr, SC_MANAGER_CONNECT)) return FailStep(GetLastError(), 17, error, nullptr);
    ScmServiceHandle service;
    if (!manager.OpenService(m_strServiceName.c_str(), op.access | SERVICE_QUERY_STATUS, service))
        return FailStep(GetLastError(), 18, error, nullptr, 0xC0000007);
    SERVICE_STATUS status{};
    if (!service.QueryStatus(status)) return FailStep(GetLastError(), 24, error, nullptr, 0xC000000F);
    if (status.dwCurrentState != op.target) {
        BOOL sent = operation == 0   ? service.Start(0, nullptr)
                    : operation == 1 ? service.Pause()
                    : operation == 2 ? service.Continue()
                                     : service.Stop();
        if (!sent && operation != 3) return FailStep(GetLastError(), op.string, error, nullptr, op.event);
        if (!sent) {  // a refused stop logs its code alone
            error = NonZero(GetLastError());
            ReportErrorEvent(op.event, EventLogSource::FormatNumber(error, FALSE));
            return FALSE;
        }
    }
    if (!service.WaitForState(waitMs, op.target, pollMs)) {
        error = NonZero(GetLastError());
        std::wstring logText;
        FormatResourceMessage(logText, 23, error, TRUE);
        if (m_bEventLogging)
            m_eventLogSource.Report(EVENTLOG_ERROR_TYPE, MapEventId(0xC000000E), logText.c_str(),
                                    EventLogSource::FormatNumber(op.target, FALSE).c_str());
        return FALSE;
    }
    return TRUE;
}
