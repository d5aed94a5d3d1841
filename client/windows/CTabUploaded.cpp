#include "client/windows/CTabUploaded.h"

#include <shellapi.h>

#include <algorithm>

#include "client/app/CAppSettings.h"
#include "client/session/CLoginSession.h"
#include "client/transfer/CServerExchange.h"
#include "client/transfer/EngineLog.h"
#include "client/transfer/FileListing.h"
#include "client/windows/CSkinDialog.h"
#include "client/windows/CTips.h"
#include "controls/CScrollHelper.h"

namespace {

// Moves a child only when its place changed: layout runs on every paint.
void Place(CWnd& wnd, int x, int y, int w, int h) {
    if (!wnd.m_hWnd) return;
    CRect now;
    wnd.GetWindowRect(&now);
    if (CWnd* parent = wnd.GetParent()) parent->ScreenToClient(&now);
    if (now.left != x || now.top != y || now.Width() != w || now.Height() != h) wnd.MoveWindow(x, y, w, h);
}

CRect RectIn(CWnd& parent, CWnd& child) {
    CRect r;
    child.GetWindowRect(&r);
    parent.ScreenToClient(&r);
    return r;
}

// The client's button face with a glyph left of the text.
void SkinTabButton(CSkinButton& b, INT_PTR hovered, INT_PTR normal) {
    CSkinDialog::SkinButton(b, TRUE, hovered, normal);
    b.SetTextOffset(10, 0, FALSE);
}

}  // namespace

BEGIN_MESSAGE_MAP(CTabUploaded, CDialog)
    ON_WM_PAINT()
    ON_BN_CLICKED(IDC_DOWNLOAD, &CTabUploaded::OnOpenLink)
    ON_MESSAGE(WM_UPLOAD_DONE, &CTabUploaded::OnUploadDone)
    ON_MESSAGE(WM_LOAD_UPLOADED_LIST, &CTabUploaded::OnLoadList)
    ON_MESSAGE(WM_SORT_BY_NAME, &CTabUploaded::OnSortByName)
    ON_MESSAGE(WM_SORT_BY_SIZE, &CTabUploaded::OnSortBySize)
    ON_MESSAGE(WM_SORT_BY_EXPIRY, &CTabUploaded::OnSortByExpiry)
    ON_MESSAGE(WM_CHECK_ALL_ROWS, &CTabUploaded::OnCheckAllRows)
    ON_MESSAGE(WM_ROW_CHECK_CHANGED, &CTabUploaded::OnRowCheckChanged)
    ON_BN_CLICKED(IDC_DELETE, &CTabUploaded::OnDelete)
    ON_MESSAGE(WM_DELETE_FINISHED, &CTabUploaded::OnDeleteFinished)
    ON_WM_CTLCOLOR()
    ON_WM_DESTROY()
END_MESSAGE_MAP()

CTabUploaded::CTabUploaded(CWnd* parent) : CDialog(IDD, parent), m_frame(this), m_header(this) {}

CTabUploaded::~CTabUploaded() {
    EndDelete(true);
    DeleteRows();
}

void CTabUploaded::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_DOWNLOAD, m_btnDownload);
    DDX_Control(dx, IDC_DELETE, m_btnDelete);
}

BOOL CTabUploaded::OnInitDialog() {
    CDialog::OnInitDialog();
    m_frame.Create(CDialogFrame::IDD, this);
    m_frame.ShowWindow(SW_SHOW);
    m_header.Create(CHeadFrame::IDD, this);
    m_header.ShowWindow(SW_SHOW);
    SkinTabButton(m_btnDownload, 178, 176);
    SkinTabButton(m_btnDelete, 177, 175);
    return TRUE;
}

void CTabUploaded::LayOut() {
    if (!m_frame.m_hWnd || !m_header.m_hWnd || !m_btnDownload.m_hWnd) return;
    CRect c;
    GetClientRect(&c);
    const CRect b = RectIn(*this, m_btnDownload);
    const CRect hd = RectIn(*this, m_header);
    const int y = c.bottom - 5 - b.Height();
    Place(m_btnDownload, c.left + 5, y, b.Width(), b.Height());
    Place(m_btnDelete, c.left + b.Width() + 10, y, b.Width(), b.Height());
    Place(m_header, c.left + 5, 5, c.Width() - 10, hd.Height());
    m_nDisplayWidth = std::max<int32_t>(0, c.Width() - 10);
    m_nDisplayHeight = std::max<int32_t>(0, c.Height() - 15 - b.Height() - hd.Height());
    Place(m_frame, c.left + 5, hd.Height() + 5, m_nDisplayWidth, m_nDisplayHeight);
    CScrollHelper* scroll = m_frame.GetScrollHelper();
    scroll->OnSize(0, m_nDisplayWidth, m_nDisplayHeight);
    int rowsHeight = 0;
    for (size_t i = 0; i < m_arrRows.size(); ++i) {
        CUploaded* row = m_arrRows[i];
        CRect r;
        row->GetWindowRect(&r);
        const int h = r.Height(), index = static_cast<int>(i);
        if (row->m_nCheckX != m_header.m_nSelectAllX) {
            row->m_nCheckX = m_header.m_nSelectAllX;
            row->Invalidate();
        }
        if (!row->IsWindowVisible()) row->ShowWindow(SW_SHOW);
        Place(*row, 1, h * index - scroll->GetScrollPos().cy + 1, m_nDisplayWidth - 2, h);
        rowsHeight = h * (index + 1) + 5;
    }
    // Also for no rows: a list emptied by a reload loses its bar and its scroll position, as
    // one that was never filled.
    scroll->SetDisplaySize(m_nDisplayWidth, rowsHeight);
}

void CTabUploaded::OnPaint() {
    CPaintDC dc(this);
    LayOut();
}

void CTabUploaded::DeleteRows() {
    std::vector<CUploaded*> rows;
    rows.swap(m_arrRows);
    m_nRowCount = 0;
    for (CUploaded* row : rows) delete row;  // each once; its window goes with it
}

LRESULT CTabUploaded::OnUploadDone(WPARAM, LPARAM) { return 0; }

LRESULT CTabUploaded::OnLoadList(WPARAM userIdPointer, LPARAM) {
    const uint64_t* userIdAt = reinterpret_cast<const uint64_t*>(userIdPointer);
    if (!userIdAt) return 0;
    const uint64_t userId = *userIdAt;
    DeleteRows();
    if (m_header.m_hWnd) m_header.SendMessage(WM_RESET_HEADER);
    const filelisting::Listing listing = filelisting::ListFiles(userId, filelisting::Kind::Finished);
    bool allShown = true;
    for (const filelisting::ListedFile& listed : listing.files) {
        auto* row = new CUploaded;
        if (!row->Create(CUploaded::IDD, &m_frame)) {
            delete row;
            allShown = false;
            break;
        }
        row->SetFileInfo(listed.file, listed.server);
        m_arrRows.push_back(row);
        ++m_nRowCount;
    }
    if (allShown && listing.serverFailed)
        EngineLog(L"CTabUploaded::OnLoadList, no file server for %u", static_cast<unsigned>(listing.failedServerId));
    LayOut();  // the scroll bar follows the new rows at once, not at the next paint
    Invalidate();
    if (m_frame.m_hWnd) m_frame.RedrawAll();
    return 0;
}

template <typename Less>
LRESULT CTabUploaded::SortRows(bool ascending, Less less) {
    // Stable: rows with equal keys keep their order in both directions.
    std::stable_sort(m_arrRows.begin(), m_arrRows.end(),
                     [&](const CUploaded* a, const CUploaded* b) { return ascending ? less(a, b) : less(b, a); });
    LayOut();
    if (m_frame.m_hWnd) m_frame.RedrawAll();
    return 0;
}

LRESULT CTabUploaded::OnSortByName(WPARAM ascending, LPARAM) {
    return SortRows(ascending != 0,
                    [](const CUploaded* a, const CUploaded* b) { return ::lstrcmpW(a->m_strName, b->m_strName) < 0; });
}

LRESULT CTabUploaded::OnSortBySize(WPARAM ascending, LPARAM) {
    return SortRows(ascending != 0, [](const CUploaded* a, const CUploaded* b) { return a->m_nSize < b->m_nSize; });
}

LRESULT CTabUploaded::OnSortByExpiry(WPARAM ascending, LPARAM) {
    return SortRows(ascending != 0,
                    [](const CUploaded* a, const CUploaded* b) { return a->m_nHoursLeft < b->m_nHoursLeft; });
}

LRESULT CTabUploaded::OnCheckAllRows(WPARAM checked, LPARAM) {
    for (CUploaded* row : m_arrRows) row->SetChecked(checked != 0);
    return 0;
}

LRESULT CTabUploaded::OnRowCheckChanged(WPARAM checked, LPARAM extra) {
    if (m_header.m_hWnd) m_header.SendMessage(WM_ROW_CHECK_CHANGED, checked, extra);
    return 0;
}

void CTabUploaded::OnOpenLink() {
    for (CUploaded* row : m_arrRows) {
        if (!row->IsChecked()) continue;
        CWnd* owner = GetParent();
        HINSTANCE result =
            ::ShellExecuteW(owner ? owner->m_hWnd : nullptr, L"open", row->m_strLink, nullptr, nullptr, SW_SHOWNORMAL);
        if (reinterpret_cast<INT_PTR>(result) <= 32) {
            CTips box(this);
            box.SetText(kOpenFailedText);
            box.DoModal();
            return;
        }
    }
}

void CTabUploaded::OnDelete() {
    if (DeleteRunning() || m_arrRows.empty()) return;
    std::unique_ptr<DeleteJob> job(new DeleteJob);
    job->tab = m_hWnd;
    job->userId = g_LoginSession.m_nUserId;
    job->port = g_Settings.GetServerPort();
    for (CUploaded* row : m_arrRows) {
        if (row->IsChecked()) job->files.push_back({row->m_nFileId, row->m_strServerHost});
    }
    CWinThread* thread =
        AfxBeginThread(&CTabUploaded::DeleteFilesThreadProc, job.get(), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (!thread) return;
    thread->m_bAutoDelete = FALSE;
    m_deleteJob = std::move(job);
    m_pDeleteThread = thread;
    m_btnDelete.EnableWindow(FALSE);  // until the reload shows what the servers still hold
    thread->ResumeThread();
}

UINT __cdecl CTabUploaded::DeleteFilesThreadProc(LPVOID job) {
    DeleteCheckedFiles(*static_cast<DeleteJob*>(job));
    return 0;
}

void CTabUploaded::DeleteCheckedFiles(DeleteJob& job) {
    for (const DeleteJob::File& file : job.files) {
        if (job.stop) return;
        // To the server that holds the file; a failed connect skips it, the reload shows the rest.
        CServerExchange exchange;
        if (exchange.Connect(file.host, job.port)) {
            exchange.Send(protocol::BuildDeleteFile(job.userId, file.fileId));
            ::Sleep(100);
        }
    }
    if (!job.stop) ::PostMessageW(job.tab, WM_DELETE_FINISHED, 0, 0);
}

void CTabUploaded::EndDelete(bool stop) {
    if (!m_pDeleteThread) return;
    if (stop) m_deleteJob->stop = true;
    ::WaitForSingleObject(m_pDeleteThread->m_hThread, INFINITE);
    delete m_pDeleteThread;
    m_pDeleteThread = nullptr;
    m_deleteJob.reset();
}

LRESULT CTabUploaded::OnDeleteFinished(WPARAM, LPARAM) {
    if (!m_pDeleteThread) return 0;
    const uint64_t userId = m_deleteJob->userId;
    EndDelete(false);  // it has posted its last word
    OnLoadList(reinterpret_cast<WPARAM>(&userId), 0);
    m_btnDelete.EnableWindow(TRUE);
    Invalidate(TRUE);
    return 0;
}

HBRUSH CTabUploaded::OnCtlColor(CDC* dc, CWnd*, UINT) { return palette::Paint(*dc, m_brush, kBackground); }

void CTabUploaded::OnDestroy() {
    EndDelete(true);
    CDialog::OnDestroy();
    DeleteRows();
}
