// ScmManager, ScmServiceHandle, EventLogSource: owning wrappers over the service control manager
// and the event log.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class ScmServiceHandle;

class ScmManager {
public:
    ScmManager() = default;
    ~ScmManager() { Close(); }
    ScmManager(const ScmManager&) = delete;
    ScmManager& operator=(const ScmManager&) = delete;

    BOOL Open(LPCWSTR machine, DWORD access);
    BOOL OpenService(LPCWSTR name, DWORD access, ScmServiceHandle& service);
    BOOL Lock();
    BOOL Unlock();
    void Close();
    SC_HANDLE Handle() const { return m_hManager; }

private:
    SC_HANDLE m_hManager = nullptr;
    SC_LOCK m_hLock = nullptr;
};

class ScmServiceHandle {
public:
    ScmServiceHandle();
    ~ScmServiceHandle() { Close(); }
    ScmServiceHandle(const ScmServiceHandle&) = delete;
    ScmServiceHandle& operator=(const ScmServiceHandle&) = delete;

    BOOL Create(ScmManager& manager, LPCWSTR name, LPCWSTR displayName, DWORD access, DWORD serviceType,
                DWORD startType, DWORD errorControl, LPCWSTR binaryPath, LPCWSTR loadOrderGroup, LPDWORD tagId,
                LPCWSTR dependencies, LPCWSTR account, LPCWSTR password);
    void Attach(SC_HANDLE handle);
    BOOL Stop() { return Control(SERVICE_CONTROL_STOP); }
    BOOL Pause() { return Control(SERVICE_CONTROL_PAUSE); }
    BOOL Continue() { return Control(SERVICE_CONTROL_CONTINUE); }
    BOOL Control(DWORD code);
    BOOL Start(DWORD argc, LPCWSTR* argv) { return StartServiceW(m_hService, argc, argv); }
    BOOL QueryStatus(SERVICE_STATUS& status) { return QueryServiceStatus(m_hService, &status); }
    BOOL SetDescription(LPCWSTR text);
    BOOL Delete() { return DeleteService(m_hService); }
    BOOL WaitForState(DWORD timeOutMs, DWORD state, DWORD pollMs);
    BOOL WaitForStop(DWORD timeOutMs) { return WaitForState(timeOutMs, SERVICE_STOPPED, 250); }
    BOOL Close();
    SC_HANDLE Handle() const { return m_hService; }
    // For tests: pretend the system lacks ChangeServiceConfig2W.
    void ForgetChangeConfig2() { m_pfnChangeConfig2 = nullptr; }

private:
    typedef BOOL(WINAPI* ChangeConfig2Fn)(SC_HANDLE, DWORD, LPVOID);

    SC_HANDLE m_hService = nullptr;
    ChangeConfig2Fn m_pfnChangeConfig2 = nullptr;
};

class EventLogSource {
public:
    EventLogSource();
    ~EventLogSource();
    EventLogSource(const EventLogSource&) = delete;
    EventLogSource& operator=(const EventLogSource&) = delete;

    BOOL Register(LPCWSTR server, LPCWSTR source);
    BOOL Deregister();
    BOOL Report(WORD type, WORD category, DWORD eventId, PSID sid, WORD numStrings, DWORD dataSize, LPCWSTR* strings,
                LPVOID data);
    BOOL Report(WORD type, DWORD eventId, LPCWSTR text);
    BOOL Report(WORD type, DWORD eventId, LPCWSTR text1, LPCWSTR text2);

    static BOOL InstallSource(LPCWSTR log, LPCWSTR source, LPCWSTR messageFile, DWORD typesSupported);
    static BOOL RemoveSource(LPCWSTR log, LPCWSTR source);
    static std::wstring FormatNumber(DWORD number, BOOL hex);
    // Texts of a REG_MULTI_SZ block of `bytes` bytes; never reads past them.
    static std::vector<std::wstring> ParseMultiSz(const BYTE* data, DWORD bytes);
    static std::vector<wchar_t> BuildMultiSz(const std::vector<std::wstring>& texts);

    std::wstring m_strServer;
    std::wstring m_strSource;
    std::wstring m_strLog = L"Application";

private:
    HANDLE m_hEventSource = nullptr;
    CRITICAL_SECTION m_lock;
};

// Milliseconds from start to now on the tick counter, right across its wrap.
inline DWORD TicksSince(DWORD start, DWORD now) { return now - start; }
