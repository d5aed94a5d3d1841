// Install and remove against Wine's service manager: an install either completes or leaves nothing,
// and a remove that is told to be silent shows nothing, even when the service refuses to stop.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "service/CWinService.h"

namespace {
const std::wstring kSources = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

std::wstring Unique(const wchar_t* stem, int n) {
    return stem + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(n);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

bool KeyExists(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// 0 when the service is installed, else the manager's code.
DWORD ServiceMissing(const std::wstring& name) {
    ScmManager manager;
    ScmServiceHandle service;
    if (!manager.Open(nullptr, SC_MANAGER_CONNECT)) return GetLastError();
    return manager.OpenService(name.c_str(), SERVICE_QUERY_STATUS, service) ? 0 : GetLastError();
}

void Release(const std::wstring& name) {
    if (HANDLE release = OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"Global\\" + name + L".release").c_str())) {
        SetEvent(release);
        CloseHandle(release);
    }
}

// Takes away what a case installed, whether it passed or not: the service (a stubborn one released
// first) and the registry keys, innermost first.
struct Leftovers {
    std::wstring service;
    std::vector<std::wstring> keys;
    ~Leftovers() {
        Release(service);
        ScmManager manager;
        ScmServiceHandle handle;
        if (manager.Open(nullptr, SC_MANAGER_CONNECT) &&
            manager.OpenService(service.c_str(), DELETE | SERVICE_QUERY_STATUS, handle)) {
            handle.WaitForStop(20000);
            handle.Delete();
        }
        for (const auto& key : keys) RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    }
};

class Installer : public CWinService {
public:
    explicit Installer(const std::wstring& name)
        : CWinService(name.c_str(), name.c_str(), SERVICE_ACCEPT_STOP, L"install test") {
        m_pMessageSink = &shown;
        m_strBinaryPathName = L"C:\\nowhere.exe";
    }
    DWORD MapEventId(DWORD id) override {
        events.push_back(id);
        return id;
    }
    void FormatResourceMessage(std::wstring& text, UINT stringId, DWORD error, BOOL forEventLog) override {
        CWinService::FormatResourceMessage(text, stringId, error, forEventLog);
        // The manager has refused the stop once its text is built: only then may the stubborn
        // service end, so the refusal cannot be missed.
        if (stringId == 16) Release(m_strServiceName);
    }
    bool Reported(DWORD id) const {
        for (DWORD e : events)
            if (e == id) return true;
        return false;
    }

    std::wstring shown;
    std::vector<DWORD> events;
};

std::wstring StubbornPath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    path.resize(path.rfind(L'\\') + 1);
    return L"\"" + path + L"StubbornService.exe\"";
}

CWinServiceCommandLineInfo Parse(const std::vector<const wchar_t*>& tokens) {
    CWinServiceCommandLineInfo info;
    for (std::size_t i = 0; i < tokens.size(); ++i) info.ParseParam(tokens[i] + 1, TRUE, i + 1 == tokens.size());
    return info;
}
}  // namespace

TEST(ServiceInstall, CompletesOrLeavesNothing) {
    const std::wstring tooLong(300, L'x');  // the registry takes key names of up to 256 characters
    struct Case {
        const char* what;
        BOOL forgetDescriptionCall;
        std::wstring sourceTail;  // appended to the service's name to make the source's name
        BOOL installed;
        DWORD error;
    } cases[] = {
        {"the description cannot be set", TRUE, L"", TRUE, 0},
        {"the source's name is refused", FALSE, tooLong, FALSE, ERROR_INVALID_PARAMETER},
        {"the source's key is refused below a new one", FALSE, L"\\" + tooLong, FALSE, ERROR_INVALID_PARAMETER},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring name = Unique(L"FerrantInstall", n++);
        Installer service(name);
        service.m_bForgetChangeConfig2 = c.forgetDescriptionCall;
        service.m_eventLogSource.m_strSource = name + c.sourceTail;
        Leftovers leftovers{name, {kSources + name + c.sourceTail, kSources + name}};
        std::wstring message;
        DWORD error = 0;
        EXPECT_EQ(service.Install(message, error), c.installed) << Narrow(message);
        EXPECT_EQ(error, c.error);
        if (c.installed) {
            EXPECT_EQ(message, L"");
        } else {
            std::wstring want = L"CWinService::Install, Failed call to install service as an event log source, Error:" +
                                std::to_wstring(c.error) + L", ";
            EXPECT_EQ(message.compare(0, want.size(), want), 0) << Narrow(message);
        }
        EXPECT_EQ(service.Reported(0x40000002), c.installed == TRUE);
        EXPECT_EQ(ServiceMissing(name), c.installed ? 0u : static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
        EXPECT_EQ(KeyExists(kSources + name), c.installed == TRUE);  // nothing of the source is left over
        if (c.installed) {
            EXPECT_TRUE(service.Uninstall(message, error, 5000)) << Narrow(message);
            EXPECT_EQ(ServiceMissing(name), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
            EXPECT_FALSE(KeyExists(kSources + name));
        }
    }
}

TEST(ServiceRemove, RefusedStopIsShownUnlessSilent) {
    struct Case {
        BOOL silent;
        std::wstring shown;  // the start of what the user sees
    } cases[] = {
        {TRUE, L""},
        {FALSE, L"CWinService::Uninstall, Failed to stop service, Error:" +
                    std::to_wstring(ERROR_INVALID_SERVICE_CONTROL) + L", "},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.silent ? "silent" : "not silent");
        std::wstring name = Unique(L"FerrantStubborn", n++);
        Installer service(name);
        service.m_strBinaryPathName = StubbornPath() + L" \"/SN:" + name + L"\"";
        Leftovers leftovers{name, {kSources + name}};
        std::wstring message;
        DWORD error = 0;
        ASSERT_TRUE(service.Install(message, error)) << Narrow(message);
        {
            ScmManager manager;
            ScmServiceHandle running;
            ASSERT_TRUE(manager.Open(nullptr, SC_MANAGER_CONNECT));
            ASSERT_TRUE(manager.OpenService(name.c_str(), SERVICE_START | SERVICE_QUERY_STATUS, running));
            ASSERT_TRUE(running.Start(0, nullptr)) << GetLastError();
            ASSERT_TRUE(running.WaitForState(20000, SERVICE_RUNNING, 50)) << GetLastError();
        }
        std::vector<const wchar_t*> tokens = {L"/remove", L"/T:20000"};
        if (c.silent) tokens.push_back(L"/silent");
        CWinServiceCommandLineInfo info = Parse(tokens);
        EXPECT_EQ(service.ProcessShellCommand(info), 0u) << Narrow(service.shown);
        if (c.shown.empty())
            EXPECT_EQ(service.shown, L"");
        else
            EXPECT_EQ(service.shown.compare(0, c.shown.size(), c.shown), 0) << Narrow(service.shown);
        EXPECT_EQ(ServiceMissing(name), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
        EXPECT_FALSE(KeyExists(kSources + name));
    }
}
