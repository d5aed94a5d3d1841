#include "service/ScmWrappers.h"

#include <cwchar>

namespace {
const wchar_t kEventLogKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\";

// Reads "Sources" of an open log key. Absent is an empty list (true); other failures return false.
bool ReadSources(HKEY key, std::vector<std::wstring>& out) {
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExW(key, L"Sources", nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND) {
        out.clear();
        return true;
    }
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return false;
    }
    if (type != REG_MULTI_SZ) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    std::vector<BYTE> data(size + sizeof(wchar_t) * 2);
    rc = RegQueryValueExW(key, L"Sources", nullptr, &type, data.data(), &size);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return false;
    }
    out = EventLogSource::ParseMultiSz(data.data(), size);
    return true;
}

bool WriteSources(HKEY key, const std::vector<std::wstring>& list) {
    std::vector<wchar_t> block = EventLogSource::BuildMultiSz(list);
    LONG rc = RegSetValueExW(key, L"Sources", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(block.data()),
                             static_cast<DWORD>(block.size() * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return false;
    }
    return true;
}
}  // namespace

// ---- ScmManager

BOOL ScmManager::Open(LPCWSTR machine, DWORD access) {
    Close();
    m_hManager = OpenSCManagerW(machine, SERVICES_ACTIVE_DATABASEW, access);
    return m_hManager != nullptr;
}

BOOL ScmManager::OpenService(LPCWSTR name, DWORD access, ScmServiceHandle& service) {
    SC_HANDLE h = ::OpenServiceW(m_hManager, name, access);
    if (!h) return FALSE;
    service.Attach(h);
    return TRUE;
}

BOOL ScmManager::Lock() {
    m_hLock = LockServiceDatabase(m_hManager);
    return m_hLock != nullptr;
}

BOOL ScmManager::Unlock() {
    if (m_hLock) {
        UnlockServiceDatabase(m_hLock);
        m_hLock = nullptr;
    }
    return TRUE;
}

void ScmManager::Close() {
    Unlock();
    if (m_hManager) {
        CloseServiceHandle(m_hManager);
        m_hManager = nullptr;
    }
}

// ---- ScmServiceHandle

ScmServiceHandle::ScmServiceHandle() {
    if (HMODULE advapi = GetModuleHandleW(L"ADVAPI32.DLL"))
        m_pfnChangeConfig2 =
            reinterpret_cast<ChangeConfig2Fn>(reinterpret_cast<void*>(GetProcAddress(advapi, "ChangeServiceConfig2W")));
}

BOOL ScmServiceHandle::Create(ScmManager& manager, LPCWSTR name, LPCWSTR displayName, DWORD access, DWORD serviceType,
                              DWORD startType, DWORD errorControl, LPCWSTR binaryPath, LPCWSTR loadOrderGroup,
                              LPDWORD tagId, LPCWSTR dependencies, LPCWSTR account, LPCWSTR password) {
    Close();
    m_hService = CreateServiceW(manager.Handle(), name, displayName, access, serviceType, startType, errorControl,
                                binaryPath, loadOrderGroup, tagId, dependencies, account, password);
    return m_hService != nullptr;
}

void ScmServiceHandle::Attach(SC_HANDLE handle) {
    Close();
    m_hService = handle;
}

BOOL ScmServiceHandle::Control(DWORD code) {
    SERVICE_STATUS status{};
    return ControlService(m_hService, code, &status);
}

BOOL ScmServiceHandle::SetDescription(LPCWSTR text) {
    if (!m_pfnChangeConfig2) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    std::wstring copy = text ? text : L"";
    SERVICE_DESCRIPTIONW description{&copy[0]};
    return m_pfnChangeConfig2(m_hService, SERVICE_CONFIG_DESCRIPTION, &description);
}

BOOL ScmServiceHandle::WaitForState(DWORD timeOutMs, DWORD state, DWORD pollMs) {
    DWORD start = GetTickCount();
    for (;;) {
        SERVICE_STATUS status{};
        if (!QueryStatus(status)) return FALSE;
        if (status.dwCurrentState == state) return TRUE;
        Sleep(pollMs);
        if (timeOutMs != INFINITE && TicksSince(start, GetTickCount()) > timeOutMs) {
            SetLastError(ERROR_TIMEOUT);
            return FALSE;
        }
    }
}

BOOL ScmServiceHandle::Close() {
    if (!m_hService) return FALSE;
    BOOL ok = CloseServiceHandle(m_hService);
    m_hService = nullptr;
    return ok;
}

// ---- EventLogSource

EventLogSource::EventLogSource() { InitializeCriticalSection(&m_lock); }

EventLogSource::~EventLogSource() {
    Deregister();
    DeleteCriticalSection(&m_lock);
}

BOOL EventLogSource::Register(LPCWSTR server, LPCWSTR source) {
    Deregister();
    m_hEventSource = RegisterEventSourceW(server && *server ? server : nullptr, source);
    return m_hEventSource != nullptr;
}

BOOL EventLogSource::Deregister() {
    BOOL ok = TRUE;
    if (m_hEventSource) {
        ok = DeregisterEventSource(m_hEventSource);
        m_hEventSource = nullptr;
    }
    return ok;
}

BOOL EventLogSource::Report(WORD type, WORD category, DWORD eventId, PSID sid, WORD numStrings, DWORD dataSize,
                            LPCWSTR* strings, LPVOID data) {
    EnterCriticalSection(&m_lock);
    Register(m_strServer.c_str(), m_strSource.c_str());
    BOOL ok = ReportEventW(m_hEventSource, type, category, eventId, sid, numStrings, dataSize, strings, data);
    Deregister();
    LeaveCriticalSection(&m_lock);
    return ok;
}

BOOL EventLogSource::Report(WORD type, DWORD eventId, LPCWSTR text) {
    LPCWSTR strings[1] = {text};
    return Report(type, 0, eventId, nullptr, 1, 0, strings, nullptr);
}

BOOL EventLogSource::Report(WORD type, DWORD eventId, LPCWSTR text1, LPCWSTR text2) {
    LPCWSTR strings[2] = {text1, text2};
    return Report(type, 0, eventId, nullptr, 2, 0, strings, nullptr);
}

std::wstring EventLogSource::FormatNumber(DWORD number, BOOL hex) {
    wchar_t text[16];
    _snwprintf(text, 16, hex ? L"%08X" : L"%d", number);
    text[15] = 0;
    return text;
}

std::vector<std::wstring> EventLogSource::ParseMultiSz(const BYTE* data, DWORD bytes) {
    std::vector<std::wstring> out;
    const wchar_t* p = reinterpret_cast<const wchar_t*>(data);
    std::size_t n = bytes / sizeof(wchar_t);
    std::size_t i = 0;
    while (i < n) {
        std::size_t start = i;
        while (i < n && p[i] != 0) ++i;
        if (i == start) break;  // the empty text ends the list
        out.emplace_back(p + start, i - start);
        ++i;
    }
    return out;
}

std::vector<wchar_t> EventLogSource::BuildMultiSz(const std::vector<std::wstring>& texts) {
    std::vector<wchar_t> block;
    for (const auto& t : texts) {
        block.insert(block.end(), t.begin(), t.end());
        block.push_back(0);
    }
    block.push_back(0);
    return block;
}

BOOL EventLogSource::InstallSource(LPCWSTR log, LPCWSTR source, LPCWSTR messageFile, DWORD typesSupported) {
    // The keys this call creates, outermost first: a failure takes them away again. The registry
    // leaves the outer keys of a path behind when an inner one fails, so the source's key is
    // created one level at a time.
    std::vector<std::wstring> added;
    std::wstring path = std::wstring(kEventLogKey) + log;
    HKEY logKey = nullptr;
    DWORD disposition = 0;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                              KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, &logKey, &disposition);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return FALSE;
    }
    if (disposition == REG_CREATED_NEW_KEY) added.push_back(path);
    const std::wstring name = source;
    HKEY sourceKey = logKey;
    for (std::size_t start = 0;;) {
        std::size_t end = name.find(L'\\', start);
        std::wstring level = name.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        HKEY next = nullptr;
        rc = RegCreateKeyExW(sourceKey, level.c_str(), 0, nullptr, 0, KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr,
                             &next, &disposition);
        if (sourceKey != logKey) RegCloseKey(sourceKey);
        sourceKey = rc == ERROR_SUCCESS ? next : nullptr;
        if (rc != ERROR_SUCCESS) break;
        path += L"\\" + level;
        if (disposition == REG_CREATED_NEW_KEY) added.push_back(path);
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExW(sourceKey, L"EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(messageFile),
                            static_cast<DWORD>((wcslen(messageFile) + 1) * sizeof(wchar_t)));
        if (rc == ERROR_SUCCESS)
            rc = RegSetValueExW(sourceKey, L"TypesSupported", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&typesSupported), sizeof(DWORD));
        RegCloseKey(sourceKey);
    }
    if (rc != ERROR_SUCCESS) {
        RegCloseKey(logKey);
        for (auto it = added.rbegin(); it != added.rend(); ++it) RegDeleteKeyW(HKEY_LOCAL_MACHINE, it->c_str());
        SetLastError(rc);
        return FALSE;
    }
    std::vector<std::wstring> list;
    if (ReadSources(logKey, list)) {
        bool listed = false;
        for (const auto& s : list) listed = listed || s == source;
        if (!listed) {
            list.push_back(source);
            WriteSources(logKey, list);
        }
    }
    RegCloseKey(logKey);
    return TRUE;
}

BOOL EventLogSource::RemoveSource(LPCWSTR log, LPCWSTR source) {
    std::wstring path = std::wstring(kEventLogKey) + log + L"\\" + source;
    LONG rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return FALSE;
    }
    HKEY logKey = nullptr;
    path = std::wstring(kEventLogKey) + log;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_SET_VALUE, &logKey) == ERROR_SUCCESS) {
        std::vector<std::wstring> list, kept;
        if (ReadSources(logKey, list)) {
            for (const auto& s : list)
                if (s != source) kept.push_back(s);
            if (kept.size() != list.size()) WriteSources(logKey, kept);
        }
        RegCloseKey(logKey);
    }
    return TRUE;
}
