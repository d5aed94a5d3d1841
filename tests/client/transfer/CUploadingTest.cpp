#include "client/transfer/CUploading.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/app/CAppSettings.h"
#include "client/session/CLoginSession.h"
#include "client/transfer/CIcmpPing.h"
#include "provider/Provider.h"
#include "tests/support/UploadTestSupport.h"

namespace {

testing::Environment* const g_network = testing::AddGlobalTestEnvironment(new upload_test::NetworkEnvironment);

const uint64_t kUserId = 77;

upload_test::Addresses g_addresses("127.0.10.");

// A row whose window hooks only record what they were handed.
class TestRow : public CUploading {
public:
    explicit TestRow(const std::string& host)
        : CUploading(L"C:\\some\\where\\name.bin", L"", 0, CString(std::wstring(host.begin(), host.end()).c_str()),
                     protocol::kControlPort) {}
    ~TestRow() override = default;
    void OnLinkChanged(uint32_t link, bool enabled) override {
        if (link == LINK_DONE && m_onDone) m_onDone();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_links.push_back(link);
        m_linkEnabled.push_back(enabled);
    }
    void OnCancelLinkEnabled(bool enabled) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelLinkEnabled.push_back(enabled);
    }
    // Link changes from the `from`th on: all of them disabled the link.
    bool LinksDisabledSince(size_t from) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = from; i < m_linkEnabled.size(); ++i)
            if (m_linkEnabled[i]) return false;
        return m_linkEnabled.size() > from && !m_cancelLinkEnabled.empty() && !m_cancelLinkEnabled.back();
    }
    size_t LinkChanges() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_links.size();
    }
    // Runs on the engine's thread at the moment the row says "完成".
    std::function<void()> m_onDone;
    void UpdateProgress(const TimeValue&, uint64_t done, uint64_t) override { m_lastProgress = done; }
    void ShowFileReadError() override { ++m_fileErrors; }
    void ShowFileBusyError() override { ++m_busyErrors; }
    std::atomic<uint64_t> m_lastProgress{0};
    std::atomic<int> m_fileErrors{0};
    std::atomic<int> m_busyErrors{0};
    std::mutex m_mutex;
    std::vector<uint32_t> m_links;
    std::vector<bool> m_linkEnabled;
    std::vector<bool> m_cancelLinkEnabled;
};

class UploadingTest : public testing::Test {
protected:
    void SetUp() override {
        m_address = g_addresses.Next();
        m_wide = upload_test::Wide(m_address);
        g_Settings.m_strServerAddr = m_wide;
        g_Settings.SetServerPort(protocol::kControlPort);
        g_LoginSession.m_nUserId = kUserId;
        m_provider = upload_test::NewProvider(m_address, "row@example.com", kUserId, 7);
    }
    void TearDown() override {
        if (m_provider) m_provider->Stop();
        if (m_window) DestroyWindow(m_window);
    }
    bool StartProvider() { return m_provider->Start(m_address); }
    // The next case of a table: a new stand-in on an address of its own.
    bool StartAfresh() {
        TearDown();
        SetUp();
        return StartProvider();
    }

    std::unique_ptr<TestRow> NewRow(int threads) {
        g_Settings.m_nMaxSendFileThread = threads;
        return std::unique_ptr<TestRow>(new TestRow(m_address));
    }
    // A row of five segments under way against a server that takes 200 KB/s: it can be paused
    // in the middle. Null when it did not get under way.
    std::unique_ptr<TestRow> StartSlowly(const TempFile& file) {
        m_provider->State().SetThrottle(200000, true);
        auto row = NewRow(5);
        if (!Start(*row, file) || !WaitProgress(*row, 1)) return nullptr;
        return row;
    }
    static bool Start(TestRow& row, const TempFile& file) {
        return row.OnStartUpload(reinterpret_cast<WPARAM>(new CString(file.path)), 0) == 0;
    }
    // The row's threads have all ended (bounded).
    static bool WaitIdle(TestRow& row, int ms = 60000) {
        for (int waited = 0; waited < ms; waited += 20) {
            if (!row.Busy()) return true;
            Sleep(20);
        }
        return false;
    }
    static bool WaitProgress(TestRow& row, uint64_t atLeast, int ms = 20000) {
        for (int waited = 0; waited < ms; waited += 10) {
            if (row.BytesDone() >= atLeast) return true;
            Sleep(10);
        }
        return false;
    }
    bool HoldsExactly(uint64_t fileId, const TempFile& file) {
        return upload_test::HoldsExactly(*m_provider, fileId, file);
    }
    bool Holds(uint64_t fileId, const TempFile& file) { return upload_test::HoldsNow(*m_provider, fileId, file); }
    // A page window for the cancel report, owned by this thread.
    HWND Page() {
        if (!m_window)
            m_window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        return m_window;
    }
    bool WaitCancelledReport(CUploading* row, int ms = 30000) {
        MSG msg;
        for (int waited = 0; waited < ms; waited += 10) {
            if (PeekMessageW(&msg, m_window, WM_UPLOAD_CANCELLED, WM_UPLOAD_CANCELLED, PM_REMOVE))
                return msg.wParam == reinterpret_cast<WPARAM>(row);
            Sleep(10);
        }
        return false;
    }
    std::vector<uint64_t> DeletedIds() {
        std::vector<uint64_t> ids;
        for (const auto& r : m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_DELETE_FILE)) {
            protocol::UserFileRequest q = {};
            std::memcpy(&q, r.bytes.data(), std::min(r.bytes.size(), sizeof q));
            ids.push_back(q.fileId);
        }
        return ids;
    }

    std::string m_address;
    CString m_wide;
    std::unique_ptr<provider::Provider> m_provider;
    HWND m_window = nullptr;
};

// The row says "完成" only when the server holds the file byte for byte, whatever the data
// connections went through; a server that lost bytes is sent them again without the user.
TEST_F(UploadingTest, DoneOnlyWhenTheServerHoldsEveryByte) {
    struct Fault {
        const char* name;
        provider::Fault fault;
        uint32_t code;    // of the messages whose replies or connections it spoils
        bool perSegment;  // applies to the first run's connections only
        bool slow;        // costs a time-out per run, or a slow reply
        // Bytes at the end of each segment the server never reads (SIZE_MAX: none at all). A
        // first run that gets the server no byte asks the user at once, whose resume then
        // finishes the file.
        size_t unreadTail;
        bool garbage;  // every field the client does not read holds garbage
    };
    auto cutNearTheEnd = [] {
        provider::Fault f;
        f.cutWhenLeftBytes = 20000;  // less than the sockets hold: every send has succeeded
        return f;
    };
    auto cutEarly = [] {
        provider::Fault f;
        f.cutAfterBytes = 50000;
        return f;
    };
    auto deaf = [] {
        provider::Fault f;
        f.neverRead = true;
        return f;
    };
    auto slowAnnouncement = [] {
        provider::Fault f;
        f.delayMs = 1500;
        return f;
    };
    const uint32_t kData = protocol::MSG_CODE_SEND_FILE_DATA;
    const Fault faults[] = {
        {"no fault", provider::Fault(), kData, false, false, 0, false},
        {"garbage where the client does not read", provider::Fault(), kData, false, false, 0, true},
        {"slow announcement", slowAnnouncement(), protocol::MSG_CODE_REQ_UPLOAD_FILE, false, true, 0, false},
        {"cut with the tail in the socket buffers", cutNearTheEnd(), kData, true, false, 20000, false},
        {"cut early", cutEarly(), kData, true, false, 0, false},
        {"data port that never reads", deaf(), kData, true, true, SIZE_MAX, false}};
    const size_t kBig = 50u << 20;
    const size_t sizes[] = {0, 1, 32768, 32769, 1000003, kBig};
    const int threads[] = {1, 5, 10};
    // Every case for faults of the replies; for faults of the data connections the big file
    // over ten segments only; slow faults at one size.
    auto wanted = [&](const Fault& f, size_t size, int t) {
        if (f.perSegment && size == kBig) return t == 10;
        return !f.slow || size == 1000003;
    };
    const SegmentTimeouts saved = g_SegmentTimeouts;
    g_SegmentTimeouts.chunk = 2;  // a port that never reads holds a run this long
    g_SegmentTimeouts.close = 1000;
    for (const Fault& f : faults) {
        for (size_t size : sizes) {
            for (int t : threads) {
                if (!wanted(f, size, t)) continue;
                SCOPED_TRACE(testing::Message() << f.name << ", " << size << " bytes over " << t << " threads");
                ASSERT_TRUE(StartAfresh());
                TempFile file(size);
                // The stand-in cuts a file into ranges of ceil(size / threads) bytes.
                const size_t each = (size + t - 1) / t;
                const int segments = each ? static_cast<int>((size + each - 1) / each) : 0;
                if (f.perSegment && segments > 0) {
                    provider::Fault fault = f.fault;
                    fault.times = segments;
                    m_provider->State().SetFault(f.code, fault);
                } else if (!f.perSegment) {
                    m_provider->State().SetFault(f.code, f.fault);
                }
                m_provider->State().SetHeaderGarbage(f.garbage);
                auto row = NewRow(t);
                std::atomic<int> doneSeen{0}, doneWhole{0};
                row->m_onDone = [&] {
                    ++doneSeen;
                    if (Holds(row->m_nFileId, file)) ++doneWhole;
                };
                ASSERT_TRUE(Start(*row, file));
                ASSERT_TRUE(WaitIdle(*row, 120000));
                if (f.perSegment && segments > 0 && each <= f.unreadTail) {
                    EXPECT_EQ(row->State(), CUploading::STATE_RESUMABLE);
                    EXPECT_EQ(row->LinkShows(), CUploading::LINK_RESUME);
                    // The list the run started from and the one after it: no automatic run.
                    EXPECT_EQ(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_UPLOAD_INFO).size(), 2u);
                    EXPECT_EQ(doneSeen.load(), 0);
                    ASSERT_TRUE(row->StartResumeThread());
                    ASSERT_TRUE(WaitIdle(*row, 120000));
                }
                EXPECT_EQ(row->State(), CUploading::STATE_DONE);
                EXPECT_EQ(row->LinkShows(), CUploading::LINK_DONE);
                EXPECT_EQ(doneSeen.load(), 1);
                EXPECT_EQ(doneWhole.load(), 1);
                EXPECT_EQ(row->BytesDone(), size);
                EXPECT_LE(row->m_nThreadCount.load(), t);
                m_provider->Stop();
            }
        }
    }
    g_SegmentTimeouts = saved;
}

TEST_F(UploadingTest, LossesBeyondTheAutomaticRunsWaitForTheUser) {
    // Every data connection is cut: the row tries a few times by itself, then offers the resume
    // with what the server holds, and the user's resume finishes the file once the server mends.
    ASSERT_TRUE(StartProvider());
    TempFile file(1000003);
    provider::Fault cut;
    cut.cutWhenLeftBytes = 20000;
    m_provider->State().SetFault(protocol::MSG_CODE_SEND_FILE_DATA, cut);
    auto row = NewRow(5);
    int doneSeen = 0;
    row->m_onDone = [&] { ++doneSeen; };
    ASSERT_TRUE(Start(*row, file));
    ASSERT_TRUE(WaitIdle(*row));
    EXPECT_EQ(row->State(), CUploading::STATE_RESUMABLE);
    EXPECT_EQ(row->LinkShows(), CUploading::LINK_RESUME);
    EXPECT_TRUE(row->m_bPause.load());
    EXPECT_EQ(doneSeen, 0);
    // The list before the first run and one after each run: the first run got the server
    // bytes, so another followed by itself; that one got none (each connection is cut before
    // the server reads), so the user is asked.
    EXPECT_EQ(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_UPLOAD_INFO).size(), 3u);
    // The row shows what the server holds, not what the sockets took.
    EXPECT_LT(row->BytesDone(), file.bytes.size());
    EXPECT_FALSE(Holds(row->m_nFileId, file));

    m_provider->State().ClearFaults();
    ASSERT_TRUE(row->StartResumeThread());
    ASSERT_TRUE(WaitIdle(*row));
    EXPECT_EQ(row->State(), CUploading::STATE_DONE);
    EXPECT_EQ(doneSeen, 1);
    EXPECT_TRUE(HoldsExactly(row->m_nFileId, file));
}

// Done is decided by the ranges the server lists as received, not by counts that add up.
TEST_F(UploadingTest, DoneOnlyWhenTheListedRangesCoverTheFile) {
    struct Case {
        const char* name;
        std::function<void(protocol::SegmentDescriptor&)> edit;
        bool done;
    } cases[] = {
        // Every segment claims what it lacks as received, just before its next byte: the counts
        // add up to the file and nothing remains, yet the first ranges overlap and the tail is
        // listed nowhere.
        {"a gap hidden by an overlap",
         [](protocol::SegmentDescriptor& d) {
             d.bytesDone += d.bytesRemaining;
             d.bytesRemaining = 0;
         },
         false},
        // Every segment after the first also claims the 1000 bytes before it: counts above the
        // file, ranges that still cover it.
        {"overlapping ranges that cover the file",
         [](protocol::SegmentDescriptor& d) {
             if (d.startOffset - d.bytesDone >= 1000) d.bytesDone += 1000;
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(StartAfresh());
        provider::Fault lying;
        lying.editSegment = c.edit;
        m_provider->State().SetFault(protocol::MSG_CODE_REQ_UPLOAD_INFO, lying);
        TempFile file(1000003);
        auto row = NewRow(5);
        std::atomic<int> doneSeen{0}, doneWhole{0};
        row->m_onDone = [&] {
            ++doneSeen;
            if (Holds(row->m_nFileId, file)) ++doneWhole;
        };
        ASSERT_TRUE(Start(*row, file));
        ASSERT_TRUE(WaitIdle(*row));
        if (c.done) {
            EXPECT_EQ(row->State(), CUploading::STATE_DONE);
            EXPECT_EQ(doneWhole.load(), 1);
            // The last display shows the file, not the counts' sum.
            EXPECT_EQ(row->FinalBytesDone(), file.bytes.size());
            continue;
        }
        EXPECT_EQ(row->State(), CUploading::STATE_RESUMABLE);
        EXPECT_EQ(doneSeen.load(), 0);
        EXPECT_LT(row->FinalBytesDone(), file.bytes.size());
        // Once the server lists what it holds, the resume sends the rest.
        m_provider->State().ClearFaults();
        ASSERT_TRUE(row->StartResumeThread());
        ASSERT_TRUE(WaitIdle(*row));
        EXPECT_EQ(row->State(), CUploading::STATE_DONE);
        EXPECT_EQ(doneWhole.load(), 1);
        EXPECT_TRUE(HoldsExactly(row->m_nFileId, file));
    }
}

// A server that lost the file (a restart) lists no segment of it: the row offers the retry,
// which sends the file whole as a new upload.
TEST_F(UploadingTest, FileTheServerNoLongerKnowsIsSentAgainAsANewFile) {
    ASSERT_TRUE(StartProvider());
    TempFile file(4000000);
    auto row = StartSlowly(file);
    ASSERT_TRUE(row);
    row->m_bPause = true;
    ASSERT_TRUE(WaitIdle(*row));
    ASSERT_EQ(row->State(), CUploading::STATE_RESUMABLE);
    const uint64_t lost = row->m_nFileId;

    m_provider->State().SetThrottle(0, true);
    m_provider->State().ForgetFiles();
    const size_t dataBefore = m_provider->State().RequestsOf(protocol::MSG_CODE_SEND_FILE_DATA).size();
    ASSERT_TRUE(row->StartResumeThread());
    ASSERT_TRUE(WaitIdle(*row));
    EXPECT_EQ(row->State(), CUploading::STATE_RETRY);
    EXPECT_EQ(row->LinkShows(), CUploading::LINK_RETRY);
    EXPECT_EQ(m_provider->State().RequestsOf(protocol::MSG_CODE_SEND_FILE_DATA).size(), dataBefore);

    ASSERT_TRUE(row->StartUploadThread());
    ASSERT_TRUE(WaitIdle(*row));
    EXPECT_EQ(row->State(), CUploading::STATE_DONE);
    EXPECT_NE(row->m_nFileId.load(), lost);
    EXPECT_EQ(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_UPLOAD_FILE).size(), 2u);
    EXPECT_TRUE(HoldsExactly(row->m_nFileId, file));

    // An empty file of which the server lists no segment is whole as it is.
    ASSERT_TRUE(StartAfresh());
    TempFile empty(0);
    auto second = NewRow(5);
    ASSERT_TRUE(Start(*second, empty));
    ASSERT_TRUE(WaitIdle(*second));
    EXPECT_EQ(second->State(), CUploading::STATE_DONE);
}

// The row shows a cancel at once; the server choice, whose result a cancelled row never uses,
// stops at once; an announcement under way is still answered, and its file deleted.
TEST_F(UploadingTest, CancelShowsAtOnceAndCutsTheServerChoice) {
    struct SilentHosts {
        static int Ping(LPCWSTR host, PingResult* result, DWORD timeoutMs, BYTE, const StopTest& stop) {
            if (wcscmp(host, L"127.0.10.250") != 0) {
                result->roundTrip = 1;
                return 1;
            }
            for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
                if (stop && stop()) return 0;
                Sleep(10);
            }
            return 0;
        }
    };
    const ServerPing saved = ServerPinger();
    ServerPinger() = SilentHosts::Ping;
    for (bool announcing : {false, true}) {
        SCOPED_TRACE(announcing ? "during the announcement" : "during the server choice");
        TearDown();
        m_window = nullptr;
        SetUp();
        if (!announcing) {
            protocol::ServerInfo silent;
            silent.serverId = 8;
            silent.host = "127.0.10.250";
            silent.port = protocol::kDataPort;
            for (int i = 0; i < 2; ++i) m_provider->State().AddServer(silent);
        }
        ASSERT_TRUE(StartProvider());
        if (announcing) {
            provider::Fault slow;
            slow.delayMs = 2000;
            m_provider->State().SetFault(protocol::MSG_CODE_REQ_UPLOAD_FILE, slow);
        }
        TempFile file(40000);
        auto* row = NewRow(5).release();
        row->SetParentPage(Page());
        ASSERT_TRUE(Start(*row, file));
        if (announcing) {
            ASSERT_TRUE(m_provider->State().WaitForRequests(protocol::MSG_CODE_REQ_UPLOAD_FILE, 1, 30000));
        } else {
            ASSERT_TRUE(m_provider->State().WaitForRequests(protocol::MSG_CODE_REQ_SERVER_LIST, 1, 10000));
            Sleep(300);  // the silent hosts are being pinged
        }
        const size_t before = row->LinkChanges();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(row->StartCancelThread());
        EXPECT_TRUE(row->LinksDisabledSince(before));
        if (!announcing) {
            ASSERT_TRUE(WaitCancelledReport(row, 1000));
            EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
            EXPECT_TRUE(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_UPLOAD_FILE).empty());
        } else {
            ASSERT_TRUE(WaitCancelledReport(row, 10000));
            ASSERT_NE(row->m_nFileId.load(), 0u);
            ASSERT_TRUE(m_provider->State().WaitForRequests(protocol::MSG_CODE_REQ_DELETE_FILE, 1, 5000));
            EXPECT_EQ(DeletedIds(), std::vector<uint64_t>{row->m_nFileId.load()});
            EXPECT_TRUE(m_provider->State().RequestsOf(protocol::MSG_CODE_SEND_FILE_DATA).empty());
        }
        // Whatever the threads reported on their way out, the row offered nothing again.
        EXPECT_TRUE(row->LinksDisabledSince(before));
        EXPECT_TRUE(WaitIdle(*row, 5000));
        delete row;
    }
    ServerPinger() = saved;
}

TEST_F(UploadingTest, PausedUploadResumesToTheSameBytes) {
    ASSERT_TRUE(StartProvider());
    // Large enough that socket buffers cannot swallow it before the pause.
    TempFile file(4000000);
    auto row = StartSlowly(file);
    ASSERT_TRUE(row);
    // A running row refuses a second run thread.
    EXPECT_FALSE(row->StartResumeThread());
    EXPECT_FALSE(row->StartUploadThread());
    row->m_bPause = true;
    ASSERT_TRUE(WaitIdle(*row));
    EXPECT_EQ(row->State(), CUploading::STATE_RESUMABLE);
    EXPECT_EQ(row->LinkShows(), CUploading::LINK_RESUME);
    EXPECT_LT(row->BytesDone(), file.bytes.size());

    m_provider->State().SetThrottle(0, true);
    ASSERT_TRUE(row->StartResumeThread());
    ASSERT_TRUE(WaitIdle(*row));
    EXPECT_EQ(row->State(), CUploading::STATE_DONE);
    EXPECT_EQ(row->LinkShows(), CUploading::LINK_DONE);
    EXPECT_TRUE(HoldsExactly(row->m_nFileId, file));
}

TEST_F(UploadingTest, PauseAndCancelActAtOnceAgainstAPortThatNeverReads) {
    // The socket layer's own time-outs stay as shipped: only the flags may end the run early.
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancel" : "pause");
        TearDown();
        m_window = nullptr;
        SetUp();
        ASSERT_TRUE(StartProvider());
        provider::Fault deaf;
        deaf.neverRead = true;
        m_provider->State().SetFault(protocol::MSG_CODE_SEND_FILE_DATA, deaf);
        TempFile file(8000000);
        auto* row = NewRow(10).release();
        row->SetParentPage(Page());
        ASSERT_TRUE(Start(*row, file));
        // Every segment is under way and its sends have stopped moving.
        ASSERT_TRUE(WaitProgress(*row, 1));
        Sleep(500);
        const auto start = std::chrono::steady_clock::now();
        auto elapsedMs = [&] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        };
        if (cancel) {
            ASSERT_TRUE(row->StartCancelThread());
            ASSERT_TRUE(m_provider->State().WaitForRequests(protocol::MSG_CODE_REQ_DELETE_FILE, 1, 2000));
            EXPECT_LE(elapsedMs(), 2000);
            EXPECT_EQ(DeletedIds(), std::vector<uint64_t>{row->m_nFileId.load()});
            ASSERT_TRUE(WaitCancelledReport(row, 2000));
            EXPECT_TRUE(WaitIdle(*row, 2000));
        } else {
            row->m_bPause = true;
            ASSERT_TRUE(WaitIdle(*row, 2000));
            EXPECT_EQ(row->State(), CUploading::STATE_RESUMABLE);
            EXPECT_EQ(row->LinkShows(), CUploading::LINK_RESUME);
        }
        EXPECT_LE(elapsedMs(), 2000);
        delete row;
    }
}

TEST_F(UploadingTest, UnreachableControlServerAsksForRetryThenCompletes) {
    TempFile file(40000);
    auto row = NewRow(5);
    ASSERT_TRUE(Start(*row, file));
    ASSERT_TRUE(WaitIdle(*row));
    EXPECT_EQ(row->State(), CUploading::STATE_RETRY);
    EXPECT_EQ(row->LinkShows(), CUploading::LINK_RETRY);

    ASSERT_TRUE(StartProvider());
    ASSERT_TRUE(row->StartUploadThread());
    ASSERT_TRUE(WaitIdle(*row));
    EXPECT_EQ(row->State(), CUploading::STATE_DONE);
    EXPECT_TRUE(HoldsExactly(row->m_nFileId, file));
}

// Another program may read the file meanwhile, never write it: what goes out is the file as it
// stands, not one that never existed.
TEST_F(UploadingTest, FileHeldByAnotherProgramIsUploadedOnlyWhenNobodyWritesIt) {
    const struct {
        const char* name;
        DWORD access, share;
        bool uploaded;
    } holders[] = {
        {"reader that shares reading", GENERIC_READ, FILE_SHARE_READ, true},
        {"reader that shares nothing", GENERIC_READ, 0, false},
        {"writer that shares everything", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false},
    };
    for (const auto& h : holders) {
        SCOPED_TRACE(h.name);
        ASSERT_TRUE(StartAfresh());
        TempFile file(100000);
        HANDLE held = CreateFileW(file.path, h.access, h.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        auto row = NewRow(2);
        ASSERT_TRUE(Start(*row, file));
        ASSERT_TRUE(WaitIdle(*row));
        CloseHandle(held);
        EXPECT_EQ(row->m_fileErrors.load(), h.uploaded ? 0 : 1);
        EXPECT_EQ(row->State(), h.uploaded ? CUploading::STATE_DONE : CUploading::STATE_UPLOADING);
        EXPECT_EQ(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_SERVER_LIST).empty(), !h.uploaded);
        if (h.uploaded) {
            EXPECT_TRUE(HoldsExactly(row->m_nFileId, file));
        }
    }

    auto missing = NewRow(1);
    ASSERT_EQ(missing->OnStartUpload(reinterpret_cast<WPARAM>(new CString(L"C:\\no\\such\\file.bin")), 0), 0);
    ASSERT_TRUE(WaitIdle(*missing));
    EXPECT_EQ(missing->m_fileErrors.load(), 1);
    EXPECT_TRUE(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_SERVER_LIST).empty());
    // An empty path starts nothing.
    EXPECT_EQ(missing->OnStartUpload(reinterpret_cast<WPARAM>(new CString(L"")), 0), -1);
}

// While a run reads the file nobody may write it; between runs (paused) they may, and the
// resume then asks again: refused while it is being written, never resumed once it changed.
TEST_F(UploadingTest, WritersWaitForTheRunAndAChangedFileGoesAgainAsANewFile) {
    auto openForWriting = [](const TempFile& file) {
        return CreateFileW(file.path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    };
    auto writeTime = [](HANDLE h) {
        FILETIME t = {};
        GetFileTime(h, nullptr, nullptr, &t);
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    const struct {
        const char* name;
        bool changed;
        bool grow;  // else rewritten in place, the size unchanged
    } changes[] = {{"unchanged", false, false}, {"grown", true, true}, {"rewritten in place", true, false}};
    for (const auto& change : changes) {
        SCOPED_TRACE(change.name);
        ASSERT_TRUE(StartAfresh());
        TempFile file(4000000);
        auto row = StartSlowly(file);
        ASSERT_TRUE(row);
        HANDLE refused = openForWriting(file);
        EXPECT_EQ(refused, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        if (refused != INVALID_HANDLE_VALUE) CloseHandle(refused);
        row->m_bPause = true;
        ASSERT_TRUE(WaitIdle(*row));
        ASSERT_EQ(row->State(), CUploading::STATE_RESUMABLE);
        const uint64_t first = row->m_nFileId;
        m_provider->State().SetThrottle(0, true);

        HANDLE writer = openForWriting(file);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        const uint64_t before = writeTime(writer);
        if (change.changed) {
            std::vector<uint8_t> more(change.grow ? 1000 : 4096, 0x5a);
            if (change.grow) SetFilePointer(writer, 0, nullptr, FILE_END);
            DWORD written = 0;
            ASSERT_TRUE(WriteFile(writer, more.data(), static_cast<DWORD>(more.size()), &written, nullptr));
            if (change.grow)
                file.bytes.insert(file.bytes.end(), more.begin(), more.end());
            else
                std::copy(more.begin(), more.end(), file.bytes.begin());
            FlushFileBuffers(writer);
            ASSERT_NE(writeTime(writer), before);
        }
        // Still being written: the resume is refused and the row stays paused.
        ASSERT_TRUE(row->StartResumeThread());
        ASSERT_TRUE(WaitIdle(*row));
        EXPECT_EQ(row->m_busyErrors.load(), 1);
        EXPECT_EQ(row->State(), CUploading::STATE_RESUMABLE);
        EXPECT_EQ(row->LinkShows(), CUploading::LINK_RESUME);
        EXPECT_TRUE(row->m_bPause.load());
        CloseHandle(writer);

        ASSERT_TRUE(row->StartResumeThread());
        ASSERT_TRUE(WaitIdle(*row));
        if (!change.changed) {
            EXPECT_EQ(row->State(), CUploading::STATE_DONE);
            EXPECT_EQ(row->m_nFileId.load(), first);
            EXPECT_TRUE(HoldsExactly(first, file));
            continue;
        }
        // The old bytes and the new would mix: a new upload, and the old one let go.
        EXPECT_EQ(row->State(), CUploading::STATE_RETRY);
        EXPECT_EQ(row->LinkShows(), CUploading::LINK_RETRY);
        ASSERT_TRUE(m_provider->State().WaitForRequests(protocol::MSG_CODE_REQ_DELETE_FILE, 1, 5000));
        EXPECT_EQ(DeletedIds(), std::vector<uint64_t>{first});
        ASSERT_TRUE(row->StartUploadThread());
        ASSERT_TRUE(WaitIdle(*row));
        EXPECT_EQ(row->State(), CUploading::STATE_DONE);
        EXPECT_NE(row->m_nFileId.load(), first);
        EXPECT_EQ(row->m_nFileSize.load(), file.bytes.size());
        EXPECT_TRUE(HoldsExactly(row->m_nFileId, file));
    }
}

TEST_F(UploadingTest, CancelStopsEveryThreadAndDeletesOnlyAnnouncedFiles) {
    struct Case {
        const char* name;
        bool duringData;
        bool afterResume;
    } cases[] = {{"during server choice", false, false}, {"during data", true, false}, {"after a resume", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        m_window = nullptr;
        SetUp();
        ASSERT_TRUE(StartProvider());
        TempFile file(4000000);
        if (c.duringData) {
            m_provider->State().SetThrottle(200000, true);
        } else {
            provider::Fault slow;
            slow.delayMs = 1500;
            m_provider->State().SetFault(protocol::MSG_CODE_REQ_SERVER_LIST, slow);
        }
        auto* row = NewRow(5).release();
        row->SetParentPage(Page());
        ASSERT_TRUE(Start(*row, file));
        if (c.afterResume) {
            ASSERT_TRUE(WaitProgress(*row, 1));
            row->m_bPause = true;
            ASSERT_TRUE(WaitIdle(*row));
            ASSERT_EQ(row->State(), CUploading::STATE_RESUMABLE);
            const uint64_t paused = row->BytesDone();
            ASSERT_TRUE(row->StartResumeThread());
            ASSERT_TRUE(WaitProgress(*row, paused + 1));
        } else if (c.duringData) {
            ASSERT_TRUE(WaitProgress(*row, 1));
        } else {
            ASSERT_TRUE(m_provider->State().WaitForRequests(protocol::MSG_CODE_REQ_SERVER_LIST, 1, 10000));
        }
        ASSERT_TRUE(row->StartCancelThread());
        EXPECT_FALSE(row->StartCancelThread());
        EXPECT_FALSE(row->StartResumeThread());
        ASSERT_TRUE(WaitCancelledReport(row));
        // Only the cancel thread may still be returning from its report.
        EXPECT_TRUE(WaitIdle(*row, 5000));
        const uint64_t fileId = row->m_nFileId;
        delete row;  // waits for nothing more: every thread ended before the report
        if (c.duringData) {
            ASSERT_NE(fileId, 0u);
            m_provider->State().WaitForRequests(protocol::MSG_CODE_REQ_DELETE_FILE, 1, 5000);
            EXPECT_EQ(DeletedIds(), std::vector<uint64_t>{fileId});
        } else {
            EXPECT_EQ(fileId, 0u);
            EXPECT_TRUE(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_UPLOAD_FILE).empty());
            EXPECT_TRUE(DeletedIds().empty());
        }
        m_provider->State().SetThrottle(0, true);
        m_provider->State().ClearFaults();
    }
}

TEST_F(UploadingTest, HostileRepliesNeitherCrashNorOverflow) {
    struct Case {
        const char* name;
        uint32_t code;
        provider::Fault fault;
        bool refuse;
        uint32_t state;
        int maxThreads;
    };
    auto count = [](uint32_t n) {
        provider::Fault f;
        f.count = n;
        return f;
    };
    auto length = [](uint32_t n) {
        provider::Fault f;
        f.bodyLength = n;
        f.closeWithoutReply = false;
        return f;
    };
    auto magic = [] {
        provider::Fault f;
        f.wrongMagic = true;
        return f;
    };
    // Every descriptor of every segment list rewritten (-1 keeps a field as the server has it).
    auto segments = [](int64_t done, int64_t remaining, int64_t offset) {
        provider::Fault f;
        f.editSegment = [=](protocol::SegmentDescriptor& d) {
            if (done >= 0) d.bytesDone = static_cast<uint32_t>(done);
            if (remaining >= 0) d.bytesRemaining = static_cast<uint32_t>(remaining);
            if (offset >= 0) d.startOffset = static_cast<uint32_t>(offset);
        };
        return f;
    };
    const Case cases[] = {
        // The body holds the three segments offered: only those run, and the file completes.
        {"segment count 11", protocol::MSG_CODE_REQ_UPLOAD_INFO, count(11), false, CUploading::STATE_DONE, 3},
        {"segment count beyond the body", protocol::MSG_CODE_REQ_UPLOAD_INFO, count(9), false, CUploading::STATE_DONE,
         3},
        {"huge segment list length", protocol::MSG_CODE_REQ_UPLOAD_INFO, length(0xFFFFFFF0u), false,
         CUploading::STATE_RESUMABLE, 0},
        // A start that fails before the server names the file offers the retry, never a
        // "暂停" with nothing running.
        {"huge server list length", protocol::MSG_CODE_REQ_SERVER_LIST, length(0xFFFFFFF0u), false,
         CUploading::STATE_RETRY, 0},
        {"server list count 0", protocol::MSG_CODE_REQ_SERVER_LIST, count(0), false, CUploading::STATE_RETRY, 0},
        {"file id 0", 0, provider::Fault(), true, CUploading::STATE_RETRY, 0},
        {"announcement answered with a foreign magic", protocol::MSG_CODE_REQ_UPLOAD_FILE, magic(), false,
         CUploading::STATE_RETRY, 0},
        // Counts the server cannot hold are taken within the file: never "完成" on their word.
        {"done counts at 2^31", protocol::MSG_CODE_REQ_UPLOAD_INFO, segments(0x80000000u, -1, -1), false,
         CUploading::STATE_RESUMABLE, 3},
        {"done counts of 0xFFFFFFFF", protocol::MSG_CODE_REQ_UPLOAD_INFO, segments(0xFFFFFFFFu, 0, -1), false,
         CUploading::STATE_RESUMABLE, 3},
        {"offsets beyond the file", protocol::MSG_CODE_REQ_UPLOAD_INFO, segments(-1, -1, 5000000), false,
         CUploading::STATE_RESUMABLE, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(StartAfresh());
        if (c.code) m_provider->State().SetFault(c.code, c.fault);
        m_provider->State().SetRefuseUploads(c.refuse);
        TempFile file(40000);
        auto row = NewRow(3);
        ASSERT_TRUE(Start(*row, file));
        ASSERT_TRUE(WaitIdle(*row, 30000));
        EXPECT_EQ(row->State(), c.state);
        EXPECT_LE(row->m_nThreadCount.load(), c.maxThreads ? c.maxThreads : 3);
        const uint32_t links[] = {CUploading::LINK_PAUSE, CUploading::LINK_RESUME, CUploading::LINK_RETRY,
                                  CUploading::LINK_DONE};
        EXPECT_EQ(row->LinkShows(), links[c.state]);
        EXPECT_LE(row->BytesDone(), 3 * file.bytes.size());
        if (c.state == CUploading::STATE_DONE) {
            EXPECT_TRUE(HoldsExactly(row->m_nFileId, file));
        }
        m_provider->State().SetRefuseUploads(false);
    }
}

TEST(UploadingRecords, TransferDataZeroExtendsAndIgnoresIndexTen) {
    CUploading row(L"a", L"a", -1, L"127.0.0.1", 20000);
    EXPECT_EQ(row.m_nFileSize.load(), 0xFFFFFFFFFFFFFFFFull);  // widened with its sign
    EXPECT_EQ(row.State(), CUploading::STATE_UPLOADING);
    row.SetTransferData(9, 1, 2, 3, 4, 0x80000000u, 0xFFFFFFFFu, 7);
    const protocol::SegmentRecord r = row.SegmentSnapshot(9);
    // Unsigned on the wire: no count turns negative on the way in.
    EXPECT_EQ(r.offset, 0x80000000LL);
    EXPECT_EQ(r.bytesDone, 0xFFFFFFFFLL);
    EXPECT_EQ(r.segmentNumber, 4);
    row.SetTransferData(10, 1, 2, 3, 4, 5, 6, 7);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(row.SegmentSnapshot(i).bytesDone, 0);
}

}  // namespace
