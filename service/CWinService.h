// Base class of a service program: identity, SCM registration and status, control dispatch,
// install/remove, start/pause/continue/stop of the installed instance, and console mode.
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
    enum Action { RunAsService = 0, StartTheService, PauseService, ContinueService, StopService,
                  InstallService, UninstallService, DebugService, ShowServiceHelp };

    virtual ~CWinServiceCommandLineInfo() = default;
    virtual void ParseParam(const wchar_t* param, BOOL flag, BOOL last);

    int m_nShellCommand = RunAsService;
    int m_dwTimeout = 5000;
    BOOL m_bSilent = FALSE;
    std::wstring m_sServiceCommandLine;
    std::wstring m_sServiceName;
    std::wstring m_sServiceDisplayName;
    std::wstring m_sServiceDescription;
    std::wstring m_sUserName;
    std::wstring m_sPassword;
    BOOL m_bAutoStart = FALSE;
};

class CWinService {
public:
    CWinService(LPCWSTR serviceName, LPCWSTR displayName, DWORD controlsAccepted, LPCWSTR description);
    virtual ~CWinService();
    CWinService(const CWinService&) = delete;
    CWinService& operator=(const CWinService&) = delete;

    // Parameter accessors under the service's "Parameters" key.
    virtual BOOL SetParamString(LPCWSTR section, LPCWSTR entry, LPCWSTR value);
    virtual BOOL SetParamInt(LPCWSTR section, LPCWSTR entry, DWORD value);
    virtual BOOL SetParamStringArray(LPCWSTR section, LPCWSTR entry, const std::vector<std::wstring>& values);
    virtual BOOL SetParamBinary(LPCWSTR section, LPCWSTR entry, const BYTE* data, DWORD length);
    virtual std::wstring GetParamString(LPCWSTR section, LPCWSTR entry, LPCWSTR def, DWORD* error = nullptr);
    virtual DWORD GetParamInt(LPCWSTR section, LPCWSTR entry, DWORD def);
    virtual BOOL GetParamStringArray(LPCWSTR section, LPCWSTR entry, std::vector<std::wstring>& values);
    virtual BOOL GetParamBinary(LPCWSTR section, LPCWSTR entry, BYTE*& data, DWORD& length);

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
    virtual BOOL EnumerateInstances(std::vector<std::wstring>& names, DWORD& error);
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
    std::wstring m_sLoadOrderGroup;
    std::wstring m_sUserName;
    std::wstring m_sPassword;
    std::wstring m_sEventMessageFile;
    int m_UIErrorLoggingDetail = 4;
    int m_ELErrorLoggingDetail = 1;
    std::vector<std::wstring> m_sDependencies;
    BOOL m_bEventLogging = TRUE;
    SERVICE_STATUS_HANDLE m_hStatus = nullptr;
    DWORD m_dwServiceStatusControls;
    std::wstring m_sServiceName, m_sMasterServiceName;
    std::wstring m_sDisplayName, m_sMasterDisplayName;
    std::wstring m_sDescription, m_sMasterDescription;
    EventLogSource m_EventLogSource;
    BOOL m_bRegistryFlush = TRUE;
    BOOL m_bAllowCommandLine = FALSE;
    BOOL m_bAllowNameChange = FALSE;
    BOOL m_bAllowDescriptionChange = FALSE;
    BOOL m_bAllowDisplayNameChange = FALSE;
    BOOL m_bUseConsole = TRUE;
    std::wstring m_sBinaryPathName;
    // When set, messages go here instead of the console (tests).
    std::wstring* m_pMessageSink = nullptr;

protected:
    void ShowMessage(const std::wstring& text, BOOL silent);
    void ReportInfoEvent(DWORD eventId);
    void ReportErrorEvent(DWORD eventId, const std::wstring& message);
    static std::wstring ProgramPath();

    SERVICE_STATUS m_ServiceStatus{};
    CRITICAL_SECTION m_csStatus;

private:
    HKEY OpenParamSection(LPCWSTR section, BOOL write);
    static void WINAPI ServiceMainTrampoline(DWORD argc, LPWSTR* argv);
    static void WINAPI HandlerTrampoline(DWORD control);
    static DWORD WINAPI HandlerExTrampoline(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
    static BOOL WINAPI ConsoleTrampoline(DWORD event);

    HMODULE m_hAdvapi = nullptr;
    FARPROC m_pRegisterHandlerEx = nullptr;
    static CWinService* sm_pService;
};
