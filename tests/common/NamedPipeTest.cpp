#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <thread>

#include "common/NamedPipe.h"

namespace {
// Each test uses its own pipe name so that parallel runs never meet.
std::wstring TestPipeName(const char* tag) {
    return L"FerrantPipeTest_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::wstring(tag, tag + strlen(tag));
}

void CreateServer(NamedPipe& pipe, const std::wstring& name) {
    pipe.Create(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096, 4096, 1, nullptr);
    pipe.SetMode(FALSE, TRUE);
}

DWORD ErrorOf(void (*call)(const std::wstring&), const std::wstring& name) {
    try {
        call(name);
    } catch (CNamedPipeException* e) {
        DWORD code = e->m_dwError;
        e->Delete();
        return code;
    }
    return 0;
}

int ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}
}  // namespace

TEST(NamedPipe, CloseWhenNotOpenReturnsZero) {
    NamedPipe pipe;
    EXPECT_FALSE(pipe.IsOpen());
    EXPECT_EQ(pipe.Close(), 0);
    CreateServer(pipe, TestPipeName("close"));
    EXPECT_TRUE(pipe.IsOpen());
    EXPECT_NE(pipe.Close(), 0);
    EXPECT_EQ(pipe.Close(), 0);
}

TEST(NamedPipe, ModeTable) {
    struct Case {
        BOOL byteMode, blocking;
        DWORD mode;
    } cases[] = {{TRUE, TRUE, 0}, {TRUE, FALSE, 1}, {FALSE, TRUE, 2}, {FALSE, FALSE, 3}};
    for (const auto& c : cases) EXPECT_EQ(NamedPipe::ModeFor(c.byteMode, c.blocking), c.mode);
}

TEST(NamedPipe, FailuresRaiseWithTheSystemCode) {
    std::wstring name = TestPipeName("missing");
    EXPECT_EQ(ErrorOf([](const std::wstring& n) { NamedPipe::ServerAvailable(L".", n.c_str(), 100); }, name),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ErrorOf(
                  [](const std::wstring& n) {
                      NamedPipe p;
                      p.Open(L".", n.c_str(), GENERIC_READ, 0, nullptr, 0);
                  },
                  name),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // A second instance of a one-instance pipe is refused.
    NamedPipe first;
    CreateServer(first, TestPipeName("busy"));
    EXPECT_EQ(ErrorOf(
                  [](const std::wstring& n) {
                      NamedPipe p;
                      CreateServer(p, n);
                  },
                  TestPipeName("busy")),
              static_cast<DWORD>(ERROR_PIPE_BUSY));
}

TEST(NamedPipe, ReaderThatCameFirstCountsAsConnected) {
    std::wstring name = TestPipeName("early");
    NamedPipe server;
    CreateServer(server, name);
    NamedPipe client;
    client.Open(L".", name.c_str(), GENERIC_READ | 1, 0, nullptr, 0);
    EXPECT_NO_THROW(server.ConnectClient(nullptr));
    const char text[] = "url=a&usr=b&sid=c";
    EXPECT_EQ(server.Write(text, 17, nullptr), 17u);
    server.Close();  // what was written stays readable
    char buffer[256] = {};
    EXPECT_EQ(client.Read(buffer, 255, nullptr), 17u);
    EXPECT_STREQ(buffer, text);
}

TEST(NamedPipe, LongTextArrivesCutForTheClientsReadLimit) {
    std::wstring name = TestPipeName("long");
    std::string text(300, 'x');
    NamedPipe server;
    CreateServer(server, name);
    NamedPipe::ServerAvailable(L".", name.c_str(), 1000);
    NamedPipe client;
    client.Open(L".", name.c_str(), GENERIC_READ | 1, 0, nullptr, 0);
    server.ConnectClient(nullptr, 5000);
    server.Write(text.data(), static_cast<DWORD>(text.size()), nullptr);
    char buffer[255];
    DWORD got = 0;
    try {
        got = client.Read(buffer, sizeof(buffer), nullptr);
    } catch (CNamedPipeException* e) {
        EXPECT_EQ(e->m_dwError, static_cast<DWORD>(ERROR_MORE_DATA));  // the rest of the message is left
        got = 255;
        e->Delete();
    }
    EXPECT_EQ(got, 255u);
}

TEST(NamedPipe, AbsentReaderEndsTheWaitWithTimeOut) {
    std::wstring name = TestPipeName("absent");
    NamedPipe server;
    CreateServer(server, name);
    DWORD start = GetTickCount();
    DWORD code = 0;
    try {
        server.ConnectClient(nullptr, 500);
    } catch (CNamedPipeException* e) {
        code = e->m_dwError;
        e->Delete();
    }
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_LT(elapsed, 10000u);
    // The pipe name is free again once the object is closed.
    server.Close();
    NamedPipe again;
    EXPECT_NO_THROW(CreateServer(again, name));
}

TEST(NamedPipe, TimedWaitEndsWithoutLeavingAThreadBehind) {
    struct Case {
        const char* tag;
        DWORD openMode;
        DWORD timeOutMs;
        bool abandoned;
        DWORD code;  // 0: any failure
    } cases[] = {
        {"absent", PIPE_ACCESS_DUPLEX, 500, false, ERROR_TIMEOUT},
        // No reader of ours can open a read-only server's pipe to end a blocked connect.
        {"inbound", PIPE_ACCESS_INBOUND, 500, false, 0},
        {"abandoned", PIPE_ACCESS_DUPLEX, 60000, true, ERROR_OPERATION_ABORTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        std::wstring name = TestPipeName(c.tag);
        NamedPipe server;
        server.Create(name.c_str(), c.openMode, PIPE_TYPE_MESSAGE, 1, 4096, 4096, 1, nullptr);
        HANDLE abandon = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        int before = ThreadsOfThisProcess();
        std::thread giveUp;
        if (c.abandoned)
            giveUp = std::thread([abandon] {
                Sleep(200);
                SetEvent(abandon);
            });
        DWORD start = GetTickCount(), code = 0;
        try {
            server.ConnectClient(nullptr, c.timeOutMs, abandon);
        } catch (CNamedPipeException* e) {
            code = e->m_dwError;
            e->Delete();
        }
        DWORD elapsed = GetTickCount() - start;
        if (giveUp.joinable()) giveUp.join();
        EXPECT_NE(code, 0u);
        if (c.code) {
            EXPECT_EQ(code, c.code);
        }
        EXPECT_LT(elapsed, 3000u);
        int after = ThreadsOfThisProcess();
        for (int i = 0; i < 40 && after != before; ++i) {  // a joined thread may take a moment to be gone
            Sleep(50);
            after = ThreadsOfThisProcess();
        }
        EXPECT_EQ(after, before);
        CloseHandle(abandon);
    }
}

TEST(NamedPipe, ReaderArrivingWithinTheWaitIsServed) {
    std::wstring name = TestPipeName("late");
    NamedPipe server;
    CreateServer(server, name);
    std::string got;
    std::thread reader([&] {
        Sleep(300);
        NamedPipe client;
        client.Open(L".", name.c_str(), GENERIC_READ | 1, 0, nullptr, 0);
        char buffer[256] = {};
        DWORD n = client.Read(buffer, 255, nullptr);
        got.assign(buffer, n);
    });
    server.ConnectClient(nullptr, 10000);
    server.Write("OrvoQUILLEXZN", 13, nullptr);
    reader.join();
    EXPECT_EQ(got, "OrvoQUILLEXZN");
}

TEST(NamedPipeException, MessageTextIsTruncatedAndTerminated) {
    CNamedPipeException e(ERROR_FILE_NOT_FOUND);
    CString full = e.GetErrorText();
    ASSERT_GT(full.GetLength(), 5);
    wchar_t small[5];
    UINT help = 7;
    EXPECT_TRUE(e.GetErrorMessage(small, 5, &help));
    EXPECT_EQ(help, 0u);
    EXPECT_EQ(std::wstring(small), std::wstring(full.GetString()).substr(0, 4));
    wchar_t none[16] = L"junk";
    CNamedPipeException unknown(0x2FFFFFFF);
    EXPECT_FALSE(unknown.GetErrorMessage(none, 16, nullptr));
    EXPECT_EQ(none[0], 0);
}
