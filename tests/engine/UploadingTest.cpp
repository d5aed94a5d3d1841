#include "client/transfer/Uploading.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/app/AppSettings.h"
#include "client/session/LoginSession.h"
#include "client/transfer/IcmpPing.h"
#include "provider/Provider.h"
#include "tests/engine/UploadTestSupport.h"

namespace {

struct WinsockEnvironment : testing::Environment {
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        CIcmpPing::Startup();
    }
    void TearDown() override { WSACleanup(); }
};
testing::Environment* const g_winsock = testing::AddGlobalTestEnvironment(new WinsockEnvironment);

const uint64_t kUserId = 77;

std::string NextAddress() {
    static upload_test::Addresses addresses("127.0.10.");
    return addresses.Next();
}

struct TempFile : upload_test::TempFile {
    explicit TempFile(size_t size) : upload_test::TempFile(size, L"row", 1) {}
};

// A row whose window hooks only record what they were handed.
class TestRow : public CUploading {
public:
    explicit TestRow(const std::string& host)
        : CUploading(L"C:\\some\\where\\name.bin", L"", 0, CString(std::wstring(host.begin(), host.end()).c_str()),
                     protocol::kControlPort) {}
    ~TestRow() override = default;
    void OnLinkChanged(uint32_t link, bool) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_links.push_back(link);
    }
    void UpdateProgress(const TimeValue&, uint64_t done, uint64_t) override { m_lastProgress = done; }
    void ShowFileReadError() override { ++m_fileErrors; }
    std::atomic<uint64_t> m_lastProgress{0};
    std::atomic<int> m_fileErrors{0};
    std::mutex m_mutex;
    std::vector<uint32_t> m_links;
};

class UploadingTest : public testing::Test {
protected:
    void SetUp() override {
        m_address = NextAddress();
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
    bool HoldsExactly(uint64_t fileId, const TempFile& file) { return upload_test::HoldsExactly(*m_provider, fileId, file); }
    // A page window for the cancel report, owned by this thread.
    HWND Page() {
        if (!m_window) m_window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
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

TEST_F(UploadingTest, FilesOfEverySizeArriveWhole) {
    const size_t sizes[] = {0, 1, 32768, 32769, 40000, 10 * 1048576};
    const int threads[] = {1, 5, 10};
    for (size_t size : sizes) {
        for (int t : threads) {
            SCOPED_TRACE(testing::Message() << size << " bytes over " << t << " threads");
            ASSERT_TRUE(StartAfresh());
            TempFile file(size);
            auto row = NewRow(t);
            ASSERT_TRUE(Start(*row, file));
            ASSERT_TRUE(WaitIdle(*row));
            EXPECT_EQ(row->State(), CUploading::STATE_DONE);
            EXPECT_EQ(row->LinkShows(), CUploading::LINK_DONE);
            EXPECT_EQ(row->m_nFileSize.load(), size);
            EXPECT_LE(row->m_nThreadCount.load(), t);
            ASSERT_NE(row->m_nFileId.load(), 0u);
            EXPECT_TRUE(HoldsExactly(row->m_nFileId, file));
            m_provider->Stop();
        }
    }
}

TEST_F(UploadingTest, PausedOrCutUploadResumesToTheSameBytes) {
    struct Case {
        const char* name;
        bool pause;
        int64_t cutAfter;
        int cuts;
    } cases[] = {{"pause", true, -1, 0}, {"cut data connection", false, 50000, 1},
                 {"cut again during the resume", false, 50000, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(StartAfresh());
        // Large enough that socket buffers cannot swallow it before the pause.
        TempFile file(c.pause ? 4000000 : 400000);
        if (c.pause) m_provider->State().SetThrottle(200000, true);
        if (c.cutAfter >= 0) {
            provider::Fault cut;
            cut.cutAfterBytes = c.cutAfter;
            cut.times = c.cuts;
            m_provider->State().SetFault(protocol::MSG_CODE_SEND_FILE_DATA, cut);
        }
        auto row = NewRow(c.pause ? 5 : 1);
        ASSERT_TRUE(Start(*row, file));
        if (c.pause) {
            ASSERT_TRUE(WaitProgress(*row, 1));
            // A running row refuses a second run thread.
            EXPECT_FALSE(row->StartResumeThread());
            EXPECT_FALSE(row->StartUploadThread());
            row->m_bPause = 1;
        }
        ASSERT_TRUE(WaitIdle(*row));
        EXPECT_EQ(row->State(), CUploading::STATE_RESUMABLE);
        EXPECT_EQ(row->LinkShows(), CUploading::LINK_RESUME);
        EXPECT_LT(row->BytesDone(), file.bytes.size());

        m_provider->State().SetThrottle(0, true);
        // A resume cut short offers the resume again, paused, like the first run.
        for (int run = 1; run < c.cuts; ++run) {
            ASSERT_TRUE(row->StartResumeThread());
            ASSERT_TRUE(WaitIdle(*row));
            EXPECT_EQ(row->State(), CUploading::STATE_RESUMABLE);
            EXPECT_EQ(row->LinkShows(), CUploading::LINK_RESUME);
            EXPECT_EQ(row->m_bPause.load(), 1u);
        }
        ASSERT_TRUE(row->StartResumeThread());
        ASSERT_TRUE(WaitIdle(*row));
        EXPECT_EQ(row->State(), CUploading::STATE_DONE);
        EXPECT_EQ(row->LinkShows(), CUploading::LINK_DONE);
        EXPECT_TRUE(HoldsExactly(row->m_nFileId, file));
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

TEST_F(UploadingTest, LockedOrMissingFileReportsTheReadError) {
    ASSERT_TRUE(StartProvider());
    TempFile file(100);
    HANDLE held = CreateFileW(file.path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    auto row = NewRow(1);
    ASSERT_TRUE(Start(*row, file));
    ASSERT_TRUE(WaitIdle(*row));
    CloseHandle(held);
    EXPECT_EQ(row->m_fileErrors.load(), 1);

    auto missing = NewRow(1);
    ASSERT_EQ(missing->OnStartUpload(reinterpret_cast<WPARAM>(new CString(L"C:\\no\\such\\file.bin")), 0), 0);
    ASSERT_TRUE(WaitIdle(*missing));
    EXPECT_EQ(missing->m_fileErrors.load(), 1);
    EXPECT_TRUE(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_SERVER_LIST).empty());
    // An empty path starts nothing.
    EXPECT_EQ(missing->OnStartUpload(reinterpret_cast<WPARAM>(new CString(L"")), 0), -1);
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
            row->m_bPause = 1;
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
    const Case cases[] = {
        // The body holds the three segments offered: only those run, and the file completes.
        {"segment count 11", protocol::MSG_CODE_REQ_UPLOAD_INFO, count(11), false, CUploading::STATE_DONE, 3},
        {"segment count beyond the body", protocol::MSG_CODE_REQ_UPLOAD_INFO, count(9), false,
         CUploading::STATE_DONE, 3},
        {"huge segment list length", protocol::MSG_CODE_REQ_UPLOAD_INFO, length(0xFFFFFFF0u), false,
         CUploading::STATE_RESUMABLE, 0},
        {"huge server list length", protocol::MSG_CODE_REQ_SERVER_LIST, length(0xFFFFFFF0u), false,
         CUploading::STATE_UPLOADING, 0},
        {"server list count 0", protocol::MSG_CODE_REQ_SERVER_LIST, count(0), false, CUploading::STATE_UPLOADING, 0},
        {"file id 0", 0, provider::Fault(), true, CUploading::STATE_UPLOADING, 0},
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
        if (c.state == CUploading::STATE_UPLOADING) {
            EXPECT_EQ(row->LinkShows(), CUploading::LINK_PAUSE);
        }
        m_provider->State().SetRefuseUploads(false);
    }
}

TEST(UploadingRecords, TransferDataWidensAndIgnoresIndexTen) {
    CUploading row(L"a", L"a", -1, L"127.0.0.1", 20000);
    EXPECT_EQ(row.m_nFileSize.load(), 0xFFFFFFFFFFFFFFFFull);  // widened with its sign
    EXPECT_EQ(row.State(), CUploading::STATE_UPLOADING);
    row.SetTransferData(9, 1, 2, 3, 4, 0x80000000u, 6, 7);
    const protocol::SegmentRecord r = row.SegmentSnapshot(9);
    EXPECT_EQ(r.offset, -2147483648LL);
    EXPECT_EQ(r.segmentNumber, 4);
    row.SetTransferData(10, 1, 2, 3, 4, 5, 6, 7);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(row.SegmentSnapshot(i).bytesDone, 0);
}

}  // namespace
