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
    L"CWinService::Install, Failed call to set the service description, Error:%1",
};
const UINT kDescriptionFailed = 25;

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

std::wstring Number(DWORD n) {
    wchar_t text[16];
    _snwprintf(text, 16, L"%d", static_cast<int>(n));
    text[15] = 0;
    return text;
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
    static const struct { const wchar_t* word; int action; } kActions[] = {
        {L"install", InstallService}, {L"start", StartTheService}, {L"pause", PauseService},
        {L"continue", ContinueService}, {L"stop", StopService}, {L"remove", UninstallService},
        {L"uninstall", UninstallService}, {L"debug", DebugService}, {L"app", DebugService},
        {L"application", DebugService}, {L"console", DebugService}, {L"help", ShowServiceHelp},
        {L"?", ShowServiceHelp},
    };
    if (EqualNoCase(param, L"silent")) { m_bSilent = TRUE; return; }
    if (EqualNoCase(param, L"auto")) { m_bAutoStart = TRUE; return; }
    for (const auto& a : kActions)
        if (EqualNoCase(param, a.word)) { m_nShellCommand = a.action; return; }
    std::wstring token = param, rest;
    if (StartsWithNoCase(token, L"T:", rest)) m_dwTimeout = _wtoi(rest.c_str());
    else if (StartsWithNoCase(token, L"SCL:", rest)) m_sServiceCommandLine = rest;
    else if (StartsWithNoCase(token, L"SD:", rest)) m_sServiceDescription = rest;
    else if (StartsWithNoCase(token, L"SN:", rest)) m_sServiceName = rest;
    else if (StartsWithNoCase(token, L"SDN:", rest)) m_sServiceDisplayName = rest;
    else if (StartsWithNoCase(token, L"P:", rest)) m_sPassword = rest;
    else if (StartsWithNoCase(token, L"U:", rest)) m_sUserName = rest;
}

// ---- construction

CWinService::CWinService(LPCWSTR serviceName, LPCWSTR displayName, DWORD controlsAccepted, LPCWSTR description)
    : m_dwServiceStatusControls(controlsAccepted) {
    InitializeCriticalSection(&m_csStatus);
    m_ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    m_ServiceStatus.dwCurrentState = SERVICE_STOPPED;
    m_hAdvapi = GetModuleHandleW(L"ADVAPI32.DLL");
    if (m_hAdvapi) m_pRegisterHandlerEx = GetProcAddress(m_hAdvapi, "RegisterServiceCtrlHandlerExW");
    if (serviceName) m_sServiceName = m_sMasterServiceName = serviceName;
    if (displayName) m_sDisplayName = m_sMasterDisplayName = displayName;
    if (description) m_sDescription = m_sMasterDescription = description;
    m_EventLogSource.m_source = m_sDisplayName;
    sm_pService = this;
}

CWinService::~CWinService() {
    Wipe(m_sPassword);
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

// ---- parameters

HKEY CWinService::OpenParamSection(LPCWSTR section, BOOL write) {
    std::wstring path = L"SYSTEM\\CurrentControlSet\\Services\\" + m_sServiceName + L"\\Parameters";
    if (section && *section) path += std::wstring(L"\\") + section;
    HKEY key = nullptr;
    REGSAM access = write ? (KEY_READ | KEY_WRITE) : KEY_READ;
    LONG rc = write ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, access, nullptr, &key, nullptr)
                    : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return nullptr;
    }
    return key;
}

namespace {
BOOL WriteValue(HKEY key, LPCWSTR entry, DWORD type, const void* data, DWORD size, BOOL flush) {
    LONG rc = entry ? RegSetValueExW(key, entry, 0, type, static_cast<const BYTE*>(data), size) : ERROR_SUCCESS;
    if (rc == ERROR_SUCCESS && flush) RegFlushKey(key);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) SetLastError(rc);
    return rc == ERROR_SUCCESS;
}
}  // namespace

BOOL CWinService::SetParamString(LPCWSTR section, LPCWSTR entry, LPCWSTR value) {
    HKEY key = OpenParamSection(section, TRUE);
    if (!key) return FALSE;
    if (!entry) {
        RegCloseKey(key);
        std::wstring path = L"SYSTEM\\CurrentControlSet\\Services\\" + m_sServiceName + L"\\Parameters\\" +
                            (section ? section : L"");
        LONG rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        if (rc != ERROR_SUCCESS) SetLastError(rc);
        return rc == ERROR_SUCCESS;
    }
    if (!value) {
        LONG rc = RegDeleteValueW(key, entry);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) SetLastError(rc);
        return rc == ERROR_SUCCESS;
    }
    return WriteValue(key, entry, REG_SZ, value, static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)),
                      m_bRegistryFlush);
}

BOOL CWinService::SetParamInt(LPCWSTR section, LPCWSTR entry, DWORD value) {
    HKEY key = OpenParamSection(section, TRUE);
    return key && WriteValue(key, entry, REG_DWORD, &value, sizeof(value), m_bRegistryFlush);
}

BOOL CWinService::SetParamStringArray(LPCWSTR section, LPCWSTR entry, const std::vector<std::wstring>& values) {
    HKEY key = OpenParamSection(section, TRUE);
    std::vector<wchar_t> block = EventLogSource::BuildMultiSz(values);
    return key && WriteValue(key, entry, REG_MULTI_SZ, block.data(),
                             static_cast<DWORD>(block.size() * sizeof(wchar_t)), m_bRegistryFlush);
}

BOOL CWinService::SetParamBinary(LPCWSTR section, LPCWSTR entry, const BYTE* data, DWORD length) {
    HKEY key = OpenParamSection(section, TRUE);
    return key && WriteValue(key, entry, REG_BINARY, data, length, m_bRegistryFlush);
}

namespace {
bool ReadValue(HKEY key, LPCWSTR entry, DWORD wantType, std::vector<BYTE>& data, LONG& rc) {
    DWORD type = 0, size = 0;
    rc = RegQueryValueExW(key, entry, nullptr, &type, nullptr, &size);
    if (rc == ERROR_SUCCESS && type != wantType) rc = ERROR_INVALID_DATA;
    if (rc == ERROR_SUCCESS) {
        data.assign(size + 2 * sizeof(wchar_t), 0);
        rc = RegQueryValueExW(key, entry, nullptr, &type, data.data(), &size);
        data.resize(size);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) SetLastError(rc);
    return rc == ERROR_SUCCESS;
}
}  // namespace

std::wstring CWinService::GetParamString(LPCWSTR section, LPCWSTR entry, LPCWSTR def, DWORD* error) {
    HKEY key = OpenParamSection(section, FALSE);
    std::vector<BYTE> data;
    LONG rc = static_cast<LONG>(GetLastError());
    if (key && ReadValue(key, entry, REG_SZ, data, rc)) {
        if (error) *error = 0;
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
        while (!text.empty() && text.back() == 0) text.pop_back();
        return text;
    }
    if (error) *error = static_cast<DWORD>(rc);
    return def ? def : L"";
}

DWORD CWinService::GetParamInt(LPCWSTR section, LPCWSTR entry, DWORD def) {
    HKEY key = OpenParamSection(section, FALSE);
    std::vector<BYTE> data;
    LONG rc = 0;
    if (key && ReadValue(key, entry, REG_DWORD, data, rc) && data.size() >= sizeof(DWORD))
        return *reinterpret_cast<const DWORD*>(data.data());
    return def;
}

BOOL CWinService::GetParamStringArray(LPCWSTR section, LPCWSTR entry, std::vector<std::wstring>& values) {
    HKEY key = OpenParamSection(section, FALSE);
    std::vector<BYTE> data;
    LONG rc = 0;
    if (!key || !ReadValue(key, entry, REG_MULTI_SZ, data, rc)) return FALSE;
    values = EventLogSource::ParseMultiSz(data.data(), static_cast<DWORD>(data.size()));
    return TRUE;
}

BOOL CWinService::GetParamBinary(LPCWSTR section, LPCWSTR entry, BYTE*& out, DWORD& length) {
    out = nullptr;
    length = 0;
    HKEY key = OpenParamSection(section, FALSE);
    std::vector<BYTE> data;
    LONG rc = 0;
    if (!key || !ReadValue(key, entry, REG_BINARY, data, rc)) return FALSE;
    out = new BYTE[data.size() ? data.size() : 1];
    std::copy(data.begin(), data.end(), out);
    length = static_cast<DWORD>(data.size());
    return TRUE;
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
        MessageBoxW(nullptr, text.c_str(), m_sDisplayName.c_str(), MB_OK | MB_ICONSTOP);
    }
}

DWORD CWinService::ProcessShellCommand(CWinServiceCommandLineInfo& info) {
    if (m_bAllowNameChange && !info.m_sServiceName.empty()) m_sServiceName = info.m_sServiceName;
    if (m_bAllowDisplayNameChange && !info.m_sServiceDisplayName.empty()) {
        m_sDisplayName = info.m_sServiceDisplayName;
        m_EventLogSource.m_source = m_sDisplayName;
    }
    if (m_bAllowDescriptionChange && !info.m_sServiceDescription.empty())
        m_sDescription = info.m_sServiceDescription;

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
        if (!SetServiceToStatus(kOperation[action], error, static_cast<DWORD>(info.m_dwTimeout), 250)) {
            error = NonZero(error);
            FormatResourceMessage(message, kString[action], error, FALSE);
            ShowMessage(message, info.m_bSilent);
        }
        break;
    }
    case CWinServiceCommandLineInfo::InstallService: {
        m_sBinaryPathName = ProgramPath();
        if (m_sBinaryPathName.find(L' ') != std::wstring::npos) m_sBinaryPathName = L"\"" + m_sBinaryPathName + L"\"";
        if (m_bAllowNameChange && !info.m_sServiceName.empty())
            m_sBinaryPathName += L" \"/SN:" + info.m_sServiceName + L"\"";
        if (m_bAllowDisplayNameChange && !info.m_sServiceDisplayName.empty())
            m_sBinaryPathName += L" \"/SDN:" + info.m_sServiceDisplayName + L"\"";
        if (m_bAllowDescriptionChange && !info.m_sServiceDescription.empty())
            m_sBinaryPathName += L" \"/SD:" + info.m_sServiceDescription + L"\"";
        if (m_bAllowCommandLine && !info.m_sServiceCommandLine.empty())
            m_sBinaryPathName += L" " + info.m_sServiceCommandLine;
        if (!info.m_sUserName.empty()) {
            m_sUserName = info.m_sUserName;
            Wipe(info.m_sUserName);
        }
        if (!info.m_sPassword.empty()) {
            m_sPassword = info.m_sPassword;
            Wipe(info.m_sPassword);
        }
        if (info.m_bAutoStart) m_dwStartType = SERVICE_AUTO_START;
        if (!Install(message, error)) {
            error = NonZero(error);
            ShowMessage(message, info.m_bSilent);
        }
        break;
    }
    case CWinServiceCommandLineInfo::UninstallService:
        if (!Uninstall(message, error, static_cast<DWORD>(info.m_dwTimeout))) {
            error = NonZero(error);
            ShowMessage(message, info.m_bSilent);
        }
        break;
    case CWinServiceCommandLineInfo::DebugService:
        try {
            RunAsConsole();
        } catch (CWinServiceTerminateException& e) {
            error = e.m_dwWin32ExitCode;
        }
        break;
    case CWinServiceCommandLineInfo::ShowServiceHelp:
        ShowHelp();
        break;
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
    m_ServiceStatus.dwCurrentState = state;
    m_ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    if (state == SERVICE_STOPPED) {
        m_ServiceStatus.dwCheckPoint = 0;
        waitHint = 0;
    } else if (state == SERVICE_RUNNING || state == SERVICE_PAUSED) {
        m_ServiceStatus.dwCheckPoint = 0;
        waitHint = 0;
        win32ExitCode = serviceExitCode = 0;
    } else {
        if (checkPoint != keep) m_ServiceStatus.dwCheckPoint = checkPoint;
        win32ExitCode = serviceExitCode = 0;
    }
    if (waitHint != keep) m_ServiceStatus.dwWaitHint = waitHint;
    if (controls != keep) m_dwServiceStatusControls = controls;
    bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                   state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
    m_ServiceStatus.dwControlsAccepted = pending ? 0 : m_dwServiceStatusControls;
    m_ServiceStatus.dwWin32ExitCode = win32ExitCode;
    m_ServiceStatus.dwServiceSpecificExitCode = serviceExitCode;
    copy = m_ServiceStatus;
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
    SERVICE_STATUS copy = m_ServiceStatus;
    LeaveCriticalSection(&m_csStatus);
    return copy;
}

BOOL CWinService::RegisterCtrlHandler() {
    EnterCriticalSection(&m_csStatus);
    if (m_pRegisterHandlerEx) {
        typedef SERVICE_STATUS_HANDLE(WINAPI * RegisterEx)(LPCWSTR, LPHANDLER_FUNCTION_EX, LPVOID);
        m_hStatus = reinterpret_cast<RegisterEx>(reinterpret_cast<void*>(m_pRegisterHandlerEx))(
            m_sServiceName.c_str(), HandlerExTrampoline, nullptr);
    } else {
        m_hStatus = RegisterServiceCtrlHandlerW(m_sServiceName.c_str(), HandlerTrampoline);
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
        m_EventLogSource.Report(EVENTLOG_INFORMATION_TYPE, MapEventId(eventId), m_sDisplayName.c_str());
}

void CWinService::ReportErrorEvent(DWORD eventId, const std::wstring& message) {
    if (m_bEventLogging) m_EventLogSource.Report(EVENTLOG_ERROR_TYPE, MapEventId(eventId), message.c_str());
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
    lstrcpynW(name, m_sServiceName.c_str(), 256);
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
    static const wchar_t* const kDrop[] = {L"-debug", L"/debug", L"-app", L"/app", L"-application",
                                           L"/application", L"-console", L"/console"};
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

std::vector<wchar_t> CWinService::GetDependencies() { return EventLogSource::BuildMultiSz(m_sDependencies); }

// ---- messages

void CWinService::GetErrorMessage(std::wstring& text, DWORD error) {
    text.clear();
    LPWSTR buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (n && buffer) {
        text = buffer;
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    }
    if (buffer) LocalFree(buffer);
}

void CWinService::FormatResourceMessage(std::wstring& text, UINT stringId, DWORD error, BOOL forEventLog) {
    std::wstring number = Number(error), system;
    GetErrorMessage(system, error);
    std::wstring joined = Fill(LoadResourceString(MapStringId(15)), number, system);
    std::wstring form = LoadResourceString(MapStringId(stringId));
    int mode = forEventLog ? m_ELErrorLoggingDetail : m_UIErrorLoggingDetail;
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

BOOL CWinService::Install(std::wstring& message, DWORD& error) {
    error = 0;
    ScmManager manager;
    if (!manager.Open(nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_LOCK)) {
        error = NonZero(GetLastError());
        FormatResourceMessage(message, 1, error, FALSE);
        return FALSE;
    }
    if (!manager.Lock()) {
        error = NonZero(GetLastError());
        FormatResourceMessage(message, 2, error, FALSE);
        return FALSE;
    }
    ScmServiceHandle service;
    std::vector<wchar_t> dependencies = GetDependencies();
    BOOL created = service.Create(manager, m_sServiceName.c_str(), m_sDisplayName.c_str(), SERVICE_CHANGE_CONFIG,
                                  m_dwServiceType, m_dwStartType, m_dwErrorControl, m_sBinaryPathName.c_str(),
                                  m_sLoadOrderGroup.empty() ? nullptr : m_sLoadOrderGroup.c_str(), nullptr,
                                  dependencies.data(), m_sUserName.empty() ? nullptr : m_sUserName.c_str(),
                                  m_sPassword.c_str());
    DWORD createError = GetLastError();
    Wipe(m_sUserName);
    Wipe(m_sPassword);
    if (!created) {
        // Nothing was installed: stop here (the manager's destructor releases the lock).
        error = NonZero(createError);
        FormatResourceMessage(message, 3, error, FALSE);
        return FALSE;
    }
    if (m_bEventLogging) {
        if (m_sEventMessageFile.empty()) {
            std::wstring path = ProgramPath();
            std::size_t dot = path.rfind(L'.');
            std::size_t slash = path.rfind(L'\\');
            if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) path.resize(dot + 1);
            else path += L'.';
            m_sEventMessageFile = path + L"DLL";
        }
        if (!EventLogSource::InstallSource(m_EventLogSource.m_log.c_str(), m_EventLogSource.m_source.c_str(),
                                           m_sEventMessageFile.c_str(), 7)) {
            error = NonZero(GetLastError());
            FormatResourceMessage(message, 4, error, FALSE);
            return FALSE;
        }
    }
    if (!m_sDescription.empty() && !service.SetDescription(m_sDescription.c_str())) {
        error = NonZero(GetLastError());
        FormatResourceMessage(message, kDescriptionFailed, error, FALSE);
        return FALSE;
    }
    ReportInfoEvent(0x40000002);
    return TRUE;
}

BOOL CWinService::Uninstall(std::wstring& message, DWORD& error, DWORD waitMs) {
    error = 0;
    std::wstring logText;
    ScmManager manager;
    if (!manager.Open(nullptr, SC_MANAGER_CONNECT)) {
        error = NonZero(GetLastError());
        FormatResourceMessage(message, 5, error, FALSE);
        FormatResourceMessage(logText, 5, error, TRUE);
        ReportErrorEvent(0xC0000006, logText);
        return FALSE;
    }
    ScmServiceHandle service;
    if (!manager.OpenService(m_sServiceName.c_str(), DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS, service)) {
        error = NonZero(GetLastError());
        FormatResourceMessage(message, 6, error, FALSE);
        FormatResourceMessage(logText, 6, error, TRUE);
        ReportErrorEvent(0xC0000007, logText);
        return FALSE;
    }
    SERVICE_STATUS status{};
    if (service.QueryStatus(status) && status.dwCurrentState != SERVICE_STOPPED) {
        if (!service.Stop()) {
            std::wstring stopMessage;
            FormatResourceMessage(stopMessage, 16, GetLastError(), FALSE);
            ShowMessage(stopMessage, FALSE);
        }
        if (!service.WaitForStop(waitMs)) {
            error = NonZero(GetLastError());
            FormatResourceMessage(message, 7, error, FALSE);
            return FALSE;
        }
    }
    if (!service.Delete()) {
        error = NonZero(GetLastError());
        FormatResourceMessage(message, 8, error, FALSE);
        FormatResourceMessage(logText, 8, error, TRUE);
        ReportErrorEvent(0xC0000008, logText);
        return FALSE;
    }
    if (m_bEventLogging &&
        !EventLogSource::RemoveSource(m_EventLogSource.m_log.c_str(), m_EventLogSource.m_source.c_str())) {
        error = NonZero(GetLastError());
        FormatResourceMessage(message, 9, error, FALSE);
        return FALSE;
    }
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
    std::wstring logText;
    ScmManager manager;
    if (!manager.Open(nullptr, SC_MANAGER_CONNECT)) {
        error = NonZero(GetLastError());
        FormatResourceMessage(logText, 17, error, TRUE);
        return FALSE;
    }
    ScmServiceHandle service;
    if (!manager.OpenService(m_sServiceName.c_str(), op.access | SERVICE_QUERY_STATUS, service)) {
        error = NonZero(GetLastError());
        FormatResourceMessage(logText, 18, error, TRUE);
        ReportErrorEvent(0xC0000007, logText);
        return FALSE;
    }
    SERVICE_STATUS status{};
    if (!service.QueryStatus(status)) {
        error = NonZero(GetLastError());
        FormatResourceMessage(logText, 24, error, TRUE);
        ReportErrorEvent(0xC000000F, logText);
        return FALSE;
    }
    if (status.dwCurrentState != op.target) {
        BOOL sent = operation == 0 ? service.Start(0, nullptr)
                  : operation == 1 ? service.Pause()
                  : operation == 2 ? service.Continue()
                                   : service.Stop();
        if (!sent) {
            error = NonZero(GetLastError());
            if (operation == 3) {
                ReportErrorEvent(op.event, Number(error));
            } else {
                FormatResourceMessage(logText, op.string, error, TRUE);
                ReportErrorEvent(op.event, logText);
            }
            return FALSE;
        }
    }
    if (!service.WaitForState(waitMs, op.target, pollMs)) {
        error = NonZero(GetLastError());
        FormatResourceMessage(logText, 23, error, TRUE);
        if (m_bEventLogging)
            m_EventLogSource.Report(EVENTLOG_ERROR_TYPE, MapEventId(0xC000000E), logText.c_str(),
                                    Number(op.target).c_str());
        return FALSE;
    }
    return TRUE;
}

namespace {
struct EnumContext {
    ScmManager* manager;
    std::wstring self;
    std::vector<std::wstring>* names;
};

BOOL CollectInstance(void* p, const ENUM_SERVICE_STATUSW& entry) {
    auto* ctx = static_cast<EnumContext*>(p);
    ScmServiceHandle service;
    if (!ctx->manager->OpenService(entry.lpServiceName, SERVICE_QUERY_CONFIG, service)) return TRUE;
    LPQUERY_SERVICE_CONFIGW config = nullptr;
    if (service.QueryConfig(config)) {
        std::wstring path = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
        for (auto& c : path) c = static_cast<wchar_t>(std::towupper(c));
        if (path.find(ctx->self) != std::wstring::npos) ctx->names->push_back(entry.lpServiceName);
        delete[] reinterpret_cast<BYTE*>(config);
    }
    return TRUE;
}
}  // namespace

BOOL CWinService::EnumerateInstances(std::vector<std::wstring>& names, DWORD& error) {
    names.clear();
    error = 0;
    ScmManager manager;
    if (!manager.Open(nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE)) {
        error = GetLastError();
        return FALSE;
    }
    EnumContext ctx{&manager, ProgramPath(), &names};
    for (auto& c : ctx.self) c = static_cast<wchar_t>(std::towupper(c));
    if (!manager.EnumServices(SERVICE_WIN32, SERVICE_STATE_ALL, &ctx, CollectInstance)) {
        error = GetLastError();
        return FALSE;
    }
    return TRUE;
}
