#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/trace/TestViewer.h"
#include "trace/Trace.h"
#include "trace/TraceSender.h"

namespace {

std::string Unique(const char* what) {
    return std::string(what) + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
}

std::vector<int> Codes(const ReceivedList& list) {
    std::vector<int> codes;
    for (const std::string& c : list.commands) codes.push_back(TraceCommandCodeOf(c));
    return codes;
}

// The command of the given code, or "" when the list has none.
std::string Command(const ReceivedList& list, int code) {
    for (const std::string& c : list.commands)
        if (TraceCommandCodeOf(c) == code) return c;
    return std::string();
}

bool IsLowerHex(const std::string& s) {
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'a' || c > 'f')) return false;
    return true;
}

bool WaitHandled(unsigned long target, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (TraceSenderHandledCount() >= target) return true;
        Sleep(10);
    }
    return TraceSenderHandledCount() >= target;
}

// Writes a line after the sender stopped, as code in a static destructor may do; the process must
// still end cleanly.
struct LateWriter {
    ~LateWriter() {
        StopTraceSender();
        GetLogNode()->Send(L"written from a static destructor", nullptr);
        GetLogNode()->SendA("and once more, narrow", nullptr);
        StopTraceSender();
    }
} g_lateWriter;

class TraceWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = *Snapshot();
        ASSERT_TRUE(viewer_.StartWindow());
    }
    void TearDown() override {
        TraceOptions* o = GetTraceOptions();
        o->sendMode = saved_.sendMode;
        o->sendProcessName = saved_.sendProcessName;
        o->dateInTimeStamp = saved_.dateInTimeStamp;
        o->sendThreadId = saved_.sendThreadId;
    }
    struct Saved {
        int sendMode;
        unsigned char sendProcessName, dateInTimeStamp, sendThreadId;
    };
    static Saved* Snapshot() {
        static Saved s;
        TraceOptions* o = GetTraceOptions();
        s = {o->sendMode, o->sendProcessName, o->dateInTimeStamp, o->sendThreadId};
        return &s;
    }
    ReceivedList One(const std::string& key) {
        EXPECT_TRUE(viewer_.WaitForLists(key, 1, 10000)) << key;
        auto lists = viewer_.ListsWith(key);
        EXPECT_EQ(1u, lists.size()) << key;
        return lists.empty() ? ReceivedList() : lists[0];
    }

    Saved saved_;
    TestViewer viewer_;
};

TEST_F(TraceWindowTest, LogNodeLineIsSixCommandsInOrder) {
    std::string text = Unique("six");
    std::wstring wide(text.begin(), text.end());
    GetLogNode()->Send(wide.c_str(), nullptr);
    ReceivedList list = One(text);
    EXPECT_EQ(123u, list.dwData);
    ASSERT_EQ((std::vector<int>{304, 302, 550, 101, 551, 103}), Codes(list));
    const std::vector<std::string>& c = list.commands;
    std::string time = TraceCommandPayload(c[0]);
    ASSERT_EQ(12u, time.size());
    EXPECT_TRUE(time[2] == ':' && time[5] == ':' && time[8] == ':') << time;
    EXPECT_EQ("  302", c[1].substr(0, 5));
    EXPECT_EQ(16u, c[1].size());
    EXPECT_EQ("  550", c[2]);
    std::string id = TraceCommandPayload(c[3]);
    EXPECT_EQ(32u, id.size());
    EXPECT_TRUE(IsLowerHex(id)) << id;
    EXPECT_EQ("  551" + text, c[4]);
    EXPECT_EQ("  103         24", c[5]);
    // Every command with its zero, then one more zero: cbData is the whole of it.
    std::size_t expected = 1;
    for (const std::string& cmd : c) expected += cmd.size() + 1;
    EXPECT_EQ(expected, list.raw.size());
    EXPECT_EQ(std::string("\0\0", 2), list.raw.substr(list.raw.size() - 2));
}

TEST_F(TraceWindowTest, OptionsAndNodeFieldsShapeTheHeader) {
    const struct {
        unsigned char threadId, processName, date;
        int icon;
        bool withWindowId;
        std::vector<int> codes;
    } cases[] = {
        {1, 0, 0, 24, true, {99, 304, 302, 550, 101, 551, 103}},
        {0, 0, 0, 24, false, {304, 550, 101, 551, 103}},
        {0, 1, 1, -1, true, {99, 303, 304, 550, 101, 551}},
        {1, 1, 0, 7, false, {303, 304, 302, 550, 101, 551, 103}},
    };
    TraceOptions* o = GetTraceOptions();
    int n = 0;
    for (const auto& tc : cases) {
        o->sendThreadId = tc.threadId;
        o->sendProcessName = tc.processName;
        o->dateInTimeStamp = tc.date;
        TraceNode node(nullptr, false);
        node.iconIndex = tc.icon;
        std::string text = Unique("opt") + "-" + std::to_string(n++);
        if (tc.withWindowId) node.winTraceId = "win-" + text;
        node.SendA(text.c_str(), nullptr);
        ReceivedList list = One(text);
        EXPECT_EQ(tc.codes, Codes(list)) << text;
        for (const std::string& c : list.commands) {
            switch (TraceCommandCodeOf(c)) {
            case 99: EXPECT_EQ("   99win-" + text, c); break;
            case 303: EXPECT_EQ("  303trace_test.exe", c); break;
            case 304: EXPECT_EQ(tc.date ? 21u : 12u, TraceCommandPayload(c).size()) << c; break;
            case 302: EXPECT_EQ(FormatTraceCommandInt(302, static_cast<int>(GetCurrentThreadId())), c); break;
            }
        }
    }
}

TEST_F(TraceWindowTest, NullRightAndDisabledTexts) {
    TraceNode node(nullptr, true);
    std::string key = Unique("nulltext");
    node.winTraceId = key;
    node.Send(nullptr, nullptr);
    ReceivedList list = One(key);
    ASSERT_EQ((std::vector<int>{99, 304, 302, 550, 101, 551}), Codes(list));
    // A node with an id is the parent of its own lines.
    EXPECT_EQ(32u, node.id.size());
    EXPECT_EQ("  550" + node.id, Command(list, 550));
    EXPECT_EQ("  551", Command(list, 551));

    std::string right = Unique("right");
    GetLogNode()->Send(std::wstring(right.begin(), right.end()).c_str(), L"the right side");
    EXPECT_EQ("  552the right side", One(right).commands.back());

    TraceNode off(GetLogNode(), false);
    off.enabled = 0;
    std::string quiet = Unique("disabled");
    off.SendA(quiet.c_str(), nullptr);
    off.Send(std::wstring(quiet.begin(), quiet.end()).c_str(), nullptr);
    std::string after = Unique("after-disabled");
    TraceNode on(&off, false);
    on.enabled = 1;
    on.SendA(after.c_str(), nullptr);
    // A child copies enabled flag and icon from its parent.
    EXPECT_EQ("  103         24", Command(One(after), 103));
    // Lists arrive in order, so a queued disabled line would be here by now.
    EXPECT_TRUE(viewer_.ListsWith(quiet).empty());
}

TEST_F(TraceWindowTest, TextsOutsideTheCodePageAreConvertedSafely) {
    std::string key = Unique("cjk");
    TraceNode node(nullptr, false);
    node.winTraceId = key;
    std::wstring text = L"\x4E0A\x4F20\x6587\x4EF6 ok";
    std::wstring longText(20000, L'\x6587');
    node.Send(text.c_str(), nullptr);
    node.Send(longText.c_str(), nullptr);
    ASSERT_TRUE(viewer_.WaitForLists(key, 2, 10000));
    auto lists = viewer_.ListsWith(key);
    ASSERT_EQ(2u, lists.size());
    std::string first = TraceCommandPayload(Command(lists[0], 551));
    std::string second = TraceCommandPayload(Command(lists[1], 551));
    if (GetACP() == 1252) {
        EXPECT_EQ("???? ok", first);
        EXPECT_EQ(20000u, second.size());
        EXPECT_EQ(std::string::npos, second.find_first_not_of('?'));
    } else {
        EXPECT_EQ(" ok", first.substr(first.size() - 3));
        EXPECT_GE(second.size(), 20000u);
    }
}

TEST_F(TraceWindowTest, LinesFromEightThreadsArriveOnceWithUniqueIds) {
    const int kThreads = 8, kLines = 100;
    std::string base = Unique("mt");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                std::string text = base + "-" + std::to_string(t) + "-" + std::to_string(i);
                GetLogNode()->SendA(text.c_str(), nullptr);
            }
        });
    for (std::thread& t : threads) t.join();
    std::set<std::string> ids, texts;
    auto collect = [&](const std::vector<ReceivedList>& lists) {
        ids.clear();
        texts.clear();
        for (const ReceivedList& l : lists) {
            if (l.commands.size() != 6) continue;
            std::string text = TraceCommandPayload(l.commands[4]);
            if (text.compare(0, base.size() + 1, base + "-") != 0) continue;
            texts.insert(text);
            ids.insert(TraceCommandPayload(l.commands[3]));
        }
        return texts.size() >= std::size_t(kThreads * kLines);
    };
    EXPECT_TRUE(viewer_.WaitFor(collect, 30000));
    EXPECT_EQ(std::size_t(kThreads * kLines), texts.size());
    EXPECT_EQ(texts.size(), ids.size());
}

TEST_F(TraceWindowTest, ModesWithoutViewerDeliveryStillDrainTheQueue) {
    for (int mode : {3, 0, 7}) {
        GetTraceOptions()->sendMode = mode;
        std::string key = Unique("mode") + std::to_string(mode);
        unsigned long target = TraceSenderHandledCount() + 1;
        GetLogNode()->SendA(key.c_str(), nullptr);
        EXPECT_TRUE(WaitHandled(target, 5000)) << mode;
        EXPECT_TRUE(viewer_.ListsWith(key).empty()) << mode;
    }
}

TEST(TraceLogStage, ListsGoToTheViewerUnlessClaimed) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::string handle = std::to_string(reinterpret_cast<uintptr_t>(event));
    const struct {
        std::vector<std::string> commands;
        int expected;
        bool signalled;
    } cases[] = {
        {{"  304time", "  551x"}, 0, false},
        {{"   99", "  304time"}, 0, false},
        {{"   99_", "  304time"}, 0, false},
        {{"   99unknown window", "  551x"}, 0, false},
        {{"  111"}, 0, false},
        {{"  800" + handle}, 1, true},
    };
    for (const auto& c : cases) {
        ResetEvent(event);
        TraceCommandList list(c.commands.begin(), c.commands.end());
        EXPECT_EQ(c.expected, LogCommandList(list)) << c.commands[0];
        EXPECT_EQ(c.signalled, WaitForSingleObject(event, 0) == WAIT_OBJECT_0) << c.commands[0];
    }
    CloseHandle(event);
}

class TraceTcpTest : public ::testing::Test {
protected:
    void SetUp() override { GetTraceOptions()->sendMode = 2; }
    void TearDown() override {
        GetTraceOptions()->sendMode = 1;
        CloseViewerSocketSoon();
    }
    // The socket belongs to the sender thread; a line after the listener stopped makes it drop it.
    static void CloseViewerSocketSoon() {
        unsigned long target = TraceSenderHandledCount() + 2;
        GetLogNode()->SendA("tcp test done", nullptr);
        GetLogNode()->SendA("tcp test done", nullptr);
        WaitHandled(target, 5000);
    }
};

TEST_F(TraceTcpTest, FramingIsLengthTextZeroAndBytesAndSurvivesAViewerRestart) {
    {
        TestViewer viewer;
        ASSERT_TRUE(viewer.StartListener());
        std::string key = Unique("tcp");
        GetLogNode()->SendA(key.c_str(), nullptr);
        ASSERT_TRUE(viewer.WaitForLists(key, 1, 10000));
        ReceivedList list = viewer.ListsWith(key)[0];
        ASSERT_EQ(6u, list.commands.size());
        std::size_t zero = list.raw.find('\0');
        std::size_t length = std::stoul(list.raw.substr(0, zero));
        EXPECT_EQ(list.raw.size() - zero - 1, length);
        std::size_t sum = 0;
        for (const std::string& c : list.commands) sum += c.size() + 1;
        EXPECT_EQ(sum, length);  // no extra closing zero on the stream
        EXPECT_EQ("  551" + key, list.commands[4]);
    }
    // The viewer went away and comes back: a later line reaches the new one.
    TestViewer restarted;
    ASSERT_TRUE(restarted.StartListener());
    std::string again = Unique("tcp-again");
    bool arrived = false;
    for (int i = 0; i < 20 && !arrived; ++i) {
        GetLogNode()->SendA(again.c_str(), nullptr);
        arrived = restarted.WaitForLists(again, 1, 500);
    }
    EXPECT_TRUE(arrived);
}

TEST_F(TraceTcpTest, NoListenerDropsLinesWithoutBlocking) {
    unsigned long target = TraceSenderHandledCount() + 20;
    for (int i = 0; i < 20; ++i) GetLogNode()->SendA("nobody listens", nullptr);
    EXPECT_TRUE(WaitHandled(target, 10000));
}

// The viewer's registry value, saved and put back around a test.
// The folder of this program (where the test viewer stands) and the temporary folder, each
// ending in a separator.
std::wstring ProgramFolder() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir;
}
std::wstring TempFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return temp;
}

// Other test programs on this prefix send trace lines too, and would start the viewer from a
// path this program sets: its view of HKLM is a private key of its own.
class PrivateMachineKey : public testing::Environment {
public:
    void SetUp() override {
        name_ = L"Software\\FerrantTraceTest\\" + std::to_wstring(GetCurrentProcessId());
        if (RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr) !=
                0 ||
            RegOverridePredefKey(HKEY_LOCAL_MACHINE, key_) != 0) {
            ADD_FAILURE() << "no private machine key";
            return;
        }
        HKEY probe;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Probe", 0, nullptr, 0, KEY_WRITE, nullptr, &probe, nullptr) == 0)
            RegCloseKey(probe);
        if (RegOpenKeyExW(key_, L"Probe", 0, KEY_READ, &probe) == 0)
            RegCloseKey(probe);
        else
            ADD_FAILURE() << "HKLM is not redirected";
    }
    void TearDown() override {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        if (key_) RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, name_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\FerrantTraceTest");  // when no other run uses it
    }

private:
    std::wstring name_;
    HKEY key_ = nullptr;
};
testing::Environment* const g_privateMachineKey = testing::AddGlobalTestEnvironment(new PrivateMachineKey);

class ViewerRegistry {
public:
    ViewerRegistry() {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TraceViewer", 0, KEY_READ, &key) == 0) {
            keyExisted_ = true;
            wchar_t buf[MAX_PATH] = {};
            DWORD size = sizeof buf - sizeof(wchar_t);
            if (RegQueryValueExW(key, L"FilePath", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) == 0) {
                valueExisted_ = true;
                saved_ = buf;
            }
            RegCloseKey(key);
        }
    }
    ~ViewerRegistry() {
        if (valueExisted_)
            Set(saved_);
        else if (keyExisted_)
            Clear();
        else
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TraceViewer");
    }
    // Without the terminator when asked: the reader must terminate the text itself.
    bool Set(const std::wstring& path, bool terminated = true) {
        HKEY key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TraceViewer", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr) != 0)
            return false;
        LONG r = RegSetValueExW(key, L"FilePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                DWORD((path.size() + (terminated ? 1 : 0)) * sizeof(wchar_t)));
        RegCloseKey(key);
        return r == 0;
    }
    void Clear() {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TraceViewer", 0, KEY_WRITE, &key) == 0) {
            RegDeleteValueW(key, L"FilePath");
            RegCloseKey(key);
        }
    }

private:
    bool keyExisted_ = false, valueExisted_ = false;
    std::wstring saved_;
};

std::string ReadFileText(const std::wstring& path) {
    HANDLE f =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::string();
    char buf[65536];
    DWORD got = 0;
    ReadFile(f, buf, sizeof buf, &got, nullptr);
    CloseHandle(f);
    return std::string(buf, got);
}

bool WaitNoViewerWindow(int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (!FindWindowW(L"TFormReceiver", L"FormReceiver")) return true;
        Sleep(20);
    }
    return false;
}

TEST(TraceViewerStart, NoWindowAndNoRegistryPathDropsLinesAtOnce) {
    ASSERT_TRUE(WaitNoViewerWindow(5000));
    ViewerRegistry registry;
    registry.Clear();
    unsigned long target = TraceSenderHandledCount() + 20;
    for (int i = 0; i < 20; ++i) GetLogNode()->SendA("no viewer anywhere", nullptr);
    EXPECT_TRUE(WaitHandled(target, 5000));
    EXPECT_EQ(nullptr, FindWindowW(L"TFormReceiver", L"FormReceiver"));
}

TEST(TraceViewerStart, ViewerStartedFromRegistryGetsTheFirstLine) {
    ASSERT_TRUE(WaitNoViewerWindow(5000));
    const std::wstring dir = ProgramFolder();
    const std::wstring temp = TempFolder();
    std::wstring out = temp + L"trace_viewer_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    DeleteFileW(out.c_str());
    SetEnvironmentVariableW(L"TRACE_TEST_VIEWER_OUT", out.c_str());

    ViewerRegistry registry;
    ASSERT_TRUE(registry.Set(dir + L"trace_test_viewer.exe", false));
    std::string first = Unique("registry-first");
    std::string second = Unique("registry-second");
    GetLogNode()->SendA(first.c_str(), nullptr);
    GetLogNode()->SendA(second.c_str(), nullptr);
    std::string text;
    for (int waited = 0; waited < 15000; waited += 50) {
        text = ReadFileText(out);
        if (text.find("  551" + second) != std::string::npos) break;
        Sleep(50);
    }
    GetLogNode()->SendA("viewer-exit", nullptr);
    EXPECT_NE(std::string::npos, text.find("  551" + first + "|")) << text;
    EXPECT_NE(std::string::npos, text.find("  551" + second + "|")) << text;
    EXPECT_EQ(0u, text.find("start\n")) << text;
    // Other programs on this prefix find the same window and their lines land here too (their
    // texts may hold "start"): a second start is a line of its own.
    EXPECT_EQ(std::string::npos, text.find("\nstart\n")) << "started more than once";
    EXPECT_TRUE(WaitNoViewerWindow(10000));
    DeleteFileW(out.c_str());
}

// Kept last: the viewer it starts must be gone before another test may start one.
TEST(TraceViewerStart, ViewerStillStartingIsNotStartedAgainForEveryLine) {
    ASSERT_TRUE(WaitNoViewerWindow(5000));
    const std::wstring dir = ProgramFolder();
    const std::wstring temp = TempFolder();
    std::wstring pid = std::to_wstring(GetCurrentProcessId());
    std::wstring out = temp + L"trace_viewer_slow_" + pid + L".txt";
    std::wstring quitName = L"TraceTestViewerQuit" + pid;
    HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, quitName.c_str());
    DeleteFileW(out.c_str());
    SetEnvironmentVariableW(L"TRACE_TEST_VIEWER_OUT", out.c_str());
    SetEnvironmentVariableW(L"TRACE_TEST_VIEWER_QUIT", quitName.c_str());

    {
        ViewerRegistry registry;
        ASSERT_TRUE(registry.Set(dir + L"trace_test_viewer.exe"));
        unsigned long target = TraceSenderHandledCount() + 5;
        for (int i = 0; i < 5; ++i) GetLogNode()->SendA("while the viewer starts", nullptr);
        EXPECT_TRUE(WaitHandled(target, 20000));
    }
    SetEnvironmentVariableW(L"TRACE_TEST_VIEWER_QUIT", nullptr);
    SetEvent(quit);
    std::string text;
    for (int waited = 0; waited < 20000; waited += 50) {
        text = ReadFileText(out);
        if (text.find("end") != std::string::npos) break;
        Sleep(50);
    }
    EXPECT_EQ("start\nend\n", text);
    CloseHandle(quit);
    DeleteFileW(out.c_str());
}

}  // namespace
