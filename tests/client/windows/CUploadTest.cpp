#include <winsock2.h>
#include <windows.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/app/CAppSettings.h"
#include "client/session/CLoginSession.h"
#include "client/windows/CFloatWnd.h"
#include "client/windows/CUpload.h"
#include "controls/CScrollHelper.h"
#include "provider/Provider.h"
#include "tests/support/Capture.h"
#include "tests/support/TipsWatch.h"
#include "tests/support/UploadTestSupport.h"

namespace {

testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new upload_test::WindowNetworkEnvironment);

const uint64_t kUserId = 91;
const wchar_t kNoSpace[] = L"您的剩余空间不足，请重新选择文件";
const wchar_t kDuplicate[] = L"本文件正在上传，请重新选择文件";
const wchar_t kCeiling[] = L"同时上传文件不允许超过定值，请等待";

upload_test::Addresses g_addresses("127.0.33.");

using test_capture::Pump;
using test_capture::PumpUntil;

// The main dialog as far as the page sees it: takes the finished rows it is told of.
class TestMain : public CWnd {
public:
    std::vector<WPARAM> done;

protected:
    LRESULT OnDone(WPARAM row, LPARAM) {
        done.push_back(row);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestMain, CWnd)
    ON_MESSAGE(WM_UPLOAD_DONE, &TestMain::OnDone)
END_MESSAGE_MAP()

std::wstring W(const CString& s) { return std::wstring(static_cast<LPCWSTR>(s)); }

// A file of `size` bytes: small ones hold a pattern, large ones only a length (no upload reads them).
struct LocalFile {
    CString path;
    uint64_t size = 0;
    std::vector<uint8_t> bytes;
};

class UploadPageTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_main = new TestMain;
        test_capture::CreatePlainWindow(*s_main, L"FerrantPageTestMain", CRect(0, 0, 560, 420));
    }
    static void TearDownTestSuite() {
        delete s_main;
        s_main = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_main && s_main->m_hWnd);
        s_main->done.clear();
        g_Settings.m_nMaxSendFileThread = 3;
        g_Settings.SetServerPort(protocol::kControlPort);
        g_Settings.m_nSecondPort = protocol::kDataPort;
        g_LoginSession.m_nUserId = kUserId;
        g_LoginSession.m_bLoggedIn = true;
    }
    void TearDown() override {
        CUpload::Chooser() = nullptr;
        m_page.reset();
        if (m_provider) m_provider->Stop();
    }

    void StartProvider(uint64_t used = 0, uint64_t total = 1000000000000ull) {
        m_address = g_addresses.Next();
        g_Settings.m_strServerAddr = upload_test::Wide(m_address);
        m_provider.reset(new provider::Provider);
        provider::UserAccount user;
        user.mail = "page@example.com";
        user.userId = kUserId;
        user.usedSpace = used;
        user.totalSpace = total;
        m_provider->State().AddUser(user);
        protocol::ServerInfo server;
        server.serverId = 4;
        server.host = m_address;
        server.port = protocol::kDataPort;
        m_provider->State().AddServer(server);
        ASSERT_TRUE(m_provider->Start(m_address));
    }

    CUpload& NewPage() {
        m_page.reset(new CUpload(s_main));
        EXPECT_TRUE(m_page->Create(CUpload::IDD, s_main));
        m_page->MoveWindow(0, 0, 540, 380);
        m_page->ShowWindow(SW_SHOW);
        CUpload::Chooser() = [this](std::vector<CString>& paths) {
            paths = m_choice;
            return !paths.empty();
        };
        Pump(50);
        return *m_page;
    }

    LocalFile& NewFile(uint64_t size, const wchar_t* name = nullptr) {
        CString path = m_folder.File(name ? name : (L"file" + std::to_wstring(m_files.size()) + L".bin").c_str());
        HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        LocalFile file;
        file.path = path;
        file.size = size;
        if (size <= 1 << 20) {
            file.bytes.resize(size);
            for (size_t i = 0; i < size; ++i) file.bytes[i] = static_cast<uint8_t>(i * 7 + 3);
            DWORD written = 0;
            if (size) WriteFile(h, file.bytes.data(), static_cast<DWORD>(size), &written, nullptr);
        } else {
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(size);
            SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
            SetEndOfFile(h);
        }
        CloseHandle(h);
        m_files.push_back(std::move(file));
        return m_files.back();
    }

    // A click on "浏览" that chooses `paths`; the message boxes it shows are read and closed.
    std::vector<CString> Add(const std::vector<CString>& paths) {
        m_choice = paths;
        TipsWatch tips;
        m_page->SendMessage(WM_COMMAND, MAKEWPARAM(CUpload::IDC_BROWSE, BN_CLICKED),
                            reinterpret_cast<LPARAM>(m_page->m_btnBrowse.m_hWnd));
        return tips.texts;
    }

    bool EmptyView() {
        CUpload& page = *m_page;
        for (int id : {CUpload::IDC_QUOTA, CUpload::IDC_HINT1, CUpload::IDC_HINT2, CUpload::IDC_HINT3}) {
            if (!::IsWindowVisible(::GetDlgItem(page, id))) return false;
        }
        return W(page.m_btnBrowse.GetWindowText()) == L"浏览" &&
               !(page.m_frame.IsWindow() && page.m_frame.IsWindowVisible());
    }
    bool ListView() {
        CUpload& page = *m_page;
        for (int id : {CUpload::IDC_QUOTA, CUpload::IDC_HINT1, CUpload::IDC_HINT2, CUpload::IDC_HINT3}) {
            if (::IsWindowVisible(::GetDlgItem(page, id))) return false;
        }
        return W(page.m_btnBrowse.GetWindowText()) == L"继续添加" && page.m_frame.IsWindowVisible();
    }
    size_t Requests(uint32_t code) { return m_provider->State().RequestsOf(code).size(); }
    bool Holds(uint64_t fileId, const LocalFile& file) {
        m_provider->State().WaitForFinished(fileId, 10000);
        protocol::Bytes content;
        return m_provider->State().Content(fileId, content) && content == file.bytes;
    }

    // A file the server holds in part: `segments` equal pieces, each received up to `received` of it.
    uint64_t StoreUnfinished(const LocalFile& file, uint32_t segments, const std::vector<uint32_t>& received) {
        provider::StoredFile stored;
        stored.userId = kUserId;
        stored.serverId = 4;
        std::string path(WideToUtf8String(file.path));
        stored.path = path;
        stored.name = path.substr(path.rfind('\\') + 1);
        stored.size = file.bytes.size();
        const uint32_t piece = static_cast<uint32_t>(stored.size / segments);
        stored.data.assign(stored.size, 0);
        for (uint32_t i = 0; i < segments; ++i) {
            provider::SegmentState s;
            s.number = i;
            s.start = i * piece;
            s.length = i + 1 == segments ? static_cast<uint32_t>(stored.size) - s.start : piece;
            s.received = std::min(received[i], s.length);
            std::copy_n(file.bytes.begin() + s.start, s.received, stored.data.begin() + s.start);
            stored.segments.push_back(s);
        }
        return m_provider->State().AddFile(stored);
    }
    void Reload() {
        uint64_t user = kUserId;
        m_page->SendMessage(WM_LOAD_UNFINISHED_UPLOADS, reinterpret_cast<WPARAM>(&user));
    }

    static TestMain* s_main;
    std::unique_ptr<provider::Provider> m_provider;
    std::unique_ptr<CUpload> m_page;
    std::string m_address;
    std::vector<CString> m_choice;
    TempDir m_folder;
    std::deque<LocalFile> m_files;  // references stay valid as files are added
};

TestMain* UploadPageTest::s_main = nullptr;

TEST_F(UploadPageTest, AddChecksSpaceDuplicatesAndTheCeiling) {
    struct Case {
        const char* name;
        uint64_t used, total;
        std::vector<uint64_t> sizes;         // the files made for the case
        std::vector<std::vector<int>> adds;  // each click's choice, by file index (negative: the path upper-cased)
        size_t rows;                         // rows at the end
        std::vector<const wchar_t*> tips;    // boxes shown, in order
        size_t spaceQueries;                 // 226 sent by the clicks
    } cases[] = {
        {"below the space", 90, 100, {9}, {{0}}, 1, {}, 1},
        {"equal to the space", 90, 100, {10}, {{0}}, 0, {kNoSpace}, 1},
        {"above the space", 90, 100, {11}, {{0}}, 0, {kNoSpace}, 1},
        {"refusal drops the rest", 90, 100, {5, 20, 5}, {{0, 1, 2}}, 1, {kNoSpace}, 2},
        {"duplicate in other case", 0, 1000, {5}, {{0}, {-1}}, 1, {kDuplicate}, 2},
        {"third never asked", 0, 1000, {5, 5}, {{0, -1, 1}}, 1, {kDuplicate}, 2},
        {"ceiling reached exactly", 0, 1ull << 40, {600000000, 400000000, 1}, {{0, 1}, {2}}, 3, {}, 3},
        {"ceiling passed", 0, 1ull << 40, {600000000, 400000001, 1}, {{0, 1}, {2}}, 2, {kCeiling}, 3},
        // Past 4 GiB a file counts whole, also while its row has not started yet.
        {"file past 4 GiB", 0, 1ull << 40, {4294967396, 5}, {{0, 1}}, 1, {kCeiling}, 2},
        {"file past 2 GiB", 0, 1ull << 40, {3000000000, 5}, {{0, 1}}, 1, {kCeiling}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartProvider(c.used, c.total);
        m_provider->State().SetRefuseUploads(true);  // rows stay listed, nothing is sent
        m_files.clear();
        for (uint64_t size : c.sizes) NewFile(size);
        NewPage();
        const size_t before = Requests(protocol::MSG_CODE_REQ_USER_SPACE);
        std::vector<CString> tips;
        for (const auto& add : c.adds) {
            std::vector<CString> paths;
            for (int i : add) {
                CString p = m_files[static_cast<size_t>(i < 0 ? -i - 1 : i)].path;
                if (i < 0) p.MakeUpper();
                paths.push_back(p);
            }
            for (const CString& t : Add(paths)) tips.push_back(t);
        }
        EXPECT_EQ(m_page->m_arrRows.size(), c.rows);
        EXPECT_EQ(m_page->m_nRowCount, static_cast<int32_t>(c.rows));
        for (CUploading* row : m_page->m_arrRows) {
            for (const LocalFile& f : m_files) {
                if (row->m_strFilePath.CompareNoCase(f.path) == 0) {
                    EXPECT_EQ(row->m_nFileSize.load(), f.size);
                }
            }
        }
        ASSERT_EQ(tips.size(), c.tips.size());
        for (size_t i = 0; i < tips.size(); ++i) EXPECT_EQ(W(tips[i]), c.tips[i]);
        EXPECT_EQ(Requests(protocol::MSG_CODE_REQ_USER_SPACE) - before, c.spaceQueries);
        EXPECT_EQ(c.rows == 0 ? EmptyView() : ListView(), true);
        m_page.reset();
        m_provider->Stop();
    }
}

TEST_F(UploadPageTest, FileAnotherProgramReadsIsUploadedAndOneItWritesIsRefused) {
    StartProvider();
    CUpload& page = NewPage();
    // A reader that lets others read too, as a viewer does.
    LocalFile& read = NewFile(70000, L"read.bin");
    HANDLE reader = CreateFileW(read.path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Add({read.path}).empty());
    ASSERT_EQ(page.m_arrRows.size(), 1u);
    CUploading& row = *page.m_arrRows[0];
    ASSERT_TRUE(PumpUntil([&] { return row.State() == CUploading::STATE_DONE; }, 20000));
    EXPECT_TRUE(Holds(row.m_nFileId, read));
    CloseHandle(reader);

    // A file gone, one nobody may read, and one still being written (a download that lets
    // others read and write): a message, the rows as they were, nothing asked.
    LocalFile& locked = NewFile(100, L"locked.bin");
    HANDLE owner = CreateFileW(locked.path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(owner, INVALID_HANDLE_VALUE);
    LocalFile& written = NewFile(100, L"written.bin");
    HANDLE writer = CreateFileW(written.path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    const size_t asked = Requests(protocol::MSG_CODE_REQ_USER_SPACE);
    for (const CString& path : {m_folder.File(L"missing.bin"), locked.path, written.path}) {
        std::vector<CString> tips = Add({path});
        ASSERT_EQ(tips.size(), 1u);
        EXPECT_EQ(W(tips[0]), L"文件读取错误，该文件已被占用、移动或删除。");
        EXPECT_EQ(page.m_arrRows.size(), 1u);
        EXPECT_TRUE(ListView());
    }
    EXPECT_EQ(Requests(protocol::MSG_CODE_REQ_USER_SPACE), asked);
    CloseHandle(owner);
    CloseHandle(writer);
}

TEST_F(UploadPageTest, ViewSwitchesWithTheRows) {
    StartProvider();
    m_provider->State().SetRefuseUploads(true);
    CUpload& page = NewPage();
    EXPECT_TRUE(EmptyView());
    EXPECT_FALSE(page.m_frame.IsWindow());
    page.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(300);
    test_capture::SaveWindow(page, "upload_page_empty");

    // A choice that is cancelled changes nothing.
    Add({});
    EXPECT_TRUE(EmptyView());

    Add({NewFile(100).path});
    EXPECT_TRUE(ListView());
    ASSERT_EQ(page.m_arrRows.size(), 1u);

    // Enter and Escape in the page or a row neither close the page nor cancel the row.
    CUploading* row = page.m_arrRows[0];
    for (HWND target : {page.m_hWnd, row->m_hWnd}) {
        ::SendMessageW(target, WM_COMMAND, IDOK, 0);
        ::SendMessageW(target, WM_COMMAND, IDCANCEL, 0);
    }
    Pump(300);
    EXPECT_TRUE(page.IsWindowVisible());
    ASSERT_EQ(page.m_arrRows.size(), 1u);
    EXPECT_TRUE(row->IsWindowVisible());

    // The cancel link: the row goes once its threads have, and the empty view is back.
    row->SendMessage(WM_COMMAND, MAKEWPARAM(CUploading::IDC_CANCEL, STN_CLICKED),
                     reinterpret_cast<LPARAM>(row->m_lnkCancel.m_hWnd));
    EXPECT_TRUE(PumpUntil([&] { return page.m_arrRows.empty(); }, 10000));
    EXPECT_TRUE(EmptyView());
}

TEST_F(UploadPageTest, RowsStackAndScrollInTheContainer) {
    StartProvider();
    m_provider->State().SetRefuseUploads(true);
    CUpload& page = NewPage();
    std::vector<CString> paths;
    for (int i = 0; i < 8; ++i) paths.push_back(NewFile(64 + i).path);
    Add(paths);
    ASSERT_EQ(page.m_arrRows.size(), 8u);
    Pump(200);

    CRect client;
    page.GetClientRect(&client);
    auto rowRect = [&](size_t i) {
        CRect r;
        page.m_arrRows[i]->GetWindowRect(&r);
        page.m_frame.ScreenToClient(&r);
        return r;
    };
    const int h = rowRect(0).Height();
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(rowRect(i),
                  CRect(1, h * static_cast<int>(i) + 5, client.Width() - 11, h * static_cast<int>(i + 1) + 5))
            << i;
    }
    CScrollHelper& scroll = *page.m_frame.GetScrollHelper();
    EXPECT_EQ(scroll.GetDisplaySize(), CSize(page.m_frame.m_nScrollWidth, h * 8 + 5));

    // One wheel notch over the container scrolls the rows one line up.
    CRect frameRect;
    page.m_frame.GetWindowRect(&frameRect);
    page.m_frame.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA),
                             MAKELPARAM(frameRect.left + 10, frameRect.top + 10));
    Pump(100);
    const int moved = scroll.GetScrollPos().cy;
    EXPECT_GT(moved, 0);
    EXPECT_EQ(rowRect(0).top, 5 - moved);

    // A cancelled row leaves no gap, whatever the scroll position.
    CUploading* second = page.m_arrRows[1];
    second->SendMessage(WM_COMMAND, MAKEWPARAM(CUploading::IDC_CANCEL, STN_CLICKED),
                        reinterpret_cast<LPARAM>(second->m_lnkCancel.m_hWnd));
    ASSERT_TRUE(PumpUntil([&] { return page.m_arrRows.size() == 7; }, 10000));
    for (size_t i = 0; i < 7; ++i)
        EXPECT_EQ(rowRect(i).top, h * static_cast<int>(i) + 5 - scroll.GetScrollPos().cy) << i;
}

TEST_F(UploadPageTest, ReloadBuildsPausedRowsThatResumeFromTheServersOffsets) {
    StartProvider();
    LocalFile& a = NewFile(300000, L"a.bin");
    LocalFile& b = NewFile(200000, L"b.bin");
    LocalFile& c = NewFile(1000, L"c.bin");
    const uint64_t idA = StoreUnfinished(a, 3, {100000, 50000, 0});  // half of it
    const uint64_t idB = StoreUnfinished(b, 2, {25000, 25000});      // a quarter
    StoreUnfinished(c, 1, {1000});                                   // finished: not shown
    CUpload& page = NewPage();
    Reload();
    ASSERT_EQ(page.m_arrRows.size(), 2u);
    EXPECT_TRUE(ListView());
    Pump(200);

    const struct {
        uint64_t id;
        const wchar_t* name;
        const wchar_t* percent;
        const LocalFile* file;
    } expected[] = {{idA, L"a.bin", L"50%", &a}, {idB, L"b.bin", L"25%", &b}};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        CUploading& row = *page.m_arrRows[i];
        EXPECT_EQ(row.State(), CUploading::STATE_RESUMABLE);
        EXPECT_TRUE(row.m_bPause.load());
        EXPECT_EQ(row.m_nFileId.load(), expected[i].id);
        EXPECT_EQ(W(row.m_lnkPauseResume.GetWindowText()), L"续传");
        EXPECT_EQ(W(row.m_stcFileName.GetWindowText()), expected[i].name);
        EXPECT_EQ(W(row.m_strFilePath), W(expected[i].file->path));
        CString percent;
        row.GetDlgItemText(CUploading::IDC_PERCENT, percent);
        EXPECT_EQ(W(percent), expected[i].percent);
        EXPECT_FALSE(row.Busy());
    }
    test_capture::SaveWindow(page, "upload_page_reloaded");

    // Resume: the rest goes from the server's offsets, and the server ends with the file.
    const size_t dataBefore = m_provider->State().RequestsOf(protocol::MSG_CODE_SEND_FILE_DATA).size();
    CUploading& first = *page.m_arrRows[0];
    first.SendMessage(WM_COMMAND, MAKEWPARAM(CUploading::IDC_PAUSE_RESUME, STN_CLICKED),
                      reinterpret_cast<LPARAM>(first.m_lnkPauseResume.m_hWnd));
    ASSERT_TRUE(PumpUntil([&] { return first.State() == CUploading::STATE_DONE; }, 20000));
    protocol::Bytes content;
    ASSERT_TRUE(m_provider->State().Content(idA, content));
    EXPECT_TRUE(content == a.bytes);
    std::vector<provider::ReceivedRequest> data = m_provider->State().RequestsOf(protocol::MSG_CODE_SEND_FILE_DATA);
    // Each segment's first connection starts where the server's list said it stopped.
    std::map<uint32_t, uint32_t> firstOffsets;
    for (size_t i = dataBefore; i < data.size(); ++i) {
        protocol::SegmentRecord record;
        std::memcpy(&record, data[i].bytes.data(), sizeof record);
        firstOffsets.emplace(static_cast<uint32_t>(record.segmentNumber), static_cast<uint32_t>(record.offset));
    }
    EXPECT_EQ(firstOffsets, (std::map<uint32_t, uint32_t>{{0, 100000}, {1, 150000}, {2, 200000}}));

    // "完成" hands the row to the main dialog and takes it off the page.
    CUploading* finished = &first;
    first.SendMessage(WM_COMMAND, MAKEWPARAM(CUploading::IDC_PAUSE_RESUME, STN_CLICKED),
                      reinterpret_cast<LPARAM>(first.m_lnkPauseResume.m_hWnd));
    ASSERT_TRUE(PumpUntil([&] { return page.m_arrRows.size() == 1; }, 5000));
    EXPECT_EQ(s_main->done, std::vector<WPARAM>{reinterpret_cast<WPARAM>(finished)});

    // Cancelling a reloaded row deletes the server's copy.
    CUploading& second = *page.m_arrRows[0];
    second.SendMessage(WM_COMMAND, MAKEWPARAM(CUploading::IDC_CANCEL, STN_CLICKED),
                       reinterpret_cast<LPARAM>(second.m_lnkCancel.m_hWnd));
    ASSERT_TRUE(PumpUntil([&] { return page.m_arrRows.empty(); }, 10000));
    EXPECT_FALSE(m_provider->State().File(idB).has_value());
    EXPECT_TRUE(EmptyView());
}

TEST_F(UploadPageTest, HostileRepliesEndTheReloadCleanly) {
    using Edit = std::function<void(protocol::Bytes&)>;
    const Edit hostWithoutNul = [](protocol::Bytes& reply) {
        if (reply.size() >= 12 + 28) std::memset(reply.data() + 12 + 8, 'A', 20);
    };
    struct Case {
        const char* name;
        uint32_t code;
        provider::Fault fault;
        size_t rows;
        uint32_t segmentsOfRow0;
    };
    auto fault = [](std::function<void(provider::Fault&)> set) {
        provider::Fault f;
        set(f);
        return f;
    };
    const Case cases[] = {
        {"list closed mid-reply", protocol::MSG_CODE_REQ_FILE_LIST, fault([](auto& f) { f.shortBytes = 12 + 100; }), 0,
         0},
        {"list of huge length", protocol::MSG_CODE_REQ_FILE_LIST, fault([](auto& f) { f.bodyLength = 0xFFFFFFF0u; }), 0,
         0},
        {"list count beyond the body", protocol::MSG_CODE_REQ_FILE_LIST, fault([](auto& f) { f.count = 1000; }), 2, 3},
        {"file server closed mid-reply", protocol::MSG_CODE_REQ_FILE_SERVER, fault([](auto& f) { f.shortBytes = 20; }),
         0, 0},
        {"host without NUL", protocol::MSG_CODE_REQ_FILE_SERVER, fault([&](auto& f) { f.editReply = hostWithoutNul; }),
         2, 3},
        {"segment list closed mid-reply", protocol::MSG_CODE_REQ_UPLOAD_INFO, fault([](auto& f) { f.shortBytes = 30; }),
         1, 0},
        {"segment count beyond the body", protocol::MSG_CODE_REQ_UPLOAD_INFO, fault([](auto& f) { f.count = 400; }), 2,
         3},
        {"silent list", protocol::MSG_CODE_REQ_FILE_LIST, fault([](auto& f) { f.stall = true; }), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartProvider();
        m_files.clear();
        LocalFile& a = NewFile(3000, L"a.bin");
        LocalFile& b = NewFile(2000, L"b.bin");
        StoreUnfinished(a, 3, {10, 10, 10});
        StoreUnfinished(b, 2, {10, 10});
        m_provider->State().SetFault(c.code, c.fault);
        CUpload& page = NewPage();
        Reload();
        ASSERT_EQ(page.m_arrRows.size(), c.rows);
        if (c.rows) {
            EXPECT_EQ(page.m_arrRows[0]->m_nThreadCount.load(), static_cast<int32_t>(c.segmentsOfRow0));
            EXPECT_EQ(page.m_arrRows[0]->State(), CUploading::STATE_RESUMABLE);
            EXPECT_LE(page.m_arrRows[0]->m_strHost.GetLength(), 20);
        }
        EXPECT_EQ(c.rows ? ListView() : EmptyView(), true);
        m_page.reset();
        m_provider->Stop();
    }
}

TEST_F(UploadPageTest, ElevenSegmentsAreCutToTheTenARowHolds) {
    StartProvider();
    LocalFile& a = NewFile(11000, L"eleven.bin");
    StoreUnfinished(a, 11, std::vector<uint32_t>(11, 500));
    CUpload& page = NewPage();
    Reload();
    ASSERT_EQ(page.m_arrRows.size(), 1u);
    EXPECT_EQ(page.m_arrRows[0]->m_nThreadCount.load(), 10);
    EXPECT_EQ(page.m_arrRows[0]->BytesDone(), 5000u);
}

TEST_F(UploadPageTest, QuotaLine) {
    StartProvider(1500000000, 10000000000);
    CUpload& page = NewPage();
    page.ShowSpaceInfo();
    EXPECT_EQ(W(page.m_stcQuota.GetWindowText()), L"● 空间信息: 10.0GB(已使用1.5GB,15%)");
    EXPECT_EQ(g_LoginSession.m_nTotalSpace, 10000000000u);

    // A server that accepts and never answers: the page waits for the time-out only, then
    // shows no share of a total it does not know.
    provider::Fault silent;
    silent.stall = true;
    m_provider->State().SetFault(protocol::MSG_CODE_REQ_USER_SPACE, silent);
    page.ShowSpaceInfo();
    EXPECT_EQ(W(page.m_stcQuota.GetWindowText()), L"● 空间信息: 0B(已使用0B)");
    EXPECT_EQ(g_LoginSession.m_nTotalSpace, 0u);
}

TEST_F(UploadPageTest, FloatingWindowGetsTheRowsInTurn) {
    StartProvider();
    m_provider->State().SetRefuseUploads(true);
    // The floating window keeps its place in .\Setting.ini of the working folder.
    TempWorkingFolder folder;
    CFloatWnd floating(s_main);
    ASSERT_TRUE(floating.Create(CFloatWnd::IDD, s_main));
    CUpload& page = NewPage();
    page.SetFloatWnd(&floating);

    page.SendMessage(WM_TIMER, CUpload::kTimerId);
    EXPECT_EQ(W(floating.GetFirstText()), L"");
    EXPECT_EQ(W(floating.GetStatusLine()), L"");

    Add({NewFile(10, L"one.bin").path, NewFile(10, L"two.bin").path});
    ASSERT_EQ(page.m_arrRows.size(), 2u);
    Pump(300);
    page.m_arrRows[0]->m_strSpeed = L"1.0KB/s";
    page.m_arrRows[0]->m_strRemain = L"00:00:11";
    page.m_arrRows[1]->m_strSpeed = L"2.0KB/s";
    page.m_arrRows[1]->m_strRemain = L"00:00:22";
    std::vector<std::wstring> current;
    for (int tick = 0; tick < 3; ++tick) {
        page.SendMessage(WM_TIMER, CUpload::kTimerId);
        current.push_back(W(floating.GetStatusLine()));
    }
    EXPECT_EQ(current, (std::vector<std::wstring>{L"00:00:11", L"00:00:22", L"00:00:11"}));
    EXPECT_EQ(W(floating.GetFirstText()),
              L"文件名：one.bin速度：1.0KB/s剩余：00:00:11\n\r"
              L"文件名：two.bin速度：2.0KB/s剩余：00:00:22\n\r");
    m_page.reset();
    floating.DestroyWindow();
}

TEST_F(UploadPageTest, ClosingThePageStopsRunningRowsAndKeepsWhatTheServerHolds) {
    StartProvider();
    m_provider->State().SetThrottle(64 * 1024, true);
    CUpload& page = NewPage();
    // Three states at once: paused (rebuilt from the server), uploading and waiting for a retry.
    LocalFile& paused = NewFile(50000, L"paused.bin");
    StoreUnfinished(paused, 2, {10000, 5000});
    Reload();
    LocalFile& big = NewFile(1 << 20, L"running.bin");
    LocalFile& refused = NewFile(1000, L"other.bin");
    Add({big.path});
    ASSERT_TRUE(PumpUntil([&] { return page.m_arrRows[1]->BytesDone() > 0; }, 10000));
    m_provider->State().SetRefuseUploads(true);
    Add({refused.path});
    ASSERT_EQ(page.m_arrRows.size(), 3u);
    PumpUntil([&] { return page.m_arrRows[2]->LinkShows() == CUploading::LINK_RETRY; }, 5000);
    Pump(1200);
    test_capture::SaveWindow(page, "upload_page_three_rows");

    page.DestroyWindow();
    EXPECT_TRUE(page.m_arrRows.empty());
    EXPECT_EQ(Requests(protocol::MSG_CODE_REQ_DELETE_FILE), 0u);
    EXPECT_EQ(m_provider->State().Files().size(), 2u);
}

// The real open-file dialog, driven from a timer on this thread: the name goes into its edit
// field and OK is pressed.
struct FileDialogDriver {
    static inline CString s_path;
    static inline bool s_done = false;
    static BOOL CALLBACK Visit(HWND h, LPARAM) {
        wchar_t cls[32] = {};
        GetClassNameW(h, cls, 32);
        if (std::wstring(cls) != L"#32770" || !IsWindowVisible(h) || GetDlgItem(h, 1044)) return TRUE;
        // The name field: the combo box of the explorer-style dialog, or its plain edit.
        HWND name = GetDlgItem(h, cmb13);
        if (!name) name = GetDlgItem(h, edt1);
        if (!name) return TRUE;
        SetWindowTextW(name, s_path);
        PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(h, IDOK)));
        s_done = true;
        return FALSE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (!s_done) EnumThreadWindows(GetCurrentThreadId(), &Visit, 0);
    }
};

TEST_F(UploadPageTest, RealFileDialogAddsTheChosenFile) {
    StartProvider();
    m_provider->State().SetRefuseUploads(true);
    CUpload& page = NewPage();
    CUpload::Chooser() = nullptr;
    LocalFile& file = NewFile(4000, L"chosen.bin");
    FileDialogDriver::s_path = file.path;
    FileDialogDriver::s_done = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 200, &FileDialogDriver::Tick);
    page.SendMessage(WM_COMMAND, MAKEWPARAM(CUpload::IDC_BROWSE, BN_CLICKED),
                     reinterpret_cast<LPARAM>(page.m_btnBrowse.m_hWnd));
    KillTimer(nullptr, timer);
    EXPECT_TRUE(FileDialogDriver::s_done);
    ASSERT_EQ(page.m_arrRows.size(), 1u);
    EXPECT_EQ(W(page.m_arrRows[0]->m_strFilePath).size(), W(file.path).size());
    EXPECT_EQ(page.m_arrRows[0]->m_strFilePath.CompareNoCase(file.path), 0);
    EXPECT_EQ(W(page.m_arrRows[0]->m_stcFileName.GetWindowText()), L"chosen.bin");
}

}  // namespace
