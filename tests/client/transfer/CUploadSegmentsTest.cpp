#include "client/transfer/CUploadSegments.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

// The program starts WinSock before any upload; so does this test program.
struct WinsockEnvironment : testing::Environment {
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    void TearDown() override { WSACleanup(); }
};
testing::Environment* const g_winsock = testing::AddGlobalTestEnvironment(new WinsockEnvironment);

// A data port on one loopback address: keeps what every connection sent, record and bytes.
class DataReceiver {
public:
    struct Connection {
        std::vector<uint8_t> bytes;  // everything received, record first
        bool orderly = false;        // ended by the sender's orderly close, not by a reset
        protocol::SegmentRecord Record() const {
            protocol::SegmentRecord r = {};
            std::memcpy(&r, bytes.data(), std::min(bytes.size(), sizeof r));
            return r;
        }
        size_t DataSize() const { return bytes.size() > 68 ? bytes.size() - 68 : 0; }
        const uint8_t* Data() const { return bytes.data() + 68; }
    };

    // stall: reads nothing until Release; throttleMs: reads 4096 bytes per pause of that length; holdOpen:
    // reads everything but does not close its end when the sender has shut down.
    DataReceiver(const std::string& ip, bool stall = false, int throttleMs = 0, bool holdOpen = false)
        : m_stall(stall), m_throttleMs(throttleMs), m_holdOpen(holdOpen) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        BOOL on = TRUE;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&on), sizeof on);
        if (stall || throttleMs) {
            int small = 4096;  // accepted sockets take it over: the sender's send fills up soon
            setsockopt(m_listen, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&small), sizeof small);
        }
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(protocol::kDataPort);
        a.sin_addr.s_addr = inet_addr(ip.c_str());
        m_ok = bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(m_listen, 16) == 0;
        m_accept = std::thread([this] { AcceptLoop(); });
    }
    ~DataReceiver() {
        m_stop = true;
        m_accept.join();
        for (auto& t : m_readers) t.join();
        closesocket(m_listen);
        WSACleanup();
    }
    bool ok() const { return m_ok; }
    void Release() { m_released = true; }

    // The connections that have ended, once `count` have (or what there is after `ms`).
    std::vector<Connection> Wait(size_t count, int ms) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_done.size() >= count; });
        return m_done;
    }

private:
    static bool Readable(SOCKET s, int ms) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv = {0, ms * 1000};
        return select(0, &set, nullptr, nullptr, &tv) > 0;
    }
    void AcceptLoop() {
        while (!m_stop) {
            if (!m_ok || !Readable(m_listen, 50)) continue;
            SOCKET c = accept(m_listen, nullptr, nullptr);
            if (c == INVALID_SOCKET) continue;
            m_readers.emplace_back([this, c] { Read(c); });
        }
    }
    void Read(SOCKET c) {
        Connection conn;
        char buffer[65536];
        while (!m_stop) {
            if (m_stall && !m_released) {
                Sleep(20);
                continue;
            }
            if (!Readable(c, 50)) continue;
            const int n = recv(c, buffer, m_throttleMs ? 4096 : sizeof buffer, 0);
            if (n == 0 && m_holdOpen) {
                while (!m_stop) Sleep(20);
                break;
            }
            // Some stacks read a reset as an end like any other; a send after it still fails.
            if (n == 0) conn.orderly = send(c, "", 1, 0) == 1;
            if (n <= 0) break;
            if (m_throttleMs) Sleep(m_throttleMs);
            conn.bytes.insert(conn.bytes.end(), buffer, buffer + n);
        }
        closesocket(c);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done.push_back(std::move(conn));
        m_changed.notify_all();
    }

    bool m_stall;
    int m_throttleMs;
    bool m_holdOpen;
    bool m_ok = false;
    SOCKET m_listen = INVALID_SOCKET;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_released{false};
    std::thread m_accept;
    std::vector<std::thread> m_readers;  // touched by the accept thread only until it is joined
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Connection> m_done;
};

struct Seg {
    int64_t offset, done, remaining;
};

class TestRow : public CUploadSegments {
public:
    TestRow() = default;
    // Host, path and records written as the row writes them before it starts the threads.
    TestRow(const std::string& host, const CString& path, const std::vector<Seg>& segs) {
        m_strHost = host.c_str();
        m_strFilePath = path;
        for (size_t i = 0; i < segs.size(); ++i) {
            protocol::SegmentRecord& r = m_segments[i];
            r.serverId = 7;
            r.segmentNumber = static_cast<int64_t>(i) + 1;
            r.userId = 1234;
            r.fileId = 99;
            r.offset = segs[i].offset;
            r.bytesDone = segs[i].done;
            r.bytesRemaining = segs[i].remaining;
        }
    }
    void OnSegmentStarted(int) override { ++started; }
    void OnSegmentPaused(int) override { ++paused; }
    std::atomic<int> started{0}, paused{0};
};

// The data port listens on a fixed port: each case takes a loopback address of its own.
std::string CaseAddress(int n) { return "127.0.8." + std::to_string(n); }

// Runs one thread per segment through the thread entry and waits (bounded) for all of them.
bool RunSegments(TestRow& row, size_t count, int ms) {
    std::vector<HANDLE> done;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; ++i) {
        HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        done.push_back(ev);
        threads.emplace_back([&row, i, ev] {
            SendFileThreadProcStub(new SegmentThreadParam{&row, static_cast<int>(i)});
            SetEvent(ev);
        });
    }
    const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(count), done.data(), TRUE, ms);
    if (r == WAIT_TIMEOUT) {
        row.m_bCancel = true;  // let the threads go before failing
    }
    for (auto& t : threads) t.join();
    for (HANDLE h : done) CloseHandle(h);
    return r != WAIT_TIMEOUT;
}

void ExpectHeader(const protocol::SegmentRecord& r) {
    EXPECT_EQ(protocol::kMagic, r.header.magic);
    EXPECT_EQ(242u, r.header.code);
    EXPECT_EQ(56u, r.header.bodyLength);
}

}  // namespace

TEST(SegmentSender, BytesArriveAtTheirOffsets) {
    const size_t kSize = 600000;  // several file reads for one segment
    struct Case {
        const char* what;
        std::vector<Seg> segs;
    };
    std::vector<Seg> ten;
    for (int i = 0; i < 10; ++i) ten.push_back({i * 10000, 0, 10000});
    const Case cases[] = {
        {"whole file in one segment", {{0, 0, kSize}}},
        {"40000 bytes: one full chunk and 7232", {{0, 0, 40000}, {40000, 0, 60000}}},
        {"resumed segments", {{5000, 5000, 25000}, {32768, 0, 32769}, {70000, 12, 30000}, {100001, 5, 400000}}},
        {"ten segments", ten},
        {"nothing left: only the record", {{kSize, kSize, 0}}},
        {"segment runs past the end of the file", {{kSize - 300000, 0, 400000}}},
    };
    TempFile file(kSize, L"layouts");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string ip = CaseAddress(10 + n++);
        DataReceiver receiver(ip);
        ASSERT_TRUE(receiver.ok());
        TestRow row(ip, file.path, c.segs);
        ASSERT_TRUE(RunSegments(row, c.segs.size(), 30000));
        const auto conns = receiver.Wait(c.segs.size(), 10000);
        ASSERT_EQ(c.segs.size(), conns.size());
        EXPECT_EQ(static_cast<int>(c.segs.size()), row.started.load());
        EXPECT_EQ(0, row.paused.load());
        EXPECT_EQ(protocol::kDataPort, row.m_nPort.load());
        for (const auto& conn : conns) {
            ASSERT_GE(conn.bytes.size(), 68u);
            const protocol::SegmentRecord sent = conn.Record();
            ExpectHeader(sent);
            const size_t i = static_cast<size_t>(sent.segmentNumber - 1);
            ASSERT_LT(i, c.segs.size());
            const Seg& s = c.segs[i];
            EXPECT_EQ(s.offset, sent.offset);
            EXPECT_EQ(s.done, sent.bytesDone);
            EXPECT_EQ(s.remaining, sent.bytesRemaining);
            EXPECT_EQ(99, sent.fileId);
            const size_t expected = static_cast<size_t>(
                std::min<int64_t>(s.remaining, std::max<int64_t>(0, static_cast<int64_t>(kSize) - s.offset)));
            ASSERT_EQ(expected, conn.DataSize()) << "segment " << i;
            EXPECT_EQ(0, std::memcmp(conn.Data(), file.bytes.data() + s.offset, expected)) << "segment " << i;
            const protocol::SegmentRecord after = row.SegmentSnapshot(static_cast<int>(i));
            EXPECT_EQ(s.offset + static_cast<int64_t>(expected), after.offset);
            EXPECT_EQ(s.done + static_cast<int64_t>(expected), after.bytesDone);
            EXPECT_EQ(s.remaining - static_cast<int64_t>(expected), after.bytesRemaining);
            EXPECT_EQ(after.bytesDone, row.SegmentBytesDone(static_cast<int>(i)));
        }
    }
}

TEST(SegmentSender, PauseAndCancelStopAfterTheChunkInFlight) {
    struct Case {
        const char* what;
        bool pause, cancel;
        int pausedHook;
    };
    const Case cases[] = {
        {"pause", true, false, 1},
        {"cancel", false, true, 0},
        {"cancel wins over pause", true, true, 0},
    };
    TempFile file(200000, L"flags");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string ip = CaseAddress(30 + n++);
        DataReceiver receiver(ip);
        ASSERT_TRUE(receiver.ok());
        TestRow row(ip, file.path, {{1000, 1000, 150000}});
        // Set before the start, the flags are first seen after the first chunk: it is sent
        // whole and counted, and nothing after it.
        row.m_bPause = c.pause;
        row.m_bCancel = c.cancel;
        ASSERT_TRUE(RunSegments(row, 1, 30000));
        const auto conns = receiver.Wait(1, 10000);
        ASSERT_EQ(1u, conns.size());
        ASSERT_EQ(32768u, conns[0].DataSize());
        EXPECT_EQ(0, std::memcmp(conns[0].Data(), file.bytes.data() + 1000, 32768));
        const auto after = row.SegmentSnapshot(0);
        EXPECT_EQ(1000 + 32768, after.offset);
        EXPECT_EQ(1000 + 32768, after.bytesDone);
        EXPECT_EQ(150000 - 32768, after.bytesRemaining);
        EXPECT_EQ(c.pausedHook, row.paused.load());
    }
}

TEST(SegmentSender, FlagsRaisedMidSegmentStopIt) {
    // The flags are raised while data flows to a slow receiver, or once the sends to one that
    // never reads have stopped moving (the chunk time-out as shipped, 60 s: only the flags can
    // end those sends early). The thread ends within moments. A pause closes in order, so what
    // the record counts is exactly what reached the server; a cancel resets the connection, so
    // the server may get less, never more.
    struct Case {
        const char* what;
        bool pause;
        bool stalled;
    };
    const Case cases[] = {{"pause", true, false},
                          {"cancel", false, false},
                          {"pause, stalled", true, true},
                          {"cancel, stalled", false, true}};
    const int64_t kSize = 16 << 20;
    TempFile file(static_cast<size_t>(kSize), L"midrun");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string ip = CaseAddress(35 + n++);
        DataReceiver receiver(ip, c.stalled, c.stalled ? 0 : 2);
        ASSERT_TRUE(receiver.ok());
        TestRow row(ip, file.path, {{0, 0, kSize}});
        std::atomic<DWORD> flagged{0};
        std::thread flagger([&] {
            const auto until = Clock::now() + std::chrono::seconds(40);
            int64_t last = -1;
            while (Clock::now() < until) {
                const int64_t done = row.SegmentBytesDone(0);
                if (c.stalled ? done == last : done >= 3 * 32768) break;
                last = done;
                Sleep(c.stalled ? 100 : 5);
            }
            flagged = GetTickCount();
            if (c.pause)
                row.m_bPause = true;
            else
                row.m_bCancel = true;
        });
        const bool ended = RunSegments(row, 1, 90000);
        const DWORD endedAt = GetTickCount();
        flagger.join();
        ASSERT_TRUE(ended);
        EXPECT_LT(endedAt - flagged.load(), 1000u);
        const auto after = row.SegmentSnapshot(0);
        EXPECT_LT(after.bytesDone, kSize);
        EXPECT_EQ(kSize - after.bytesDone, after.bytesRemaining);
        EXPECT_EQ(c.pause ? 1 : 0, row.paused.load());
        if (c.stalled) continue;
        const auto conns = receiver.Wait(1, 10000);
        ASSERT_EQ(1u, conns.size());
        EXPECT_GE(after.bytesDone, 3 * 32768);
        if (c.pause) {
            EXPECT_EQ(static_cast<size_t>(after.bytesDone), conns[0].DataSize());
        } else {
            EXPECT_LE(conns[0].DataSize(), static_cast<size_t>(after.bytesDone));
        }
        EXPECT_EQ(0, std::memcmp(conns[0].Data(), file.bytes.data(), conns[0].DataSize()));
    }
}

TEST(SegmentSender, StalledReceiverEndsTheThread) {
    // A receiver that never reads: the chunk send times out and the thread ends by itself.
    const SegmentTimeouts saved = g_SegmentTimeouts;
    g_SegmentTimeouts.chunk = 2;
    TempFile file(16 << 20, L"stall");
    DataReceiver receiver("127.0.8.40", true);
    ASSERT_TRUE(receiver.ok());
    TestRow row("127.0.8.40", file.path, {{0, 0, 16 << 20}});
    const auto start = Clock::now();
    const bool ended = RunSegments(row, 1, 60000);
    g_SegmentTimeouts = saved;
    EXPECT_TRUE(ended);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count(), 30);
    const auto after = row.SegmentSnapshot(0);
    EXPECT_LT(after.bytesDone, 16 << 20);
    EXPECT_EQ(after.bytesDone, after.offset);
    EXPECT_EQ((16 << 20) - after.bytesDone, after.bytesRemaining);
}

TEST(SegmentSender, LastByteWaitsForTheServersCloseWithinItsBound) {
    // The server read everything but keeps its end open: the thread waits for its close no
    // longer than the bound, and a pause ends that wait too.
    const SegmentTimeouts saved = g_SegmentTimeouts;
    g_SegmentTimeouts.close = 1500;
    TempFile file(100000, L"close");
    struct Case {
        const char* what;
        bool pause;
    };
    const Case cases[] = {{"bound", false}, {"pause", true}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string ip = CaseAddress(55 + n++);
        DataReceiver receiver(ip, false, 0, true);
        ASSERT_TRUE(receiver.ok());
        TestRow row(ip, file.path, {{0, 0, 100000}});
        std::thread flagger([&] {
            if (!c.pause) return;
            while (row.SegmentSnapshot(0).bytesRemaining != 0) Sleep(5);
            Sleep(200);
            row.m_bPause = true;
        });
        const DWORD start = GetTickCount();
        const bool ended = RunSegments(row, 1, 30000);
        const DWORD took = GetTickCount() - start;
        flagger.join();
        ASSERT_TRUE(ended);
        EXPECT_EQ(0, row.SegmentSnapshot(0).bytesRemaining);
        if (c.pause) {
            EXPECT_LT(took, 1200u);
        } else {
            EXPECT_GE(took, 1400u);
            EXPECT_LT(took, 4000u);
        }
    }
    g_SegmentTimeouts = saved;
}

TEST(SegmentSender, SentSegmentClosesInOrderWhateverEndsTheWait) {
    // The server reads nothing until the thread has ended, so the wait for its close ends by
    // the bound, a pause or a cancel while bytes still sit in the sender's buffers. Once every
    // byte went, the server must still read them all and then an orderly end; a cancel with
    // bytes unsent gives the connection up with a reset.
    const SegmentTimeouts saved = g_SegmentTimeouts;
    g_SegmentTimeouts.close = 300;
    enum Flag { None, Pause, Cancel };
    struct Case {
        const char* what;
        Flag flag;
        int64_t size;  // the small one outgrows the server's buffer but fits the sender's
    };
    const Case cases[] = {
        {"bound", None, 60000},
        {"pause", Pause, 60000},
        {"cancel", Cancel, 60000},
        {"cancel with bytes unsent", Cancel, 16 << 20},
    };
    TempFile file(16 << 20, L"orderly");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string ip = CaseAddress(60 + n++);
        DataReceiver receiver(ip, true);
        ASSERT_TRUE(receiver.ok());
        TestRow row(ip, file.path, {{0, 0, c.size}});
        const bool whole = c.size < (1 << 20);
        std::thread flagger([&] {
            if (c.flag == None) return;
            const auto until = Clock::now() + std::chrono::seconds(20);
            for (int64_t last = -1; Clock::now() < until; Sleep(whole ? 5 : 100)) {
                const protocol::SegmentRecord r = row.SegmentSnapshot(0);
                if (whole ? r.bytesRemaining == 0 : r.bytesDone == last) break;
                last = r.bytesDone;
            }
            if (c.flag == Pause)
                row.m_bPause = true;
            else
                row.m_bCancel = true;
        });
        const bool ended = RunSegments(row, 1, 30000);
        flagger.join();
        ASSERT_TRUE(ended);
        receiver.Release();
        const auto conns = receiver.Wait(1, 10000);
        ASSERT_EQ(1u, conns.size());
        ExpectHeader(conns[0].Record());
        const auto after = row.SegmentSnapshot(0);
        if (whole) {
            EXPECT_EQ(0, after.bytesRemaining);
            EXPECT_EQ(static_cast<size_t>(c.size), conns[0].DataSize());
            EXPECT_TRUE(conns[0].orderly);
        } else {
            EXPECT_LT(conns[0].DataSize(), static_cast<size_t>(c.size));
            EXPECT_LE(conns[0].DataSize(), static_cast<size_t>(after.bytesDone));
            EXPECT_FALSE(conns[0].orderly);
        }
        EXPECT_EQ(0, std::memcmp(conns[0].Data(), file.bytes.data(), conns[0].DataSize()));
    }
    g_SegmentTimeouts = saved;
}

TEST(SegmentSender, FailuresLeaveTheRecordAsItWas) {
    struct Case {
        const char* what;
        const char* host;
        bool listen;
        bool fileExists;
    };
    const Case cases[] = {
        {"file gone: record sent, no data", "127.0.8.50", true, false},
        {"connection refused", "127.0.8.51", false, true},
        {"host text is no address", "upload.invalid", false, true},
    };
    TempFile file(50000, L"fail");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<DataReceiver> receiver;
        if (c.listen) {
            receiver.reset(new DataReceiver(c.host));
            ASSERT_TRUE(receiver->ok());
        }
        TestRow row(c.host, c.fileExists ? file.path : file.path + L".missing", {{100, 0, 40000}});
        EXPECT_EQ(0, SendFileThreadProc(&row, 0));
        const auto after = row.SegmentSnapshot(0);
        EXPECT_EQ(100, after.offset);
        EXPECT_EQ(0, after.bytesDone);
        EXPECT_EQ(40000, after.bytesRemaining);
        if (receiver) {
            const auto conns = receiver->Wait(1, 10000);
            ASSERT_EQ(1u, conns.size());
            EXPECT_EQ(68u, conns[0].bytes.size());
            ExpectHeader(conns[0].Record());
        }
    }
    TestRow row;
    EXPECT_EQ(0, SendFileThreadProc(&row, 10));
    EXPECT_EQ(0, SendFileThreadProc(nullptr, 0));
    EXPECT_EQ(0u, SendFileThreadProcStub(nullptr));
    EXPECT_EQ(0u, SendFileThreadProcStub(new SegmentThreadParam{nullptr, 0}));
}
