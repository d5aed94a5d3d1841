#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "client/app/CAppSettings.h"
#include "client/session/CLoginSession.h"
#include "client/windows/CTabUploaded.h"
#include "provider/Provider.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"
#include "tests/support/TipsWatch.h"
#include "tests/support/UploadTestSupport.h"

namespace {

testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new upload_test::WindowNetworkEnvironment);

const uint64_t kUserId = 57;
const uint32_t kFileServerId = 7;

upload_test::Addresses g_controls("127.0.34.");
upload_test::Addresses g_fileServers("127.0.35.");

using test_capture::Pump;
using test_capture::PumpUntil;

std::wstring W(const CString& s) { return std::wstring(static_cast<LPCWSTR>(s)); }
std::wstring Widen(const std::string& utf8) {
    CString out;
    Utf8ToWide(utf8.c_str(), out);
    return W(out);
}

struct Stored {
    const char* name;  // UTF-8
    uint64_t size;
    uint16_t hours;
    bool finished;
};

// Sorting needs every key twice and names that differ only in case.
const Stored kFiveFiles[] = {
    {"beta.txt", 300, 10, true},  {"Alpha.doc", 100, 50, true}, {"alpha.doc", 300, 5, true},
    {"gamma.zip", 200, 50, true}, {"delta.rar", 100, 20, true},
};

class TestMain : public CWnd {};

class UploadedTabTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_main = new TestMain;
        test_capture::CreatePlainWindow(*s_main, L"FerrantUploadedTestMain", CRect(0, 0, 560, 460));
    }
    static void TearDownTestSuite() {
        delete s_main;
        s_main = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_main && s_main->m_hWnd);
        g_Settings.SetServerPort(protocol::kControlPort);
        g_LoginSession.m_nUserId = kUserId;
        g_LoginSession.m_bLoggedIn = true;
    }
    void TearDown() override {
        CUploaded::Renamer() = nullptr;
        m_tab.reset();
        if (m_control) m_control->Stop();
        if (m_fileServer) m_fileServer->Stop();
    }

    // The control server lists the files; the files live on a server of their own.
    void StartServers(const std::vector<Stored>& files) {
        const std::string control = g_controls.Next(), fileHost = g_fileServers.Next();
        g_Settings.m_strServerAddr = upload_test::Wide(control);
        m_control = upload_test::NewProvider(fileHost, "tab@example.com", kUserId, kFileServerId);
        m_fileIds.clear();
        for (size_t i = 0; i < files.size(); ++i) {
            provider::StoredFile f;
            f.userId = kUserId;
            f.serverId = kFileServerId;
            f.name = files[i].name;
            f.path = std::string("C:\\up\\") + files[i].name;
            f.linkKey = "key" + std::to_string(i);
            f.size = files[i].size;
            f.hoursLeft = files[i].hours;
            f.forceFinished = files[i].finished;
            if (!files[i].finished) f.segments.push_back({0, 0, static_cast<uint32_t>(f.size), 0});
            m_fileIds.push_back(m_control->State().AddFile(f));
        }
        ASSERT_TRUE(m_control->Start(control));
        m_fileServer.reset(new provider::Provider);
        ASSERT_TRUE(m_fileServer->Start(fileHost));
        m_fileHost = fileHost;
    }

    CTabUploaded& NewTab() {
        m_tab.reset(new CTabUploaded(s_main));
        EXPECT_TRUE(m_tab->Create(CTabUploaded::IDD, s_main));
        m_tab->MoveWindow(0, 0, 540, 420);
        m_tab->ShowWindow(SW_SHOW);
        Pump(30);
        return *m_tab;
    }

    void Load() {
        uint64_t id = kUserId;
        m_tab->SendMessage(WM_LOAD_UPLOADED_LIST, reinterpret_cast<WPARAM>(&id));
        m_tab->UpdateWindow();
        Pump(30);
    }

    std::vector<std::wstring> Names() const {
        std::vector<std::wstring> names;
        for (CUploaded* row : m_tab->m_arrRows) names.push_back(W(row->m_strName));
        return names;
    }

    void ClickHeader(int id) {
        CHeadFrame& h = m_tab->m_header;
        h.SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(h.m_hWnd, id)));
    }

    static void ClickBox(CButton& box) { box.SendMessage(BM_CLICK); }

    void Delete() {
        m_tab->SendMessage(WM_COMMAND, MAKEWPARAM(CTabUploaded::IDC_DELETE, BN_CLICKED),
                           reinterpret_cast<LPARAM>(m_tab->m_btnDelete.m_hWnd));
    }

    size_t Requests(provider::Provider& p, uint32_t code) { return p.State().RequestsOf(code).size(); }

    static inline TestMain* s_main = nullptr;
    std::unique_ptr<CTabUploaded> m_tab;
    std::unique_ptr<provider::Provider> m_control, m_fileServer;
    std::string m_fileHost;
    std::vector<uint64_t> m_fileIds;
};

TEST_F(UploadedTabTest, ListsFinishedFilesWithTheirTexts) {
    std::vector<Stored> files(std::begin(kFiveFiles), std::end(kFiveFiles));
    files.insert(files.begin() + 1, {"half.iso", 5000, 90, false});
    StartServers(files);
    NewTab();
    Load();

    ASSERT_EQ(m_tab->m_nRowCount, 5);
    ASSERT_EQ(m_tab->m_arrRows.size(), 5u);
    EXPECT_EQ(Names(),
              (std::vector<std::wstring>{L"beta.txt", L"Alpha.doc", L"alpha.doc", L"gamma.zip", L"delta.rar"}));
    CUploaded& first = *m_tab->m_arrRows[0];
    EXPECT_EQ(W(first.m_strServerHost), Widen(m_fileHost));
    EXPECT_EQ(W(first.m_strLink), L"http://" + Widen(m_fileHost) + L"/downAttach.do?file=key0");
    EXPECT_EQ(first.m_nFileId, m_fileIds[0]);
    EXPECT_EQ(W(first.m_stcSize.GetWindowText()), L"300B");
    EXPECT_EQ(W(first.m_stcExpiry.GetWindowText()), L"0天10小时");
    EXPECT_EQ(W(first.m_stcName.GetWindowText()), L"beta.txt");
    // Every row shown, one under the other, its box under the select-all box.
    for (size_t i = 0; i < m_tab->m_arrRows.size(); ++i) {
        CUploaded& row = *m_tab->m_arrRows[i];
        CRect r;
        row.GetWindowRect(&r);
        m_tab->m_frame.ScreenToClient(&r);
        EXPECT_TRUE(row.IsWindowVisible());
        EXPECT_EQ(r.top, r.Height() * static_cast<int>(i) + 1) << i;
        EXPECT_EQ(row.m_nCheckX, m_tab->m_header.m_nSelectAllX);
    }

    // A list of unfinished uploads only, or none at all, leaves the tab empty.
    m_control->Stop();
    StartServers({{"half.iso", 5000, 90, false}});
    Load();
    EXPECT_EQ(m_tab->m_nRowCount, 0);
    m_control->Stop();
    Load();
    EXPECT_TRUE(m_tab->m_arrRows.empty());
}

TEST_F(UploadedTabTest, HeaderSortsEachColumnUpThenDownKeepingEqualKeysInOrder) {
    StartServers(std::vector<Stored>(std::begin(kFiveFiles), std::end(kFiveFiles)));
    NewTab();
    Load();
    const struct {
        int column;
        std::vector<std::wstring> order;
    } clicks[] = {
        {CHeadFrame::IDC_SIZE_COLUMN, {L"Alpha.doc", L"delta.rar", L"gamma.zip", L"beta.txt", L"alpha.doc"}},
        {CHeadFrame::IDC_SIZE_COLUMN, {L"beta.txt", L"alpha.doc", L"gamma.zip", L"Alpha.doc", L"delta.rar"}},
        // Each column keeps its own flag: the first click on a new one sorts ascending.
        {CHeadFrame::IDC_NAME_COLUMN, {L"alpha.doc", L"Alpha.doc", L"beta.txt", L"delta.rar", L"gamma.zip"}},
        {CHeadFrame::IDC_EXPIRY_COLUMN, {L"alpha.doc", L"beta.txt", L"delta.rar", L"Alpha.doc", L"gamma.zip"}},
        {CHeadFrame::IDC_EXPIRY_COLUMN, {L"Alpha.doc", L"gamma.zip", L"delta.rar", L"beta.txt", L"alpha.doc"}},
        {CHeadFrame::IDC_NAME_COLUMN, {L"gamma.zip", L"delta.rar", L"beta.txt", L"Alpha.doc", L"alpha.doc"}},
        {CHeadFrame::IDC_SIZE_COLUMN, {L"delta.rar", L"Alpha.doc", L"gamma.zip", L"beta.txt", L"alpha.doc"}},
    };
    for (size_t i = 0; i < std::size(clicks); ++i) {
        ClickHeader(clicks[i].column);
        EXPECT_EQ(Names(), clicks[i].order) << "click " << i;
        // The rows are placed in the new order.
        for (size_t k = 0; k < m_tab->m_arrRows.size(); ++k) {
            CRect r;
            m_tab->m_arrRows[k]->GetWindowRect(&r);
            m_tab->m_frame.ScreenToClient(&r);
            EXPECT_EQ(r.top, r.Height() * static_cast<int>(k) + 1) << "click " << i << " row " << k;
        }
    }
    // A reload puts every column back to ascending.
    Load();
    ClickHeader(CHeadFrame::IDC_NAME_COLUMN);
    EXPECT_EQ(Names(),
              (std::vector<std::wstring>{L"alpha.doc", L"Alpha.doc", L"beta.txt", L"delta.rar", L"gamma.zip"}));

    ClickBox(m_tab->m_arrRows[1]->m_chkSelect);
    ClickBox(m_tab->m_arrRows[3]->m_chkSelect);
    m_tab->UpdateWindow();
    Pump(100);
    test_capture::SaveWindow(m_tab->m_hWnd, "uploaded_tab_sorted_two_checked");
}

TEST_F(UploadedTabTest, SelectAllChecksEveryRowAndARowClearedClearsIt) {
    StartServers(std::vector<Stored>(std::begin(kFiveFiles), std::end(kFiveFiles)));
    NewTab();
    Load();
    CHeadFrame& header = m_tab->m_header;
    ClickBox(header.m_chkSelectAll);
    for (CUploaded* row : m_tab->m_arrRows) EXPECT_TRUE(row->IsChecked());
    EXPECT_TRUE(header.m_bSelectAll);

    ClickBox(m_tab->m_arrRows[2]->m_chkSelect);
    EXPECT_FALSE(m_tab->m_arrRows[2]->IsChecked());
    EXPECT_FALSE(m_tab->m_arrRows[2]->m_bChecked);
    EXPECT_EQ(header.m_chkSelectAll.GetCheck(), BST_UNCHECKED);
    EXPECT_FALSE(header.m_bSelectAll);
    for (size_t i : {0, 1, 3, 4}) EXPECT_TRUE(m_tab->m_arrRows[i]->IsChecked()) << i;

    // Ticked again and cleared again from the header: every row follows.
    ClickBox(header.m_chkSelectAll);
    ClickBox(header.m_chkSelectAll);
    for (CUploaded* row : m_tab->m_arrRows) EXPECT_FALSE(row->IsChecked());

    ClickBox(header.m_chkSelectAll);
    Load();
    EXPECT_FALSE(header.m_bSelectAll);
    EXPECT_EQ(header.m_chkSelectAll.GetCheck(), BST_UNCHECKED);
}

TEST_F(UploadedTabTest, DeleteSendsTheCheckedIdsToTheFileServerThenReloadsOnce) {
    StartServers(std::vector<Stored>(std::begin(kFiveFiles), std::end(kFiveFiles)));
    NewTab();
    Load();
    ASSERT_EQ(Requests(*m_control, protocol::MSG_CODE_REQ_FILE_LIST), 1u);

    // Nothing checked: nothing deleted, the list loaded again all the same.
    Delete();
    ASSERT_TRUE(PumpUntil([&] { return !m_tab->DeleteRunning(); }, 10000));
    EXPECT_EQ(Requests(*m_fileServer, protocol::MSG_CODE_REQ_DELETE_FILE), 0u);
    EXPECT_EQ(Requests(*m_control, protocol::MSG_CODE_REQ_FILE_LIST), 2u);

    ClickHeader(CHeadFrame::IDC_SIZE_COLUMN);  // the rows' order is not the list's
    const uint64_t first = m_tab->m_arrRows[1]->m_nFileId, second = m_tab->m_arrRows[4]->m_nFileId;
    ClickBox(m_tab->m_arrRows[1]->m_chkSelect);
    ClickBox(m_tab->m_arrRows[4]->m_chkSelect);
    Delete();
    EXPECT_TRUE(m_tab->DeleteRunning());
    EXPECT_FALSE(m_tab->m_btnDelete.IsWindowEnabled());
    ASSERT_TRUE(PumpUntil([&] { return !m_tab->DeleteRunning(); }, 10000));
    EXPECT_TRUE(m_tab->m_btnDelete.IsWindowEnabled());

    const auto deletes = m_fileServer->State().RequestsOf(protocol::MSG_CODE_REQ_DELETE_FILE);
    ASSERT_EQ(deletes.size(), 2u);
    const uint64_t expected[] = {first, second};
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(deletes[i].bytes.size(), sizeof(protocol::UserFileRequest));
        protocol::UserFileRequest request;
        std::memcpy(&request, deletes[i].bytes.data(), sizeof request);
        EXPECT_EQ(request.header.bodyLength, 16u);
        EXPECT_EQ(request.userId, kUserId);
        EXPECT_EQ(request.fileId, expected[i]) << i;
    }
    EXPECT_EQ(Requests(*m_control, protocol::MSG_CODE_REQ_DELETE_FILE), 0u);
    EXPECT_EQ(Requests(*m_control, protocol::MSG_CODE_REQ_FILE_LIST), 3u);
    EXPECT_EQ(m_tab->m_nRowCount, 5);  // what the control server still lists
}

// The list's vertical bar as the user sees it: shown, its range and position.
struct Bar {
    bool shown;
    SCROLLINFO info;
};
Bar VerticalBar(CWnd& list) {
    Bar b = {};
    SCROLLBARINFO sbi = {};
    sbi.cbSize = sizeof sbi;
    b.shown = GetScrollBarInfo(list.m_hWnd, OBJID_VSCROLL, &sbi) && !(sbi.rgstate[0] & STATE_SYSTEM_INVISIBLE);
    b.info.cbSize = sizeof b.info;
    b.info.fMask = SIF_ALL;
    GetScrollInfo(list.m_hWnd, SB_VERT, &b.info);
    return b;
}

TEST_F(UploadedTabTest, ListEmptiedByADeleteLosesItsScrollBar) {
    std::vector<Stored> files;
    for (int i = 0; i < 20; ++i) files.push_back({"file.bin", 100, 1, true});
    StartServers(files);
    NewTab();
    CDialogFrame& list = m_tab->m_frame;
    const Bar empty = VerticalBar(list);
    ASSERT_FALSE(empty.shown);
    Load();
    ASSERT_EQ(m_tab->m_nRowCount, 20);
    ASSERT_TRUE(VerticalBar(list).shown);
    list.SendMessage(WM_VSCROLL, SB_PAGEDOWN);
    Pump(30);
    ASSERT_GT(VerticalBar(list).info.nPos, 0);

    ClickBox(m_tab->m_header.m_chkSelectAll);
    Delete();
    m_control->State().ForgetFiles();  // the servers hold none of them any more
    ASSERT_TRUE(PumpUntil([&] { return !m_tab->DeleteRunning(); }, 15000));
    Pump(30);
    ASSERT_EQ(m_tab->m_nRowCount, 0);
    // As before the list was ever filled: no bar, nothing to scroll, back at the top.
    const Bar after = VerticalBar(list);
    EXPECT_FALSE(after.shown);
    EXPECT_EQ(after.info.nPos, 0);
    EXPECT_EQ(after.info.nMax, empty.info.nMax);
    EXPECT_EQ(after.info.nPage, empty.info.nPage);
    EXPECT_EQ(list.GetScrollHelper()->GetScrollPos().cy, 0);
    EXPECT_FALSE(list.GetStyle() & WS_VSCROLL);
}

TEST_F(UploadedTabTest, RowsChangingDuringADeleteDoNotChangeWhatIsDeleted) {
    StartServers(std::vector<Stored>(std::begin(kFiveFiles), std::end(kFiveFiles)));
    NewTab();
    Load();
    ClickBox(m_tab->m_header.m_chkSelectAll);
    Delete();
    // While the worker runs: a second click, a sort and a reload that frees every row.
    Delete();
    ClickHeader(CHeadFrame::IDC_NAME_COLUMN);
    Load();
    ASSERT_TRUE(PumpUntil([&] { return !m_tab->DeleteRunning(); }, 15000));
    const auto deletes = m_fileServer->State().RequestsOf(protocol::MSG_CODE_REQ_DELETE_FILE);
    ASSERT_EQ(deletes.size(), 5u);
    for (size_t i = 0; i < deletes.size(); ++i) {
        protocol::UserFileRequest request;
        std::memcpy(&request, deletes[i].bytes.data(), sizeof request);
        EXPECT_EQ(request.fileId, m_fileIds[i]) << i;
    }

    // The tab may go while a delete still runs.
    ClickBox(m_tab->m_header.m_chkSelectAll);
    Delete();
    m_tab.reset();
    EXPECT_LE(Requests(*m_fileServer, protocol::MSG_CODE_REQ_DELETE_FILE), 10u);
}

// The browser is a recorder registered as the http handler of this prefix.
class BrowserRecorder {
public:
    explicit BrowserRecorder(const std::wstring& program) {
        m_saved = Read();
        m_record = m_folder.File(L"opened.txt");
        SetEnvironmentVariableW(L"FERRANT_URL_RECORD", m_record);
        Write(L"\"" + program + L"\" \"%1\"");
    }
    ~BrowserRecorder() {
        Write(m_saved);
        SetEnvironmentVariableW(L"FERRANT_URL_RECORD", nullptr);
    }
    std::vector<std::wstring> Opened() const {
        std::ifstream in(static_cast<LPCWSTR>(m_record));
        std::vector<std::wstring> lines;
        std::string line;
        while (std::getline(in, line))
            if (!line.empty()) lines.push_back(Widen(line));
        return lines;
    }

private:
    static std::wstring Read() {
        wchar_t value[1024] = {};
        LONG size = sizeof value;
        RegQueryValueW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", value, &size);
        return value;
    }
    static void Write(const std::wstring& value) {
        RegSetValueW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", REG_SZ, value.c_str(),
                     static_cast<DWORD>(value.size() * sizeof(wchar_t)));
    }
    TempDir m_folder;
    CString m_record;
    std::wstring m_saved;
};

std::wstring BesideThisProgram(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\') + 1) + name;
}

TEST_F(UploadedTabTest, DownloadOpensTheCheckedLinksAndStopsAtTheFirstFailure) {
    StartServers(std::vector<Stored>(std::begin(kFiveFiles), std::end(kFiveFiles)));
    NewTab();
    Load();
    ClickBox(m_tab->m_arrRows[0]->m_chkSelect);
    ClickBox(m_tab->m_arrRows[3]->m_chkSelect);
    const auto open = [&] {
        m_tab->SendMessage(WM_COMMAND, MAKEWPARAM(CTabUploaded::IDC_DOWNLOAD, BN_CLICKED),
                           reinterpret_cast<LPARAM>(m_tab->m_btnDownload.m_hWnd));
    };
    {
        BrowserRecorder browser(BesideThisProgram(L"url_recorder.exe"));
        TipsWatch tips;
        open();
        ASSERT_TRUE(PumpUntil([&] { return browser.Opened().size() >= 2; }, 15000));
        Pump(200);
        EXPECT_EQ(browser.Opened(),
                  (std::vector<std::wstring>{W(m_tab->m_arrRows[0]->m_strLink), W(m_tab->m_arrRows[3]->m_strLink)}));
        EXPECT_EQ(tips.seen, 0);
    }
    {
        BrowserRecorder missing(BesideThisProgram(L"no_such_browser.exe"));
        TipsWatch tips;
        open();
        Pump(300);
        EXPECT_EQ(tips.seen, 1);
        ASSERT_FALSE(tips.texts.empty());
        EXPECT_EQ(W(tips.texts[0]), CTabUploaded::kOpenFailedText);
    }
}

std::wstring ClipboardUnicode(HWND owner) {
    std::wstring text;
    if (!OpenClipboard(owner)) return text;
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(GlobalLock(h));
        GlobalUnlock(h);
    }
    CloseClipboard();
    return text;
}

std::string ClipboardBytes(HWND owner, UINT format) {
    std::string text;
    if (!OpenClipboard(owner)) return text;
    if (HANDLE h = GetClipboardData(format)) {
        text = static_cast<const char*>(GlobalLock(h));
        GlobalUnlock(h);
    }
    CloseClipboard();
    return text;
}

TEST_F(UploadedTabTest, CopyPutsTheLinkOnTheClipboard) {
    StartServers({{"报告.pdf", 2500000000, 90, true}});
    NewTab();
    Load();
    ASSERT_EQ(m_tab->m_nRowCount, 1);
    CUploaded& row = *m_tab->m_arrRows[0];
    EXPECT_EQ(W(row.m_stcSize.GetWindowText()), L"2.5GB");
    EXPECT_EQ(W(row.m_stcExpiry.GetWindowText()), L"3天18小时");

    row.SendMessage(WM_COMMAND, MAKEWPARAM(CUploaded::IDC_COPY, STN_CLICKED),
                    reinterpret_cast<LPARAM>(row.m_lnkCopy.m_hWnd));
    const std::wstring link = W(row.m_strLink);
    EXPECT_EQ(ClipboardUnicode(row.m_hWnd), link);
    EXPECT_EQ(ClipboardBytes(row.m_hWnd, CF_TEXT), std::string(link.begin(), link.end()));

    // An empty link leaves the clipboard as it was.
    row.m_strLink.Empty();
    EXPECT_FALSE(row.CopyLinkToClipboard(row.m_strLink));
    EXPECT_EQ(ClipboardUnicode(row.m_hWnd), link);
}

TEST_F(UploadedTabTest, RenameThroughTheHiddenLabelSendsTheNameThatFits) {
    StartServers({{"old.txt", 10, 1, true}});
    NewTab();
    Load();
    ASSERT_EQ(m_tab->m_nRowCount, 1);
    CUploaded& row = *m_tab->m_arrRows[0];
    EXPECT_FALSE(row.m_lnkRename.IsWindowVisible());
    CString answer;
    bool confirmed = true;
    CUploaded::Renamer() = [&](const CString& current, CString& renamed) {
        EXPECT_EQ(W(current), W(row.m_strName));
        renamed = answer;
        return confirmed;
    };
    const auto rename = [&](const wchar_t* text, bool ok) {
        answer = text;
        confirmed = ok;
        row.SendMessage(WM_COMMAND, MAKEWPARAM(CUploaded::IDC_RENAME, STN_CLICKED),
                        reinterpret_cast<LPARAM>(row.m_lnkRename.m_hWnd));
    };
    const auto sentNames = [&] {
        std::vector<std::string> names;
        for (const auto& r : m_control->State().RequestsOf(protocol::MSG_CODE_REQ_RENAME_FILE)) {
            EXPECT_EQ(r.bytes.size(), sizeof(protocol::RenameFileRequest));
            protocol::RenameFileRequest q;
            std::memcpy(&q, r.bytes.data(), sizeof q);
            EXPECT_EQ(q.userId, kUserId);
            EXPECT_EQ(q.fileId, m_fileIds[0]);
            names.push_back(protocol::ReadTextField(q.newName, sizeof q.newName));
        }
        return names;
    };

    rename(L"", true);
    rename(L"cancelled.txt", false);
    EXPECT_EQ(W(row.m_strName), L"old.txt");
    rename(L"新名字.txt", true);
    EXPECT_EQ(W(row.m_strName), L"新名字.txt");
    EXPECT_EQ(W(row.m_stcName.GetWindowText()), L"新名字.txt");
    // 100 characters of three bytes each: 85 fit in the 255-byte field.
    rename(std::wstring(100, L'名').c_str(), true);
    EXPECT_EQ(W(row.m_strName), std::wstring(85, L'名'));
    // Wider than its label: shown cut, ending in "...".
    row.UpdateWindow();
    const std::wstring shown = W(row.m_stcName.GetWindowText());
    EXPECT_LT(shown.size(), 85u);
    EXPECT_EQ(shown.substr(shown.size() - 3), L"...");

    ASSERT_TRUE(m_control->State().WaitForRequests(protocol::MSG_CODE_REQ_RENAME_FILE, 2, 5000));
    std::string longName;
    for (int i = 0; i < 85; ++i) longName += "\xE5\x90\x8D";
    EXPECT_EQ(sentNames(), (std::vector<std::string>{"\xE6\x96\xB0\xE5\x90\x8D\xE5\xAD\x97.txt", longName}));
}

TEST_F(UploadedTabTest, EachRowLooksItsIconUpOnceAndReleasesIt) {
    std::vector<HICON> given;
    std::vector<std::wstring> names;
    CUploaded::IconLookup saved = CUploaded::FileIconLookup();
    CUploaded::FileIconLookup() = [&](const CString& name) {
        HICON icon = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
        given.push_back(icon);
        names.push_back(W(name));
        return icon;
    };
    StartServers(std::vector<Stored>(std::begin(kFiveFiles), std::end(kFiveFiles)));
    NewTab();
    Load();
    for (int i = 0; i < 200; ++i)
        m_tab->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(20);
    EXPECT_EQ(given.size(), 5u);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha.doc", L"alpha.doc", L"beta.txt", L"delta.rar", L"gamma.zip"}));
    m_tab.reset();
    CUploaded::FileIconLookup() = saved;
    for (HICON icon : given) {
        ICONINFO info = {};
        EXPECT_FALSE(GetIconInfo(icon, &info)) << "icon still alive";
    }
}

}  // namespace
