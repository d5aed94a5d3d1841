#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "client/app/CAppSettings.h"
#include "client/session/CLoginSession.h"
#include "client/transfer/SocketFunctions.h"
#include "client/transfer/CUploading.h"
#include "client/windows/NetworkState.h"
#include "client/windows/RowText.h"
#include "provider/Provider.h"
#include "tests/support/UploadTestSupport.h"
#include "tests/support/Capture.h"
#include "tests/support/TipsWatch.h"

namespace {

testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new upload_test::WindowNetworkEnvironment);

const uint64_t kUserId = 78;

upload_test::Addresses g_addresses("127.0.31.");

// The upload page as far as a row sees it: takes the row's reports and, like the page, deletes
// a finished or cancelled row while the report is being handled.
class TestPage : public CWnd {
public:
    struct Report {
        UINT message;
        WPARAM row;
    };
    std::vector<Report> reports;
    bool deleteRows = false;

protected:
    LRESULT OnDone(WPARAM row, LPARAM) { return Take(WM_UPLOAD_DONE, row); }
    LRESULT OnCancelled(WPARAM row, LPARAM) { return Take(WM_UPLOAD_CANCELLED, row); }
    LRESULT Take(UINT message, WPARAM row) {
        reports.push_back({message, row});
        if (deleteRows) delete reinterpret_cast<CUploading*>(row);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestPage, CWnd)
    ON_MESSAGE(WM_UPLOAD_DONE, &TestPage::OnDone)
    ON_MESSAGE(WM_UPLOAD_CANCELLED, &TestPage::OnCancelled)
END_MESSAGE_MAP()

// Dispatches this thread's messages until `done` holds or `ms` pass.
bool Pump(const std::function<bool()>& done, int ms = 10000) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (GetTickCount() - start > static_cast<DWORD>(ms)) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}
void PumpAll() {
    Pump([] { return false; }, 50);
}

CString TextOf(CUploading& row, int id) {
    CString text;
    row.GetDlgItemText(id, text);
    return text;
}

// A click on one of the row's links, as the link reports it.
void Click(CUploading& row, int id) {
    row.SendMessage(WM_COMMAND, MAKEWPARAM(id, STN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(row, id)));
}

class RowWindowTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(s_page && s_page->m_hWnd);
        g_Settings.m_nMaxSendFileThread = 5;
        g_Settings.SetServerPort(protocol::kControlPort);
        g_LoginSession.m_nUserId = kUserId;
        m_page.reports.clear();
        m_page.deleteRows = false;
    }
    void TearDown() override {
        m_row.reset();
        if (m_provider) m_provider->Stop();
    }
    // One page for all: under Wine a visible top-level window takes seconds to destroy.
    static void SetUpTestSuite() {
        s_page = new TestPage;
        test_capture::CreatePlainWindow(*s_page, L"FerrantRowTestPage", CRect(0, 0, 640, 240));
    }
    static void TearDownTestSuite() {
        delete s_page;
        s_page = nullptr;
    }

    // A row made as the page makes it: constructed, created from its template inside the page.
    CUploading& NewRow(const CString& path = L"C:\\some\\where\\name.bin") {
        m_row.reset(new CUploading(path, path, 0, m_host, protocol::kControlPort));
        EXPECT_TRUE(m_row->Create(CUploading::IDD, &m_page));
        m_row->SetParentPage(m_page.m_hWnd);
        m_row->MoveWindow(0, 0, 600, 80);
        m_row->ShowWindow(SW_SHOW);
        PumpAll();
        return *m_row;
    }
    void StartProvider(bool run = true) {
        m_address = g_addresses.Next();
        m_host = upload_test::Wide(m_address);
        g_Settings.m_strServerAddr = m_host;
        m_provider = upload_test::NewProvider(m_address, "window@example.com", kUserId, 9);
        if (run) {
            ASSERT_TRUE(m_provider->Start(m_address));
        }
    }
    bool HoldsExactly(uint64_t fileId, const TempFile& file) {
        return upload_test::HoldsExactly(*m_provider, fileId, file);
    }
    // A row whose upload of `file` runs slowly (200 KB/s) and has sent some bytes.
    CUploading& StartSlowly(const TempFile& file) {
        StartProvider();
        m_provider->State().SetThrottle(200000, true);
        CUploading& row = NewRow(file.path);
        row.PostMessage(WM_START_UPLOAD, reinterpret_cast<WPARAM>(new CString(file.path)));
        EXPECT_TRUE(Pump([&] { return row.BytesDone() > 0; }, 20000));
        return row;
    }

    static TestPage* s_page;
    TestPage& m_page = *s_page;
    std::unique_ptr<CUploading> m_row;
    std::unique_ptr<provider::Provider> m_provider;
    std::string m_address = "127.0.31.250";
    CString m_host = L"127.0.31.250";
};

TestPage* RowWindowTest::s_page = nullptr;

struct Shown {
    const wchar_t *done, *percent, *speed, *remain;
};
std::wstring W(const CString& s) { return std::wstring(static_cast<LPCWSTR>(s)); }
void ExpectShown(CUploading& row, const Shown& s) {
    EXPECT_EQ(W(TextOf(row, CUploading::IDC_DONE)), s.done);
    EXPECT_EQ(W(TextOf(row, CUploading::IDC_PERCENT)), s.percent);
    EXPECT_EQ(W(TextOf(row, CUploading::IDC_SPEED)), s.speed);
    EXPECT_EQ(W(TextOf(row, CUploading::IDC_REMAIN)), s.remain);
    // The page reads the row's texts from its timer.
    EXPECT_EQ(W(row.m_strSpeed), s.speed);
    EXPECT_EQ(W(row.m_strRemain), s.remain);
}

TimeValue SecondsFromNow(int seconds) {
    TimeValue t = {};
    TimeOfDay(&t);
    t.tv_sec += seconds;
    return t;
}

TEST_F(RowWindowTest, RunningDisplayFromNumbers) {
    const uint64_t MiB = 1048576;
    struct Case {
        const char* name;
        uint64_t size, done, base;
        int startIn;  // seconds from now
        bool fromWorker;
        Shown shown;
    } cases[] = {
        // No time elapsed yet: speed -1, no remaining time.
        {"elapsed 0", 4096, 1023, 0, 3600, false, {L"1023.0B", L"24%", L"-1.0B/s", L"00:00:00"}},
        {"100 s at 1.5 MiB/s", 300 * MiB, 150 * MiB, 0, -100, true, {L"150.0MB", L"50%", L"1.5MB/s", L"00:01:40"}},
        {"base taken off", 300 * MiB, 200 * MiB, 50 * MiB, -100, true, {L"200.0MB", L"66%", L"1.5MB/s", L"00:01:06"}},
        {"done above size", 4096, 5000, 0, -10, false, {L"4.9KB", L"100%", L"500.0B/s", L"00:00:00"}},
        {"empty file", 0, 0, 0, -10, false, {L"0.0B", L"100%", L"0.0B/s", L"00:00:00"}},
    };
    CUploading& row = NewRow();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        row.SetDlgItemText(CUploading::IDC_PERCENT, L"before");
        row.m_nFileSize = c.size;
        const TimeValue start = SecondsFromNow(c.startIn);
        if (c.fromWorker) {
            std::thread([&] { row.UpdateProgress(start, c.done, c.base); }).join();
            // The worker only handed numbers over: the texts change on the window's thread.
            EXPECT_EQ(TextOf(row, CUploading::IDC_PERCENT), L"before");
            PumpAll();
        } else {
            row.UpdateProgress(start, c.done, c.base);
        }
        ExpectShown(row, c.shown);
        const int percent = std::stoi(std::wstring(static_cast<LPCWSTR>(c.shown.percent)));
        EXPECT_EQ(row.m_progress.GetPos(), percent);
    }
}

TEST_F(RowWindowTest, FinalDisplayFromTheSegments) {
    g_Settings.m_nMaxSendFileThread = 10;
    CUploading& row = NewRow();
    struct Case {
        const char* name;
        uint64_t size;
        uint32_t done0, done1;
        uint64_t base;  // nothing sent since the last display, whenever the second turns
        Shown shown;
    } cases[] = {
        // A row that never ran has no time to measure a speed over: none, and no time left.
        {"first", 4 * 1048576, 1048575, 1, 0, {L"1.0MB", L"25%", L"0.0B/s", L"00:00:00"}},
        // Done above the size leaves the last display as it was.
        {"above size", 1000, 3000, 0, 3000, {L"1.0MB", L"25%", L"0.0B/s", L"00:00:00"}},
        {"empty file", 0, 0, 0, 0, {L"0.0B", L"100%", L"0.0B/s", L"00:00:00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        row.m_nFileSize = c.size;
        row.m_nBaseDone = c.base;
        row.m_nThreadCount = 2;
        row.SetTransferData(0, 1, 2, 3, 0, 0, c.done0, 0);
        row.SetTransferData(1, 1, 2, 3, 1, 0, c.done1, 0);
        std::thread([&] { row.ShowFinalProgress(); }).join();
        PumpAll();
        ExpectShown(row, c.shown);
    }
    // The row's timer shows the same display from the segments.
    row.m_nFileSize = 4 * 1048576;
    row.SetTransferData(0, 1, 2, 3, 0, 0, 2 * 1048576, 0);
    row.SetTransferData(1, 1, 2, 3, 1, 0, 0, 0);
    row.SendMessage(WM_TIMER, 1);
    PumpAll();
    EXPECT_EQ(W(TextOf(row, CUploading::IDC_DONE)), L"2.0MB");
    EXPECT_EQ(W(TextOf(row, CUploading::IDC_PERCENT)), L"50%");
}

TEST_F(RowWindowTest, LinkTextsFollowTheEngine) {
    CUploading& row = NewRow();
    EXPECT_TRUE(row.m_lnkPauseResume.GetStyle() & SS_NOTIFY);
    EXPECT_TRUE(row.m_lnkCancel.GetStyle() & SS_NOTIFY);
    const struct {
        uint32_t link;
        const wchar_t* text;
    } cases[] = {
        {CUploading::LINK_RETRY, L"重传"},
        {CUploading::LINK_RESUME, L"续传"},
        {CUploading::LINK_PAUSE, L"暂停"},
        {CUploading::LINK_DONE, L"完成"},
    };
    for (const auto& c : cases) {
        std::thread([&] { row.OnLinkChanged(c.link, true); }).join();
        PumpAll();
        EXPECT_EQ(row.m_lnkPauseResume.GetWindowText(), c.text);
        EXPECT_TRUE(row.m_lnkPauseResume.IsWindowVisible());
    }
    std::thread([&] { row.OnCancelLinkEnabled(false); }).join();
    PumpAll();
    EXPECT_FALSE(row.m_lnkCancel.IsWindowEnabled());
}

TEST_F(RowWindowTest, PauseClickShowsNoSpeed) {
    CUploading& row = NewRow();
    row.m_nFileSize = 4096;
    row.UpdateProgress(SecondsFromNow(-10), 2048, 0);
    ASSERT_EQ(TextOf(row, CUploading::IDC_SPEED), L"204.8B/s");
    Click(row, CUploading::IDC_PAUSE_RESUME);
    EXPECT_TRUE(row.m_bPause.load());
    EXPECT_EQ(TextOf(row, CUploading::IDC_SPEED), L"0B/s");
    EXPECT_EQ(TextOf(row, CUploading::IDC_REMAIN), L"00:00:00");
    EXPECT_EQ(row.m_strSpeed, L"0B/s");
    EXPECT_EQ(row.m_strRemain, L"00:00:00");
    // The segments report on until they notice the pause: the bytes move, the speed stays none.
    row.UpdateProgress(SecondsFromNow(-10), 3072, 0);
    ExpectShown(row, {L"3.0KB", L"75%", L"0B/s", L"00:00:00"});
    // Running again in state 0: nothing is started for it.
    Click(row, CUploading::IDC_PAUSE_RESUME);
    EXPECT_FALSE(row.m_bPause.load());
    EXPECT_FALSE(row.Busy());
}

// A row paused in its first run: its last display shows what the server holds, and no speed and
// no time left, as the pause click did (never a speed measured from time 0).
TEST_F(RowWindowTest, PausedFirstRunEndsWithoutSpeed) {
    TempFile file(4000000);
    CUploading& row = StartSlowly(file);
    ASSERT_GT(row.BytesDone(), 0u);
    Click(row, CUploading::IDC_PAUSE_RESUME);
    ASSERT_TRUE(Pump([&] { return row.m_lnkPauseResume.GetWindowText() == L"续传" && !row.Busy(); }, 30000));
    PumpAll();
    ASSERT_EQ(row.State(), CUploading::STATE_RESUMABLE);
    const uint64_t held = row.FinalBytesDone();
    ASSERT_GT(held, 0u);
    ASSERT_LT(held, file.bytes.size());
    const std::wstring done = rowtext::Done(held);
    const std::wstring percent = rowtext::Percent(rowtext::RunPercent(held, file.bytes.size()));
    ExpectShown(row, {done.c_str(), percent.c_str(), L"0B/s", L"00:00:00"});
    m_provider->State().SetThrottle(0, true);
}

// '&' is a character of the name: drawn and measured as it is, never an underline.
TEST_F(RowWindowTest, AmpersandInANameShowsAsItIs) {
    const CString name = L"a&b c.txt";
    CUploading& row = NewRow(CString(L"C:\\folder\\") + name);
    CWnd& label = row.m_stcFileName;
    row.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE | RDW_ALLCHILDREN);
    EXPECT_EQ(label.GetWindowText(), name);  // measured whole, so not cut
    CRect client;
    label.GetClientRect(&client);
    HDC dc = ::GetDC(label.m_hWnd);
    const test_capture::Pixels shown = test_capture::ReadDC(dc, client.Width(), client.Height());
    // The literal text in the label's font and colours, as a label without prefixes draws it.
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.Width(), client.Height());
    HGDIOBJ oldBitmap = SelectObject(mem, bitmap);
    HGDIOBJ oldFont = SelectObject(mem, reinterpret_cast<HFONT>(label.SendMessage(WM_GETFONT)));
    FillRect(mem, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(mem, RGB(0, 0, 0));
    SetBkColor(mem, RGB(255, 255, 255));
    DrawTextW(mem, name, -1, &client, DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    const test_capture::Pixels literal = test_capture::ReadDC(mem, client.Width(), client.Height());
    SelectObject(mem, oldFont);
    SelectObject(mem, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(mem);
    ::ReleaseDC(label.m_hWnd, dc);
    size_t differing = 0;
    for (size_t i = 0; i < shown.px.size(); ++i) differing += shown.px[i] != literal.px[i];
    EXPECT_EQ(differing, 0u) << "of " << shown.px.size() << " pixels";
}

// The longest remaining time a row shows fits its label in the row's own font.
TEST_F(RowWindowTest, LongestRemainingTimeFitsItsLabel) {
    CUploading& row = NewRow();
    // A terabyte at a byte a second: far above the cap.
    row.m_nFileSize = 1000000000000ull;
    row.UpdateProgress(SecondsFromNow(-1), 1, 0);
    const std::wstring longest = rowtext::Clock(rowtext::kMaxRemainingSeconds);
    ASSERT_EQ(W(TextOf(row, CUploading::IDC_REMAIN)), longest);
    CWnd& label = row.m_stcRemain;
    CRect client;
    label.GetClientRect(&client);
    HDC dc = ::GetDC(label.m_hWnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(label.SendMessage(WM_GETFONT)));
    auto width = [&](const std::wstring& s) {
        SIZE size = {};
        GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
        return static_cast<int>(size.cx);
    };
    // Any shorter time is no wider than the cap's shape in the font's widest digit.
    wchar_t widest = L'0';
    for (wchar_t d = L'1'; d <= L'9'; ++d)
        if (width(std::wstring(1, d)) > width(std::wstring(1, widest))) widest = d;
    std::wstring worst = longest;
    for (wchar_t& c : worst)
        if (c != L':') c = widest;
    EXPECT_LE(width(longest), client.Width());
    EXPECT_LE(width(worst), client.Width()) << "widest digit " << static_cast<char>(widest);
    SelectObject(dc, old);
    ::ReleaseDC(label.m_hWnd, dc);
}

TEST_F(RowWindowTest, NameFitsTheLabelInItsOwnFont) {
    // '&' measured as a prefix would make the second name seem narrower than it shows.
    const wchar_t* const names[] = {L"abcdefghijklmnopqrstuvwxyz-0123456789-abcdefghijklmnopqrstuvwxyz.bin",
                                    L"a&b&c&d&e&f&g&h&i&j-0123456789&&xyz.bin"};
    for (const CString name : names) {
        SCOPED_TRACE(W(name));
        CUploading& row = NewRow(CString(L"C:\\folder\\") + name);
        CWnd& label = row.m_stcFileName;
        HDC dc = ::GetDC(label.m_hWnd);
        SIZE plain = {};
        GetTextExtentPoint32W(dc, name, name.GetLength(), &plain);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(label.SendMessage(WM_GETFONT)));
        SIZE own = {};
        GetTextExtentPoint32W(dc, name, name.GetLength(), &own);
        auto width = [&](const CString& s) {
            SIZE size = {};
            GetTextExtentPoint32W(dc, s, s.GetLength(), &size);
            return static_cast<int>(size.cx);
        };
        // The check means something only while the fonts differ.
        ASSERT_NE(plain.cx, own.cx);
        CRect r;
        label.GetWindowRect(&r);
        row.ScreenToClient(&r);
        for (int extra : {0, -1, 40}) {
            SCOPED_TRACE(extra);
            label.MoveWindow(r.left, r.top, own.cx + extra, r.Height());
            row.RedrawWindow();
            const CString shown = label.GetWindowText();
            if (extra >= 0) {
                EXPECT_EQ(W(shown), W(name));
            } else {
                ASSERT_GT(shown.GetLength(), 3);
                EXPECT_EQ(W(shown.Right(3)), L"...");
                EXPECT_EQ(W(name.Left(shown.GetLength() - 3)), W(shown.Left(shown.GetLength() - 3)));
                EXPECT_LE(width(shown), own.cx + extra);
            }
        }
        SelectObject(dc, old);
        ::ReleaseDC(label.m_hWnd, dc);
    }
}

TEST_F(RowWindowTest, ColoursAndTheLineBelow) {
    CUploading& row = NewRow();
    const struct {
        int id;
        COLORREF text;
    } cases[] = {
        {CUploading::IDC_FILE_NAME, RGB(0, 0, 0)},
        {CUploading::IDC_DONE, RGB(118, 132, 151)},
        {CUploading::IDC_DONE_CAPTION, RGB(118, 132, 151)},
        {CUploading::IDC_SPEED, RGB(118, 132, 151)},
        {CUploading::IDC_SPEED_CAPTION, RGB(118, 132, 151)},
        {CUploading::IDC_REMAIN, RGB(118, 132, 151)},
        {CUploading::IDC_REMAIN_CAPTION, RGB(118, 132, 151)},
    };
    HDC dc = CreateCompatibleDC(nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        SetTextColor(dc, RGB(1, 2, 3));
        SetBkColor(dc, RGB(1, 2, 3));
        auto brush = reinterpret_cast<HBRUSH>(row.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                              reinterpret_cast<LPARAM>(::GetDlgItem(row, c.id))));
        EXPECT_EQ(GetTextColor(dc), c.text);
        EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
        LOGBRUSH lb = {};
        ASSERT_TRUE(GetObjectW(brush, sizeof lb, &lb));
        EXPECT_EQ(lb.lbColor, RGB(255, 255, 255));
    }
    DeleteDC(dc);

    CRect client;
    row.GetClientRect(&client);
    row.RedrawWindow();
    HDC wdc = ::GetDC(row);
    EXPECT_EQ(GetPixel(wdc, client.Width() / 2, client.bottom - 1), RGB(220, 220, 220));
    EXPECT_EQ(GetPixel(wdc, 0, client.bottom - 1), RGB(220, 220, 220));
    EXPECT_EQ(GetPixel(wdc, client.Width() / 2, client.bottom - 2), RGB(255, 255, 255));
    ::ReleaseDC(row, wdc);
}

TEST_F(RowWindowTest, FileErrorBoxStartsNothing) {
    StartProvider();
    TempFile locked(1000), written(1000);
    const wchar_t kBusy[] = L"文件读取错误，该文件已被占用、移动或删除。";
    const wchar_t kGone[] = L"文件读取错误，请确认该文件是否移动或被删除。";
    const CString gone = L"C:\\no\\such.bin";
    struct Case {
        const char* name;
        uint32_t state;
        bool viaStart;  // the upload thread's own open at the start, else a click
        const CString& path;
        const wchar_t* text;
    } cases[] = {
        {"retry, file gone", CUploading::STATE_RETRY, false, gone, kBusy},
        {"retry, file being written", CUploading::STATE_RETRY, false, written.path, kBusy},
        {"resume, file locked", CUploading::STATE_RESUMABLE, false, locked.path, kBusy},
        {"resume, file being written", CUploading::STATE_RESUMABLE, false, written.path, kBusy},
        {"start, file gone", CUploading::STATE_UPLOADING, true, gone, kGone},
        {"start, file being written", CUploading::STATE_UPLOADING, true, written.path, kGone},
    };
    HANDLE hold = CreateFileW(locked.path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    // A download in progress: it lets others read and write.
    HANDLE writer = CreateFileW(written.path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CString& path = c.path;
        CUploading& row = NewRow(path);
        TipsWatch watch;
        if (c.viaStart) {
            row.PostMessage(WM_START_UPLOAD, reinterpret_cast<WPARAM>(new CString(path)));
            EXPECT_TRUE(Pump([&] { return watch.seen > 0; }));
        } else {
            row.m_nState = c.state;
            row.m_bPause = true;
            Click(row, CUploading::IDC_PAUSE_RESUME);  // returns once the box is closed
        }
        EXPECT_EQ(watch.seen, 1);
        EXPECT_EQ(watch.title, L"文件读取错误");
        EXPECT_EQ(watch.text, c.text);
        EXPECT_EQ(watch.ok, L"确定");
        EXPECT_EQ(watch.cancel, L"取消");
        EXPECT_TRUE(Pump([&] { return !row.Busy(); }));
        EXPECT_EQ(row.State(), c.state);
        // A failed resume stays paused, so the next click tries again.
        if (c.state == CUploading::STATE_RESUMABLE) {
            EXPECT_TRUE(row.m_bPause.load());
        }
    }
    CloseHandle(hold);
    CloseHandle(writer);
    EXPECT_TRUE(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_SERVER_LIST).empty());
    EXPECT_TRUE(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_UPLOAD_INFO).empty());
}

TEST_F(RowWindowTest, RetryWithoutNetworkSaysSoAndStartsNothing) {
    StartProvider();
    TempFile file(1000);
    struct Offline {
        Offline() : previous(std::exchange(ConnectionProbe(), [] { return false; })) {}
        ~Offline() { ConnectionProbe() = previous; }
        NetworkProbe previous;
    } offline;
    CUploading& row = NewRow(file.path);
    TipsWatch watch;
    row.m_nState = CUploading::STATE_RETRY;
    Click(row, CUploading::IDC_PAUSE_RESUME);  // returns once the box is closed
    EXPECT_EQ(watch.seen, 1);
    EXPECT_EQ(watch.text, L"网络无连接，请联网后重试。");
    EXPECT_FALSE(row.Busy());
    EXPECT_EQ(row.State(), CUploading::STATE_RETRY);
    EXPECT_TRUE(m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_SERVER_LIST).empty());
}

TEST_F(RowWindowTest, UploadThroughTheWindowEndsDoneAndHandsTheRowOver) {
    struct Case {
        const char* name;
        bool serverDownFirst;
    } cases[] = {{"direct", false}, {"after a retry", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartProvider(!c.serverDownFirst);
        TempFile file(300000);
        CUploading& row = NewRow(file.path);
        row.PostMessage(WM_START_UPLOAD, reinterpret_cast<WPARAM>(new CString(file.path)));
        if (c.serverDownFirst) {
            ASSERT_TRUE(Pump([&] { return row.m_lnkPauseResume.GetWindowText() == L"重传" && !row.Busy(); }, 30000));
            EXPECT_EQ(row.State(), CUploading::STATE_RETRY);
            ASSERT_TRUE(m_provider->Start(m_address));
            Click(row, CUploading::IDC_PAUSE_RESUME);
        }
        ASSERT_TRUE(Pump([&] { return row.m_lnkPauseResume.GetWindowText() == L"完成" && !row.Busy(); }, 60000));
        PumpAll();  // whatever the upload thread posted last
        EXPECT_EQ(row.State(), CUploading::STATE_DONE);
        EXPECT_EQ(TextOf(row, CUploading::IDC_PERCENT), L"100%");
        EXPECT_EQ(TextOf(row, CUploading::IDC_DONE), L"293.0KB");
        EXPECT_EQ(TextOf(row, CUploading::IDC_REMAIN), L"00:00:00");
        EXPECT_FALSE(row.m_lnkCancel.IsWindowEnabled());
        EXPECT_TRUE(HoldsExactly(row.m_nFileId, file));
        if (!c.serverDownFirst) {
            row.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE | RDW_ALLCHILDREN);
            test_capture::SaveWindow(row.m_hWnd, "upload_row_done");
        }

        // The click hands the finished row to the page, which deletes it before the send returns.
        m_page.reports.clear();
        m_page.deleteRows = true;
        CUploading* released = m_row.release();
        Click(*released, CUploading::IDC_PAUSE_RESUME);
        Click(*released, CUploading::IDC_PAUSE_RESUME);  // a second click before the page took it
        Pump([&] { return !m_page.reports.empty(); });
        PumpAll();
        m_page.deleteRows = false;
        ASSERT_EQ(m_page.reports.size(), 1u);
        EXPECT_EQ(m_page.reports[0].message, static_cast<UINT>(WM_UPLOAD_DONE));
        EXPECT_EQ(m_page.reports[0].row, reinterpret_cast<WPARAM>(released));
        m_provider->Stop();
    }
}

TEST_F(RowWindowTest, CancelLinkRemovesTheRow) {
    TempFile file(4000000);
    CUploading& row = StartSlowly(file);
    ASSERT_GT(row.BytesDone(), 0u);
    const uint64_t fileId = row.m_nFileId;
    m_page.deleteRows = true;
    CUploading* released = m_row.release();
    Click(*released, CUploading::IDC_CANCEL);
    ASSERT_TRUE(Pump([&] { return !m_page.reports.empty(); }, 30000));
    EXPECT_EQ(m_page.reports[0].message, static_cast<UINT>(WM_UPLOAD_CANCELLED));
    EXPECT_EQ(m_page.reports[0].row, reinterpret_cast<WPARAM>(released));
    ASSERT_TRUE(m_provider->State().WaitForRequests(protocol::MSG_CODE_REQ_DELETE_FILE, 1, 5000));
    protocol::UserFileRequest q = {};
    const auto deletes = m_provider->State().RequestsOf(protocol::MSG_CODE_REQ_DELETE_FILE);
    std::memcpy(&q, deletes[0].bytes.data(), std::min(deletes[0].bytes.size(), sizeof q));
    EXPECT_EQ(q.fileId, fileId);
    m_provider->State().SetThrottle(0, true);
}

}  // namespace
