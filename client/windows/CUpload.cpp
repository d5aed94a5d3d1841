#include "client/windows/CUpload.h"

#include <algorithm>
#include <memory>

#include "client/app/CAppSettings.h"
#include "client/session/CLoginSession.h"
#include "client/transfer/CServerExchange.h"
#include "client/transfer/FileListing.h"
#include "client/windows/CFloatWnd.h"
#include "client/windows/CSkinDialog.h"
#include "client/windows/CTips.h"
#include "client/windows/PageText.h"
#include "client/windows/Palette.h"
#include "controls/CScrollHelper.h"
#include "framework/CFileDialog.h"
#include "framework/CSingleLock.h"
#include "client/transfer/EngineLog.h"

namespace {

const wchar_t kNoSpaceText[] = L"您的剩余空间不足，请重新选择文件";
const wchar_t kDuplicateText[] = L"本文件正在上传，请重新选择文件";
const wchar_t kCeilingText[] = L"同时上传文件不允许超过定值，请等待";

const int kEmptyViewControls[] = {CUpload::IDC_QUOTA, CUpload::IDC_HINT1, CUpload::IDC_HINT2, CUpload::IDC_HINT3};

}  // namespace

BEGIN_MESSAGE_MAP(CUpload, CDialog)
    ON_BN_CLICKED(IDC_BROWSE, &CUpload::OnAddFiles)
    ON_WM_PAINT()
    ON_MESSAGE(WM_UPLOAD_CANCELLED, &CUpload::OnUploadCancelled)
    ON_MESSAGE(WM_UPLOAD_DONE, &CUpload::OnUploadDone)
    ON_MESSAGE(WM_LOAD_UNFINISHED_UPLOADS, &CUpload::OnLoadUnfinished)
    ON_WM_TIMER()
    ON_WM_DESTROY()
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CUpload::CUpload(CWnd* parent) : CDialog(IDD, parent), m_frame(this), m_fileBuffer(kNameBufferSize) {}

CUpload::~CUpload() { DeleteRows(); }

void CUpload::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_HINT1, m_stcHint1);
    DDX_Control(dx, IDC_HINT2, m_stcHint2);
    DDX_Control(dx, IDC_BROWSE, m_btnBrowse);
    DDX_Control(dx, IDC_HINT3, m_stcHint3);
    DDX_Control(dx, IDC_QUOTA, m_stcQuota);
}

BOOL CUpload::OnInitDialog() {
    CDialog::OnInitDialog();
    CSkinDialog::SkinButton(m_btnBrowse, TRUE);
    m_nTimerId = SetTimer(kTimerId, kTimerPeriod);
    ShowSpaceInfo();
    return TRUE;
}

void CUpload::QueryUserSpace(uint64_t& used, uint64_t& total) {
    used = 0;
    total = 0;
    CServerExchange exchange;
    protocol::Bytes reply;
    if (!exchange.ConnectToControl()) return;
    if (!exchange.Request(protocol::BuildUserSpace(g_LoginSession.m_nUserId), reply)) return;
    uint64_t u = 0, t = 0;
    if (!protocol::ParseUserSpaceReply(reply.data(), reply.size(), u, t)) return;
    used = u;
    total = t;
}

void CUpload::ShowSpaceInfo() {
    if (!g_LoginSession.IsLoggedIn()) return;
    uint64_t used = 0, total = 0;
    QueryUserSpace(used, total);
    g_LoginSession.m_nUsedSpace = used;
    g_LoginSession.m_nTotalSpace = total;
    m_stcQuota.SetWindowText(pagetext::QuotaLine(used, total).c_str());
    m_stcQuota.Invalidate();
    m_stcQuota.UpdateWindow();
}

CUpload::FileChooser& CUpload::Chooser() {
    static FileChooser s_chooser;
    return s_chooser;
}

bool CUpload::ChooseFiles(std::vector<CString>& paths) {
    if (Chooser()) return Chooser()(paths);
    CFileDialog dialog(TRUE, L"all file", L"", OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_ALLOWMULTISELECT,
                       L"所有文件 (*.*)||", nullptr);
    std::fill(m_fileBuffer.begin(), m_fileBuffer.end(), L'\0');
    dialog.m_ofn.lpstrFile = m_fileBuffer.data();
    dialog.m_ofn.nMaxFile = static_cast<DWORD>(m_fileBuffer.size());
    if (dialog.DoModal() != IDOK) return false;
    paths = dialog.GetPathNames();
    return !paths.empty();
}

void CUpload::CreateFrame() {
    if (m_bFrameShown) return;
    m_bFrameShown = TRUE;
    m_frame.Create(CDialogFrame::IDD, this);
    CRect rect;
    GetWindowRect(&rect);
    ScreenToClient(&rect);
    const int w = rect.right, h = rect.bottom;
    m_frame.MoveWindow(5, 35, w - 10, h - 40);
    m_frame.m_nScrollWidth = w - 15;
    m_frame.m_nScrollHeight = h - 75;
    m_frame.GetScrollHelper()->OnSize(0, m_frame.m_nScrollWidth, m_frame.m_nScrollHeight);
}

void CUpload::ShowEmptyView(bool empty) {
    if (m_frame.IsWindow()) m_frame.ShowWindow(empty ? SW_HIDE : SW_SHOW);
    m_btnBrowse.SetWindowText(empty ? L"浏览" : L"继续添加");
    for (CStatic* control : {&m_stcQuota, &m_stcHint1, &m_stcHint2, &m_stcHint3})
        control->ShowWindow(empty ? SW_SHOW : SW_HIDE);
}

void CUpload::RowsChanged() {
    m_nRowCount = static_cast<int32_t>(m_arrRows.size());
    if (m_nRowCount == 0) ShowEmptyView(true);
    if (m_frame.IsWindow()) m_frame.RedrawAll();
}

void CUpload::ShowTip(const CString& text) {
    CTips box(this);
    box.SetText(text);
    box.DoModal();
}

void CUpload::OnAddFiles() {
    std::vector<CString> paths;
    if (!ChooseFiles(paths)) return;
    CreateFrame();
    ShowEmptyView(false);
    for (const CString& path : paths) {
        if (!AddFile(path)) break;
    }
    RowsChanged();
}

bool CUpload::AddFile(const CString& path) {
    uint64_t length = 0;
    {
        // Opened as its row will open it: a file another program is writing is refused here already.
        CFile file;
        uint64_t writeTime = 0;
        if (!CUploading::HoldFile(path, file, length, writeTime)) {
            EngineLog(L"CUpload::OnAddFiles, cannot read %s", path.GetString());
            ShowTip(CUploading::kFileBusyText);
            return false;
        }
    }
    uint64_t used = 0, total = 0;
    QueryUserSpace(used, total);
    bool duplicate = false;
    std::vector<uint64_t> sizes;
    for (CUploading* row : m_arrRows) {
        if (row->m_strFilePath.CompareNoCase(path) == 0) duplicate = true;
        sizes.push_back(row->m_nFileSize);
    }
    switch (pagetext::CheckAdd(used, total, length, duplicate, sizes)) {
    case pagetext::AddCheck::NoSpace: ShowTip(kNoSpaceText); return false;
    case pagetext::AddCheck::Duplicate: ShowTip(kDuplicateText); return false;
    case pagetext::AddCheck::CeilingReached: ShowTip(kCeilingText); return false;
    case pagetext::AddCheck::Accepted: break;
    }
    const CString name = CUploading::NameOf(path);
    auto* row =
        new CUploading(name, path, length, g_Settings.m_strServerAddr, static_cast<uint16_t>(g_Settings.m_nSecondPort));
    if (!row->Create(CUploading::IDD, &m_frame)) {
        delete row;
        return false;
    }
    row->SetParentPage(m_hWnd);
    row->ShowWindow(SW_SHOW);
    row->m_stcFileName.SetWindowText(name);
    PlaceRow(row, m_nRowCount);
    row->PostMessage(WM_START_UPLOAD, reinterpret_cast<WPARAM>(new CString(path)));
    m_arrRows.push_back(row);
    ++m_nRowCount;
    return true;
}

void CUpload::PlaceRow(CUploading* row, int index) {
    CRect rowRect, client;
    row->GetWindowRect(&rowRect);
    GetClientRect(&client);
    const int h = rowRect.Height();
    const int scroll = m_frame.GetScrollHelper()->GetScrollPos().cy;
    row->MoveWindow(1, h * index + 5 - scroll, client.Width() - 12, h);
    m_frame.GetScrollHelper()->SetDisplaySize(m_frame.m_nScrollWidth, h * (index + 1) + 5);
}

void CUpload::LayOutRows() {
    for (size_t i = 0; i < m_arrRows.size(); ++i) PlaceRow(m_arrRows[i], static_cast<int>(i));
    RowsChanged();
}

bool CUpload::RemoveRow(CUploading* row, bool done) {
    CSingleLock lock(&m_mutex, TRUE);
    auto at = std::find(m_arrRows.begin(), m_arrRows.end(), row);
    if (at == m_arrRows.end()) return false;
    m_arrRows.erase(at);
    row->ShowWindow(SW_HIDE);
    if (done && GetParent()) GetParent()->SendMessage(WM_UPLOAD_DONE, reinterpret_cast<WPARAM>(row));
    // A cancelled row's cancel thread reports just before it ends, a finished row's run thread
    // just before it does; the row goes once they have.
    while (row->Busy()) ::Sleep(1);
    delete row;
    LayOutRows();
    return true;
}

LRESULT CUpload::OnUploadDone(WPARAM row, LPARAM) {
    RemoveRow(reinterpret_cast<CUploading*>(row), true);
    return 0;
}

LRESULT CUpload::OnUploadCancelled(WPARAM row, LPARAM) {
    RemoveRow(reinterpret_cast<CUploading*>(row), false);
    return 0;
}

LRESULT CUpload::OnLoadUnfinished(WPARAM userIdPointer, LPARAM) {
    const uint64_t* userIdAt = reinterpret_cast<const uint64_t*>(userIdPointer);
    if (!userIdAt) return 0;
    const uint64_t userId = *userIdAt;
    // Asked before anything shows, so a server that fails leaves the view as it was.
    const filelisting::Listing listing = filelisting::ListFiles(userId, filelisting::Kind::Unfinished);
    if (!listing.listed) return 0;
    bool allShown = true;
    for (const filelisting::ListedFile& listed : listing.files) {
        const protocol::FileEntry& file = listed.file;
        CreateFrame();
        ShowEmptyView(false);
        CString name, path, host;
        Utf8ToWide(file.fileName.c_str(), name);
        Utf8ToWide(file.filePath.c_str(), path);
        Utf8ToWide(listed.server.host.c_str(), host);
        auto* row = new CUploading(name, path, file.fileSize, m_strNoHost, listed.server.port);
        if (!row->Create(CUploading::IDD, &m_frame)) {
            delete row;
            allShown = false;
            break;
        }
        row->SetParentPage(m_hWnd);
        row->m_strHost = host;
        row->m_nFileSize = file.fileSize;
        row->m_strFilePath = path;
        row->m_nFileId = file.fileId;
        row->SetResumable();
        row->ShowWindow(SW_SHOW);
        row->m_stcFileName.SetWindowText(name);
        PlaceRow(row, m_nRowCount);
        m_arrRows.push_back(row);
        ++m_nRowCount;
        // Without a segment list the row still knows its file: a resume asks for the list again.
        row->TakeReloadedSegments(static_cast<uint32_t>(file.serverId), static_cast<uint32_t>(userId),
                                  static_cast<uint32_t>(file.fileId), listed.segments);
        if (row->IsWindow()) {
            row->m_progress.SetRange(0, 100);
            row->ShowFinalProgress();
        }
    }
    if (allShown && listing.serverFailed)
        EngineLog(L"CUpload::OnLoadUnfinished, no file server for %u", static_cast<unsigned>(listing.failedServerId));
    RowsChanged();
    return 0;
}

void CUpload::OnTimer(UINT_PTR id) {
    if (id != kTimerId) {
        CDialog::OnTimer(id);
        return;
    }
    pagetext::FloatTexts texts;
    {
        CSingleLock lock(&m_mutex, TRUE);
        std::vector<pagetext::RowSummary> rows;
        for (CUploading* row : m_arrRows) {
            if (row)
                rows.push_back(
                    {row->m_strFileName.GetString(), row->m_strSpeed.GetString(), row->m_strRemain.GetString()});
        }
        texts = pagetext::NextFloatTexts(rows, m_nFloatIndex);
    }
    if (m_pFloatWnd && m_pFloatWnd->IsWindow()) m_pFloatWnd->SetTexts(texts.summary.c_str(), texts.current.c_str());
    CDialog::OnTimer(id);
}

// Validates the client area; the controls and rows draw themselves.
void CUpload::OnPaint() { CPaintDC dc(this); }

void CUpload::DeleteRows() {
    std::vector<CUploading*> rows;
    {
        CSingleLock lock(&m_mutex, TRUE);
        rows.swap(m_arrRows);
    }
    m_nRowCount = 0;
    // Stopped, not cancelled: what the server holds is resumed at the next login.
    for (CUploading* row : rows) row->m_bCancel = true;
    for (CUploading* row : rows) {
        bool quit = false;
        while (row->Busy()) {
            MSG msg;
            while (!quit && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    // Left for the loop that ends the program, once the rows are gone.
                    ::PostQuitMessage(static_cast<int>(msg.wParam));
                    quit = true;
                    break;
                }
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            if (quit)
                ::Sleep(10);
            else
                ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        delete row;
    }
}

void CUpload::OnDestroy() {
    CDialog::OnDestroy();
    if (m_nTimerId) KillTimer(m_nTimerId);
    m_nTimerId = 0;
    DeleteRows();
}

HBRUSH CUpload::OnCtlColor(CDC* dc, CWnd* wnd, UINT kind) {
    COLORREF text = CLR_INVALID;
    if (kind == CTLCOLOR_STATIC && wnd) {
        const int id = ::GetDlgCtrlID(wnd->m_hWnd);
        if (std::find(std::begin(kEmptyViewControls), std::end(kEmptyViewControls), id) != std::end(kEmptyViewControls))
            text = palette::kHint;
    }
    return palette::Paint(*dc, m_brush, palette::kPage, text);
}
