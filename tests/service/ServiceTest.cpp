#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "service/CMyService.h"
#include "service/CWinService.h"

namespace {
CWinServiceCommandLineInfo Parse(std::initializer_list<const wchar_t*> tokens) {
    CWinServiceCommandLineInfo info;
    std::size_t i = 0;
    for (const wchar_t* t : tokens) {
        ++i;
        BOOL flag = t[0] == L'-' || t[0] == L'/';
        info.ParseParam(flag ? t + 1 : t, flag, i == tokens.size());
    }
    return info;
}

class Probe : public CWinService {
public:
    Probe() : CWinService(L"ProbeSvc", L"Probe Service", SERVICE_ACCEPT_STOP, L"probe") {}
    void OnStop() override { ++stops; }
    void OnUserDefinedRequest(DWORD control) override { lastUser = control; }
    int stops = 0;
    DWORD lastUser = 0;
};
}  // namespace

TEST(ServiceCommandLine, ActionsTable) {
    struct Case {
        const wchar_t* token;
        int action;
    } cases[] = {
        {L"/install", 5},     {L"-INSTALL", 5}, {L"/InStAlL", 5}, {L"install", 0},    {L"/start", 1},   {L"/pause", 2},
        {L"/continue", 3},    {L"/stop", 4},    {L"/remove", 6},  {L"/uninstall", 6}, {L"/debug", 7},   {L"-app", 7},
        {L"/application", 7}, {L"/console", 7}, {L"/help", 8},    {L"/?", 8},         {L"/unknown", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.token, c.token + wcslen(c.token)));
        EXPECT_EQ(Parse({c.token}).m_nShellCommand, c.action);
    }
    EXPECT_EQ(CWinServiceCommandLineInfo().m_nShellCommand, 0);  // no arguments: the dispatcher
}

TEST(ServiceCommandLine, OptionsTable) {
    auto info = Parse({L"/T:12000", L"/sdn:Mixed Case", L"/SN:svc", L"/SD:desc", L"/SCL:-x y", L"/U:bob", L"/P:pw",
                       L"/auto", L"/silent"});
    EXPECT_EQ(info.m_dwTimeout, 12000u);
    EXPECT_EQ(info.m_strServiceDisplayName, L"Mixed Case");
    EXPECT_EQ(info.m_strServiceName, L"svc");
    EXPECT_EQ(info.m_strServiceDescription, L"desc");
    EXPECT_EQ(info.m_strServiceCommandLine, L"-x y");
    EXPECT_EQ(info.m_strUserName, L"bob");
    EXPECT_EQ(info.m_strPassword, L"pw");
    EXPECT_TRUE(info.m_bAutoStart);
    EXPECT_TRUE(info.m_bSilent);

    EXPECT_EQ(Parse({L"/T:"}).m_dwTimeout, 5000u);  // nothing after the colon: ignored
    EXPECT_EQ(Parse({L"/T:abc"}).m_dwTimeout, 0u);
    auto later = Parse({L"/start", L"/stop", L"/SN:a", L"/SN:b"});
    EXPECT_EQ(later.m_nShellCommand, 4);  // later tokens override earlier ones
    EXPECT_EQ(later.m_strServiceName, L"b");
}

TEST(ServiceCommandLine, FailuresNeverExitWithZero) {
    Probe service;
    std::wstring messages;
    service.m_pMessageSink = &messages;
    service.m_bEventLogging = FALSE;
    auto info = Parse({L"/stop", L"/silent", L"/T:500"});
    DWORD code = service.ProcessShellCommand(info);
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(messages, L"");  // silent
    info = Parse({L"/start", L"/T:500"});
    EXPECT_NE(service.ProcessShellCommand(info), 0u);
    EXPECT_EQ(messages.compare(0, 36, L"Failed to start the service, Error:1"), 0)
        << std::string(messages.begin(), messages.end());
    messages.clear();
    info = Parse({L"/remove", L"/T:500"});
    EXPECT_EQ(service.ProcessShellCommand(info), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(messages.find(L"CWinService::Uninstall, Failed call to OpenService, Error:1060, "), 0u)
        << std::string(messages.begin(), messages.end());
}

TEST(ServiceFramework, ReportStatusRules) {
    Probe service;
    EXPECT_EQ(service.ReportStatus(SERVICE_START_PENDING, 3, 1100), 0);  // console: nothing is sent
    SERVICE_STATUS s = service.CurrentStatus();
    EXPECT_EQ(s.dwControlsAccepted, 0u);
    EXPECT_EQ(s.dwCheckPoint, 3u);
    EXPECT_EQ(s.dwWaitHint, 1100u);
    service.ReportStatus(SERVICE_START_PENDING);  // -1 keeps the previous values
    s = service.CurrentStatus();
    EXPECT_EQ(s.dwCheckPoint, 3u);
    EXPECT_EQ(s.dwWaitHint, 1100u);
    service.ReportStatus(SERVICE_RUNNING);
    s = service.CurrentStatus();
    EXPECT_EQ(s.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(s.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_EQ(s.dwCheckPoint, 0u);
    EXPECT_EQ(s.dwWaitHint, 0u);
}

TEST(ServiceFramework, ControlDispatch) {
    Probe service;
    service.ServiceCtrlHandler(SERVICE_CONTROL_STOP, 0, nullptr);
    EXPECT_EQ(service.stops, 1);
    service.ServiceCtrlHandler(128, 0, nullptr);
    EXPECT_EQ(service.lastUser, 128u);
    EXPECT_TRUE(service.ConsoleCtrlHandler(CTRL_C_EVENT));
    EXPECT_FALSE(service.ConsoleCtrlHandler(CTRL_LOGOFF_EVENT));
    EXPECT_EQ(service.stops, 2);
    service.m_dependencies = {L"A", L"BC"};
    std::vector<wchar_t> deps = service.GetDependencies();
    EXPECT_EQ(std::wstring(deps.begin(), deps.end()), std::wstring(L"A\0BC\0\0", 6));
}

TEST(ServiceFramework, BodyFailuresEndInAStoppedStatusWithACode) {
    struct Thrower : Probe {
        int kind = 0;
        void Run(DWORD, LPWSTR*) override {
            ReportStatus(SERVICE_RUNNING);
            if (kind == 1) throw CWinServiceTerminateException(ERROR_ACCESS_DENIED, 42);
            if (kind == 2) throw std::runtime_error("body failed");
            if (kind == 3) throw 7;
        }
    };
    struct Case {
        int kind;
        DWORD win32, specific;
    } cases[] = {
        {0, 0, 0},
        {1, ERROR_ACCESS_DENIED, 42},
        {2, ERROR_EXCEPTION_IN_SERVICE, 0},
        {3, ERROR_EXCEPTION_IN_SERVICE, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        Thrower service;
        service.kind = c.kind;
        EXPECT_NO_THROW(service.ServiceMain(0, nullptr));
        SERVICE_STATUS s = service.CurrentStatus();
        EXPECT_EQ(s.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(s.dwWin32ExitCode, c.win32);
        EXPECT_EQ(s.dwServiceSpecificExitCode, c.specific);
    }
}

TEST(ServiceFramework, RefusedCreateFailsTheInstallAtOnce) {
    Probe service;
    service.m_strServiceName = L"";  // the manager refuses it: nothing gets created
    service.m_strUserName = L"someone";
    service.m_strPassword = L"secret";
    service.m_strBinaryPathName = L"C:\\nowhere.exe";
    std::wstring message;
    DWORD error = 0;
    EXPECT_FALSE(service.Install(message, error));
    EXPECT_NE(error, 0u);
    EXPECT_EQ(message.find(L"CWinService::Install, Failed call to CreateService, Error:" + std::to_wstring(error)), 0u);
    EXPECT_TRUE(service.m_strUserName.empty());
    EXPECT_TRUE(service.m_strPassword.empty());
    EXPECT_TRUE(service.m_strEventMessageFile.empty());  // stopped before the event source
}

TEST(ServiceFramework, MessagesByMode) {
    Probe service;
    std::wstring system, text;
    service.GetErrorMessage(system, 5);
    ASSERT_FALSE(system.empty());
    struct Case {
        int mode;
        BOOL log;
        std::wstring want;
    } cases[] = {
        {0, FALSE, L"5"},
        {1, FALSE, L"5, " + system},
        {2, TRUE, system},
        {3, FALSE, L"CWinService::Install, Failed call to open SCM, Error:5"},
        {4, FALSE, L"CWinService::Install, Failed call to open SCM, Error:5, " + system},
        {4, TRUE, L""},
        {5, FALSE, L"CWinService::Install, Failed call to open SCM, Error:" + system},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        (c.log ? service.m_nELErrorLoggingDetail : service.m_nUIErrorLoggingDetail) = c.mode;
        service.FormatResourceMessage(text, 1, 5, c.log);
        EXPECT_EQ(text, c.want);
    }
}

TEST(EventLogWrappers, SourcesListIsKeptRight) {
    // A log of this test's own, so that nothing else in the prefix is touched.
    std::wstring log = L"FerrantTest" + std::to_wstring(GetCurrentProcessId());
    std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\" + log;
    auto sources = [&] {
        HKEY k;
        std::vector<std::wstring> out;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS) {
            BYTE data[1024];
            DWORD size = sizeof(data), type;
            if (RegQueryValueExW(k, L"Sources", nullptr, &type, data, &size) == ERROR_SUCCESS)
                out = EventLogSource::ParseMultiSz(data, size);
            RegCloseKey(k);
        }
        return out;
    };
    ASSERT_TRUE(EventLogSource::InstallSource(log.c_str(), L"One", L"C:\\x.DLL", 7));  // "Sources" absent
    ASSERT_TRUE(EventLogSource::InstallSource(log.c_str(), L"Two", L"C:\\x.DLL", 7));
    ASSERT_TRUE(EventLogSource::InstallSource(log.c_str(), L"One", L"C:\\x.DLL", 7));
    EXPECT_EQ(sources(), (std::vector<std::wstring>{L"One", L"Two"}));
    EXPECT_TRUE(EventLogSource::RemoveSource(log.c_str(), L"One"));
    EXPECT_EQ(sources(), (std::vector<std::wstring>{L"Two"}));
    EXPECT_FALSE(EventLogSource::RemoveSource(log.c_str(), L"One"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));  // the registry's own code
    EventLogSource::RemoveSource(log.c_str(), L"Two");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
}

TEST(EventLogWrappers, MultiSzAndNumbers) {
    const wchar_t block[] = L"ab\0c\0\0zz";  // the final text lies beyond the list's end
    EXPECT_EQ(EventLogSource::ParseMultiSz(reinterpret_cast<const BYTE*>(block), sizeof(block)),
              (std::vector<std::wstring>{L"ab", L"c"}));
    const wchar_t unterminated[] = {L'a', L'b'};  // no terminator inside the size: still bounded
    EXPECT_EQ(EventLogSource::ParseMultiSz(reinterpret_cast<const BYTE*>(unterminated), sizeof(unterminated)),
              (std::vector<std::wstring>{L"ab"}));
    EXPECT_EQ(EventLogSource::FormatNumber(5, TRUE), L"00000005");
    EXPECT_EQ(EventLogSource::FormatNumber(5, FALSE), L"5");
    EXPECT_EQ(TicksSince(0xFFFFFF00u, 0x100u), 0x200u);  // across the wrap
}

TEST(EventLogWrappers, DescriptionNeedsTheSystemCall) {
    ScmServiceHandle handle;
    handle.ForgetChangeConfig2();
    EXPECT_FALSE(handle.SetDescription(L"x"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

TEST(LauncherService, IntervalSaturates) {
    struct Case {
        int from;
        DWORD control;
        int to;
    } cases[] = {
        {1000, 200, 2000},
        {1000, 128, 2000},
        {1000, 201, 500},
        {0x7FFFFFFF, 200, 0x7FFFFFFF},
        {0x40000000, 200, 0x7FFFFFFF},
        {1, 201, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(CMyService::NextInterval(c.from, c.control), c.to);
}

TEST(LauncherService, RequestPlanTable) {
    struct Case {
        const char* text;
        bool launch, probe;
        const wchar_t* launchText;
    } cases[] = {
        {"/Ferrant?url=a&usr=b&sid=c", true, false, L"url=a&usr=b&sid=c"},
        {"/Ferrant", true, false, L""},
        {"/isInstallQuillex", false, true, L""},
        {"/isinstallquillex", false, false, L""},
        {"/Ferrant?x&isInstallQuillex", true, true, L"x&isInstallQuillex"},
        {nullptr, false, false, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        auto plan = CMyService::PlanRequest(c.text);
        EXPECT_EQ(plan.launch, c.launch);
        EXPECT_EQ(plan.probe, c.probe);
        EXPECT_EQ(plan.launchText, c.launchText);
    }
}

namespace {
std::wstring Wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

std::wstring StandInFolder() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    folder.resize(folder.rfind(L'\\'));
    return folder + L"\\..\\launch-standin";
}

std::string ReadOutput(const std::wstring& folder, DWORD waitMs) {
    std::wstring path = folder + L"\\standin.out";
    for (DWORD waited = 0; waited < waitMs; waited += 100) {
        // The stand-in never writes an empty record: a file seen but not yet readable under Wine
        // (the rename still settling) is looked at again.
        std::ifstream in(std::string(path.begin(), path.end()), std::ios::binary);
        if (in.is_open()) {
            std::stringstream s;
            s << in.rdbuf();
            if (!s.str().empty()) return s.str();
        }
        Sleep(100);
    }
    return "no output";
}

// The stand-ins' records, once there are at least `count` of them.
std::vector<std::string> ReadRecords(const std::wstring& folder, std::size_t count, DWORD waitMs) {
    std::wstring path = folder + L"\\standin.log";
    std::vector<std::string> records;
    for (DWORD waited = 0; waited < waitMs && records.size() < count; waited += 100) {
        Sleep(100);
        std::ifstream in(std::string(path.begin(), path.end()), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        std::string all = s.str();
        records.clear();
        for (std::size_t at = 0, end; (end = all.find("\n----\n", at)) != std::string::npos; at = end + 6)
            records.push_back(all.substr(at, end - at));
    }
    return records;
}

void Configure(const std::wstring& folder, const std::wstring& pipe, const char* mode) {
    DeleteFileW((folder + L"\\standin.out").c_str());
    DeleteFileW((folder + L"\\standin.log").c_str());
    std::string p(pipe.begin(), pipe.end());
    std::ofstream cfg(std::string(folder.begin(), folder.end()) + "\\standin.cfg");
    cfg << p << "\n" << mode << "\n";
}

// A service that starts the stand-in on a pipe of this test's own, which reads it or not (mode).
void UseStandIn(CMyService& service, const wchar_t* tag, DWORD pipeWaitMs, const char* mode) {
    service.m_strClientFolder = StandInFolder();
    service.m_strPipeName = tag + std::to_wstring(GetCurrentProcessId());
    service.m_dwPipeWaitMs = pipeWaitMs;
    Configure(service.m_strClientFolder, service.m_strPipeName, mode);
}
}  // namespace

// Launch tests share the stand-in's folder: one process runs them in order.
TEST(LauncherService, LaunchHandsTheTextOverCommandLineAndPipe) {
    CMyService service;
    service.m_strClientFolder = StandInFolder();
    service.m_strPipeName = L"FerrantLaunchTest" + std::to_wstring(GetCurrentProcessId());
    service.m_dwPipeWaitMs = 20000;
    struct Case {
        const char* text;
        const char* pipeText;
    } cases[] = {
        {"url=a&usr=b&sid=c", "url=a&usr=b&sid=c"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Configure(service.m_strClientFolder, service.m_strPipeName, "read");
        ASSERT_TRUE(service.LaunchClient(Wide(c.text)));
        std::string out = ReadOutput(service.m_strClientFolder, 20000);
        std::string line = out.substr(0, out.find('\n'));
        std::string want = std::string("Ferrant.exe") + (*c.text ? std::string(" ") + c.text : std::string());
        EXPECT_EQ(line.substr(line.size() >= want.size() ? line.size() - want.size() : 0), want) << out;
        EXPECT_EQ(out.substr(out.find('\n') + 1), std::string("pipe\n") + c.pipeText);
    }
}

TEST(LauncherService, ReaderThatNeverComesDoesNotHang) {
    CMyService service;
    UseStandIn(service, L"FerrantLaunchIdle", 1000, "ignore");
    DWORD start = GetTickCount();
    EXPECT_TRUE(service.LaunchClient(L"url=a&usr=b&sid=c"));
    EXPECT_LT(GetTickCount() - start, 15000u);
    EXPECT_NE(ReadOutput(service.m_strClientFolder, 20000), "no output");
}

TEST(LauncherService, MissingClientReturnsAtOnce) {
    CMyService service;
    service.m_strClientFolder = L"C:\\no-such-folder-for-ferrant";
    DWORD start = GetTickCount();
    EXPECT_FALSE(service.LaunchClient(L"url=a&usr=b&sid=c"));
    EXPECT_LT(GetTickCount() - start, 2000u);
}

TEST(LauncherService, LaunchesQueuedTogetherEachHandTheirOwnText) {
    CMyService service;
    UseStandIn(service, L"FerrantLaunchQueue", 20000, "read");
    const char* texts[] = {"url=a&usr=one&sid=1", "url=a&usr=two&sid=2", "url=a&usr=three&sid=3"};
    for (const char* text : texts) service.QueueLaunch(Wide(text));
    std::vector<std::string> records = ReadRecords(service.m_strClientFolder, 3, 60000);
    ASSERT_EQ(records.size(), 3u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(texts[i]);
        std::string line = records[i].substr(0, records[i].find('\n'));
        EXPECT_EQ(line.substr(line.rfind(' ') + 1), texts[i]);  // one after another, in the order asked
        EXPECT_EQ(records[i].substr(records[i].find('\n') + 1), std::string("pipe\n") + texts[i]);
    }
}

TEST(LauncherService, EndingLaunchesGivesUpTheHandOverAtOnce) {
    CMyService service;
    UseStandIn(service, L"FerrantLaunchEnd", 120000, "ignore");
    service.QueueLaunch(L"url=a&usr=b&sid=c");
    service.QueueLaunch(L"url=a&usr=d&sid=e");  // dropped
    ASSERT_EQ(ReadRecords(service.m_strClientFolder, 1, 20000).size(), 1u);
    DWORD start = GetTickCount();
    EXPECT_TRUE(service.EndLaunches(10000));
    EXPECT_LT(GetTickCount() - start, 3000u);
    // The pipe is free again: nothing of the hand-over is left behind.
    HANDLE pipe = CreateNamedPipeW((L"\\\\.\\PIPE\\" + service.m_strPipeName).c_str(), PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE, 1, 4096, 4096, 1, nullptr);
    EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
    CloseHandle(pipe);
    service.QueueLaunch(L"url=a&usr=f&sid=g");  // stopping: not started
    Sleep(1500);
    EXPECT_EQ(ReadRecords(service.m_strClientFolder, 2, 100).size(), 1u);
}
