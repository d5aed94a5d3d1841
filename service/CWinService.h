// CWinService, CWinServiceTerminateException, CWinServiceCommandLineInfo: base class of a service
// program (identity, SCM registration and status, control dispatch, install/remove,
// start/pause/continue/stop of the installed instance, console mode), its exit and its command line.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "service/ScmWrappers.h"

class CWinServiceTerminateException {
public:
    CWinServiceTerminateException(DWORD win32ExitCode, DWORD serviceExitCode)
        : m_dwWin32ExitCode(win32ExitCode), m_dwServiceSpecificExitCode(serviceExitCode) {}
    DWORD m_dwWin32ExitCode;
    DWORD m_dwServiceSpecificExitCode;
};

class CWinServiceCommandLineInfo {
public:
    enum Action {
        RunAsService = 0,
        StartTheService,
        PauseService,
        ContinueService,
        StopService,
        InstallService,
        UninstallService,
        DebugService,
        ShowServiceHelp
    };

    virtual ~CWinServiceCommandLineInfo() = default;
    virtual void ParseParam(const wchar_t* param, BOOL flag, BOOL last);

    int m_nShellCommand = RunAsService;
    DWORD m_dwTimeout = 5000;
    BOOL m_bSilent = FALSE;
    std::wstring m_strServiceCommandLine;
    std::wstring m_strServiceName;
    std::wstring m_strServiceDisplayName;
    std::wstring m_strServiceDescription;
    std::wstring m_strUserName;
    std::wstring m_strPassword;
    BOOL m_bAutoStart = FALSE;
};

class CWinService {
public:
    CWinService(LPCWSTR serviceName, LPCWSTR displayName, DWORD controlsAccepted, LPCWSTR description);
    virtual ~CWinService();
    CWinService(const CWinService&) = delete;
    CWinService& operator=(const CWinService&) = delete;

    virtual void ParseCommandLine(CWinServiceCommandLineInfo& info);
    virtual DWORD ProcessShellCommand(CWinServiceCommandLineInfo& info);
    virtual BOOL ReportStatus(DWORD state, DWORD checkPoint = static_cast<DWORD>(-1),
                              DWORD waitHint = static_cast<DWORD>(-1), DWORD controls = static_cast<DWORD>(-1));
    virtual BOOL ReportCurrentStatus();
    virtual BOOL RegisterCtrlHandler();
    virtual DWORD ServiceCtrlHandler(DWORD control, DWORD eventType, LPVOID eventData);
    virtual void Run(DWORD argc, LPWSTR* argv);
    virtual void OnStop();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnInterrogate();
    virtual void OnShutdown();
    virtual void OnParamChange() {}
    virtual DWORD OnHardwareProfileChange(DWORD, LPVOID) { return NO_ERROR; }
    virtual DWORD OnPowerEvent(DWORD, LPVOID) { return NO_ERROR; }
    virtual void OnNetBindAdd() {}
    virtual void OnNetBindRemove() {}
    virtual void OnNetBindEnable() {}
    virtual void OnNetBindDisable() {}
    virtual DWORD OnDeviceEvent(DWORD, LPVOID) { return NO_ERROR; }
    virtual void OnUserDefinedRequest(DWORD control);
    virtual BOOL StartDispatcher();
    virtual BOOL SetServiceToStatus(int operation, DWORD& error, DWORD waitMs, DWORD pollMs);
    virtual BOOL Install(std::wstring& message, DWORD& error);
    virtual BOOL Uninstall(std::wstring& message, DWORD& error, DWORD waitMs);
    virtual void RunAsConsole();
    virtual void ShowHelp() {}
    virtual void ServiceMain(DWORD argc, LPWSTR* argv);
    virtual void FormatResourceMessage(std::wstring& text, UINT stringId, DWORD error, BOOL forEventLog);
    virtual UINT MapStringId(UINT id) { return id; }
    virtual DWORD MapEventId(DWORD id) { return id; }
    virtual void GetErrorMessage(std::wstring& text, DWORD error);
    virtual BOOL ReportStatus(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD controls, DWORD win32ExitCode,
                              DWORD serviceExitCode);
    virtual std::vector<wchar_t> GetDependencies();
    virtual BOOL ConsoleCtrlHandler(DWORD event);

    // The text of string-table entry id ("" when there is none).
    static const wchar_t* LoadResourceString(UINT id);
    // The status record last reported (copied under the lock).
    SERVICE_STATUS CurrentStatus();
    static CWinService* Current() { return sm_pService; }

    DWORD m_dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    DWORD m_dwStartType = SERVICE_DEMAND_START;
    DWORD m_dwErrorControl = SERVICE_ERROR_IGNORE;
    std::wstring m_strLoadOrderGroup;
    std::wstring m_strUserName;
    std::wstring m_strPassword;
    std::wstring m_strEventMessageFile;
    int m_nUIErrorLoggingDetail = 4;
    int m_nELErrorLoggingDetail = 1;
    std::vector<std::wstring> m_dependencies;
    BOOL m_bEventLogging = TRUE;
    SERVICE_STATUS_HANDLE m_hStatus = nullptr;
    DWORD m_dwServiceStatusControls;
    std::wstring m_strServiceName;
    std::wstring m_strDisplayName;
    std::wstring m_strDescription;
    EventLogSource m_eventLogSource;
    BOOL m_bAllowCommandLine = FALSE;
    BOOL m_bAllowNameChange = FALSE;
    BOOL m_bAllowDescriptionChange = FALSE;
    BOOL m_bAllowDisplayNameChange = FALSE;
    BOOL m_bUseConsole = TRUE;
    std::wstring m_strBinaryPathName;
    // When set, messages go here instead of the console (tests).
    std::wstring* m_pMessageSink = nullptr;
    // When set, installs as on a system without ChangeServiceConfig2W (tests).
    BOOL m_bForgetChangeConfig2 = FALSE;

protected:
    void ShowMessage(const std::wstring& text, BOOL silent);
    void ReportInfoEvent(DWORD eventId);
    void ReportErrorEvent(DWORD eventId, const std::wstring& message);
    static std::wstring ProgramPath();

    SERVICE_STATUS m_serviceStatus{};
    CRITICAL_SECTION m_csStatus;

private:
    typedef SERVICE_STATUS_HANDLE(WINAPI* RegisterHandlerExFn)(LPCWSTR, LPHANDLER_FUNCTION_EX, LPVOID);

    // A failed step: error becomes the system's code (never 0), message (when given) the user's text
    // for it, and with an event id the log's text goes to the event log.
    BOOL FailStep(DWORD systemError, UINT stringId, DWORD& error, std::wstring* message, DWORD eventId = 0);
    static void WINAPI ServiceMainTrampoline(DWORD argc, LPWSTR* argv);
    static void WINAPI HandlerTrampoline(DWORD control);
    static DWORD WINAPI HandlerExTrampoline(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
    static BOOL WINAPI ConsoleTrampoline(DWORD event);

    RegisterHandlerExFn m_pfnRegisterHandlerEx = nullptr;
    static CWinService* sm_pService;
};
