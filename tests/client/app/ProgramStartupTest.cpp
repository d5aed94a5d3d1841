// The client program as a process: one instance per session, the hand-off of a second copy, the
// start-up race between the command line and the pipe, the data folder and database. Each test
// starts the loopback build of Ferrant.exe and watches its windows from here.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/app/CAppSettings.h"
#include "client/storage/CSqlite.h"
#include "client/transfer/Protocol.h"
#include "common/NamedPipe.h"
#include "provider/Provider.h"
#include "provider/SessionService.h"
#include "provider/WebSite.h"
#include "tests/support/Capture.h"
#include "tests/support/UploadTestSupport.h"

namespace {

const char kAddress[] = "127.0.0.20";  // where the loopback build looks for its servers
const uint16_t kWebPort = 8080;
const char kUser[] = "web@example.com";
const wchar_t kMainTitle[] = L"Tebrin上传助手";
const DWORD kBound = 30000;

CString ProgramFolder() {
    CString folder = L"Z:" FERRANT_LOOPBACK_DIR;
    folder.Replace(L'/', L'\\');
    return folder;
}

testing::Environment* const g_network = testing::AddGlobalTestEnvironment(new upload_test::NetworkEnvironment);

struct ProcessWindows {
    DWORD pid;
    std::vector<HWND> windows;
};

// A plain function: enumeration callbacks are stdcall on 32-bit x86, which a lambda cannot be.
BOOL CALLBACK CollectVisible(HWND wnd, LPARAM param) {
    auto* f = reinterpret_cast<ProcessWindows*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(wnd, &owner);
    if (owner == f->pid && IsWindowVisible(wnd)) f->windows.push_back(wnd);
    return TRUE;
}

std::vector<HWND> VisibleWindows(DWORD pid) {
    ProcessWindows found{pid, {}};
    EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&found));
    return found.windows;
}

CString Title(HWND wnd) {
    wchar_t text[256] = L"";
    GetWindowTextW(wnd, text, 256);
    return text;
}

int CountTitled(DWORD pid, const wchar_t* title) {
    int n = 0;
    for (HWND wnd : VisibleWindows(pid)) n += Title(wnd) == title ? 1 : 0;
    return n;
}

class Client {
public:
    explicit Client(const CString& launchText = CString()) {
        CString command = L"\"" + ProgramFolder() + L"\\Ferrant.exe\"";
        if (!launchText.IsEmpty()) command += L" " + launchText;
        STARTUPINFOW si = {sizeof si};
        std::vector<wchar_t> line(command.GetString(), command.GetString() + command.GetLength() + 1);
        // Started from the root, as the service and the Run key start it: not from its folder.
        m_bStarted =
            CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, L"C:\\", &si, &m_info) != 0;
    }
    ~Client() {
        if (!m_bStarted) return;
        if (Running()) {
            TerminateProcess(m_info.hProcess, 99);
            WaitForSingleObject(m_info.hProcess, 5000);
        }
        CloseHandle(m_info.hThread);
        CloseHandle(m_info.hProcess);
    }
    bool Started() const { return m_bStarted; }
    DWORD Pid() const { return m_info.dwProcessId; }
    bool Running() const { return WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT; }
    bool WaitExit(DWORD bound = kBound) {
        return test_capture::PumpUntil([this] { return !Running(); }, bound);
    }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(m_info.hProcess, &code);
        return code;
    }
    bool WaitWindow() {
        return test_capture::PumpUntil([this] { return !VisibleWindows(Pid()).empty(); }, kBound);
    }
    // Closes every window it shows, as a user would; the login dialog's close ends the program.
    void CloseWindows() {
        for (HWND wnd : VisibleWindows(Pid())) PostMessageW(wnd, WM_CLOSE, 0, 0);
    }

private:
    PROCESS_INFORMATION m_info = {};
    bool m_bStarted = false;
};

void WriteSettings() {
    CString ini = ProgramFolder() + L"\\Setting.ini";
    WritePrivateProfileStringW(L"LoginInfo", L"ServerAddr", L"127.0.0.20", ini);
    WritePrivateProfileStringW(L"Setting", L"AutoLoginToRun", L"0", ini);
}

CString DataFolder() { return GetAppDataFolder() + L"\\Quillex"; }

void RemoveDataFolder() {
    DeleteFileW(DataFolder() + L"\\Quillex.db");
    RemoveDirectoryW(DataFolder());
    DeleteFileW(DataFolder());  // a file in the folder's place, from the test that puts one there
}

class ProgramTest : public testing::Test {
protected:
    void SetUp() override {
        WriteSettings();
        RemoveDataFolder();
    }
    void TearDown() override { RemoveDataFolder(); }
};

TEST_F(ProgramTest, SecondInstanceHandsOffAndExitsFirstUndisturbed) {
    Client first;
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(first.WaitWindow());
    std::vector<HWND> before = VisibleWindows(first.Pid());

    Client second;
    ASSERT_TRUE(second.Started());
    ASSERT_TRUE(second.WaitExit());
    EXPECT_EQ(1u, second.ExitCode());

    EXPECT_TRUE(first.Running());
    EXPECT_EQ(before, VisibleWindows(first.Pid()));
    first.CloseWindows();
    EXPECT_TRUE(first.WaitExit());
}

TEST_F(ProgramTest, SecondInstanceStopsWaitingForAFirstThatNeverReads) {
    // A first copy holds the mutex but never takes the pipe word (hung, or not ours).
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"OrvoQuillexMutex");
    ASSERT_NE(nullptr, mutex);
    Client second;
    ASSERT_TRUE(second.Started());
    EXPECT_TRUE(second.WaitExit());
    EXPECT_EQ(1u, second.ExitCode());
    EXPECT_TRUE(VisibleWindows(second.Pid()).empty());
    CloseHandle(mutex);
}

TEST_F(ProgramTest, DataFolderAndDatabaseMadeOnce) {
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        Client client;
        ASSERT_TRUE(client.WaitWindow());
        client.CloseWindows();
        ASSERT_TRUE(client.WaitExit());
        DWORD attributes = GetFileAttributesW(DataFolder());
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
        CSqlite db;
        ASSERT_EQ(0, db.Open(DataFolder() + L"\\Quillex.db"));
        EXPECT_TRUE(db.IsTableExist(L"qxuser"));
        ASSERT_EQ(0, db.Query(L"select * from qxconfig"));
        EXPECT_EQ(1, db.GetRowCount());
        db.Close();
    }
}

TEST_F(ProgramTest, FileInPlaceOfTheDataFolderStillStarts) {
    HANDLE file = CreateFileW(DataFolder(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    Client client;
    ASSERT_TRUE(client.WaitWindow());
    client.CloseWindows();
    EXPECT_TRUE(client.WaitExit());
    EXPECT_FALSE(GetFileAttributesW(DataFolder()) & FILE_ATTRIBUTE_DIRECTORY);
}

// The service hands the same text over the command line and the pipe; the login check answers
// slowly, so the pipe's copy arrives while the command line's login is still under way. The update
// server takes the connection and stays silent: the main window shows all the same.
TEST_F(ProgramTest, StartUpRaceGivesOneLogin) {
    provider::Provider servers;
    provider::UserAccount account;
    account.mail = kUser;
    account.userId = 9;
    servers.State().AddUser(account);
    servers.State().AddSession(kUser, {"KEY", "BIND"});
    ASSERT_TRUE(servers.Start(kAddress));
    provider::SessionService soap;
    ASSERT_TRUE(soap.Start(kAddress));
    soap.SetReply(provider::SessionService::Reply::Result0);
    provider::WebSite web;
    ASSERT_TRUE(web.Start(kAddress, kWebPort));
    const int kLoginCheckMs = 3000;
    web.SetPage(provider::WebSite::kVersionPath, {200, "version=1.0.0.7", "", "text/plain", 150000});
    provider::WebSite::Page slow{200, "result=1"};
    slow.delayMs = kLoginCheckMs;
    web.SetPage("/mail/login/opt/loginAction_loginCheck.do", slow);

    const CString ini = ProgramFolder() + L"\\Setting.ini";
    WritePrivateProfileStringW(L"FloatWndInfo", nullptr, nullptr, ini);
    DeleteFileW(L"C:\\Setting.ini");

    const std::string text = std::string("url=127.0.0.20:8080&usr=") + kUser + "&sid=SID9";
    const DWORD launched = GetTickCount();
    Client client(CString(std::wstring(text.begin(), text.end()).c_str()));
    ASSERT_TRUE(client.Started());
    EXPECT_TRUE(NamedPipe::HandOver(NamedPipe::kPipeWord, text.data(), static_cast<DWORD>(text.size()), kBound));
    ASSERT_TRUE(test_capture::PumpUntil([&] { return CountTitled(client.Pid(), kMainTitle) > 0; }, kBound));
    EXPECT_LT(GetTickCount() - launched, static_cast<DWORD>(kLoginCheckMs) + 5000);
    EXPECT_EQ(1, CountTitled(client.Pid(), kMainTitle));
    size_t checks = 0;
    for (const auto& r : web.Requests()) checks += r.path == "/mail/login/opt/loginAction_loginCheck.do" ? 1 : 0;
    EXPECT_EQ(1u, checks);
    EXPECT_EQ(1u, servers.State().RequestsOf(protocol::MSG_CODE_REQ_SESSION_QUERY).size());
    EXPECT_EQ(1u, servers.State().RequestsOf(protocol::MSG_CODE_REQ_LOGIN_BY_SESSION).size());
    for (HWND wnd : VisibleWindows(client.Pid()))
        if (Title(wnd) == kMainTitle) PostMessageW(wnd, WM_COMMAND, 32787, 0);
    EXPECT_TRUE(client.WaitExit());
    // Started from C:\, the floating window still keeps its place beside the program.
    EXPECT_NE(-1, static_cast<int>(GetPrivateProfileIntW(L"FloatWndInfo", L"Top", -1, ini)));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"C:\\Setting.ini"));
}

}  // namespace
