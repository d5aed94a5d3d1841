#include "client/transfer/CUploading.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "client/app/CAppSettings.h"
#include "client/session/CLoginSession.h"
#include "client/transfer/CServerExchange.h"
#include "client/transfer/EngineLog.h"
#include "client/transfer/CIcmpPing.h"
#include "client/transfer/SocketFunctions.h"
#include "client/windows/RowText.h"
#include "framework/CFile.h"
#include "framework/CSingleLock.h"

namespace {

// Entry of the row's upload, resume or cancel thread; the parameter is the row.
template <int (CUploading::*Job)()>
UINT RowThreadProc(LPVOID row) {
    (static_cast<CUploading*>(row)->*Job)();
    return 0;
}

}  // namespace

CUploading::CUploading(const CString& name, const CString& path, uint64_t size, const CString& host, uint16_t port)
    : m_nBaseDone(0),
      m_nThreadCount(0),
      m_strFileName(NameOf(name)),
      m_nServerLoad(0),
      m_nServerExtra(0),
      m_nServerId(0),
      m_dSpeed(0),
      m_nFileSize(size),
      m_nFileId(0),
      m_nState(STATE_UPLOADING),
      m_strHostAtStart(host),
      m_nLink(LINK_PAUSE) {
    std::memset(&m_request, 0, sizeof m_request);
    std::memset(m_hSegmentThreads, 0, sizeof m_hSegmentThreads);
    std::memset(m_pSegmentThreads, 0, sizeof m_pSegmentThreads);
    m_strFilePath = path;
    m_strHost = host;
    m_nPort = port;
    SetUpLinks();
}

CUploading::~CUploading() {
    // Stop whatever still runs, then wait for it all; the segment threads are waited for by the
    // run thread that started them.
    m_bCancel = true;
    Reap(m_pCancelThread);
    Reap(m_pUploadThread);
    for (auto*& t : m_pSegmentThreads) Reap(t);
}

CWinThread* CUploading::Begin(AFX_THREADPROC proc, LPVOID param) {
    CWinThread* thread = AfxBeginThread(proc, param, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (!thread) return nullptr;
    thread->m_bAutoDelete = FALSE;  // the row reads its handle until it has waited for it
    thread->ResumeThread();
    return thread;
}

void CUploading::Reap(CWinThread*& thread) {
    if (!thread) return;
    WaitForSingleObject(thread->m_hThread, INFINITE);
    delete thread;
    thread = nullptr;
}

bool CUploading::Busy() {
    CSingleLock lock(&m_threadLock, TRUE);
    for (CWinThread* t : {m_pUploadThread, m_pCancelThread}) {
        if (t && WaitForSingleObject(t->m_hThread, 0) == WAIT_TIMEOUT) return true;
    }
    return false;
}

bool CUploading::StartUploadThread() { return StartRunThread(RowThreadProc<&CUploading::UploadFile>, false); }

bool CUploading::StartResumeThread() { return StartRunThread(RowThreadProc<&CUploading::ResumeUpload>, true); }

bool CUploading::StartRunThread(AFX_THREADPROC proc, bool resume) {
    CSingleLock lock(&m_threadLock, TRUE);
    if (m_bCancelRequested) return false;
    if (m_pUploadThread && WaitForSingleObject(m_pUploadThread->m_hThread, 0) == WAIT_TIMEOUT) return false;
    Reap(m_pUploadThread);
    if (resume) m_bPause = false;
    m_pUploadThread = Begin(proc, this);
    return m_pUploadThread != nullptr;
}

bool CUploading::StartCancelThread() {
    CSingleLock lock(&m_threadLock, TRUE);
    if (m_bCancelRequested) return false;
    m_bCancelRequested = true;
    m_bCancel = true;  // at once, so the running threads stop while the cancel thread starts
    // The row shows at once that it is going, however long its threads take to end.
    SetLink(m_nLink, false);
    OnCancelLinkEnabled(false);
    m_pCancelThread = Begin(RowThreadProc<&CUploading::CancelUpload>, this);
    return m_pCancelThread != nullptr;
}

void CUploading::SetResumable() {
    m_nState = STATE_RESUMABLE;
    m_bPause = true;
    SetLink(LINK_RESUME, true);
}

LRESULT CUploading::OnStartUpload(WPARAM wParam, LPARAM) {
    std::unique_ptr<CString> path(reinterpret_cast<CString*>(wParam));
    m_nThreadCount = uploadrules::ThreadCount(g_Settings.m_nMaxSendFileThread);
    if (!path || path->IsEmpty()) return -1;
    m_strFilePath = *path;
    return StartUploadThread() ? 0 : -1;
}

void CUploading::SetLink(uint32_t link, bool enabled) {
    m_nLink = link;
    // A row being cancelled offers nothing more, whatever its threads still report.
    OnLinkChanged(link, enabled && !m_bCancel);
}

void CUploading::OnSegmentPaused(int) { SetLink(LINK_RESUME, true); }

void CUploading::SetTransferData(uint32_t index, uint32_t serverId, uint32_t userId, uint32_t fileId,
                                 uint32_t segmentNumber, uint32_t offset, uint32_t bytesDone, uint32_t bytesRemaining) {
    if (index >= static_cast<uint32_t>(kMaxSegments)) return;
    // Unsigned on the wire: a count at or above 2^31 is no negative number.
    auto widen = [](uint32_t v) { return static_cast<int64_t>(static_cast<uint64_t>(v)); };
    CSingleLock lock(&m_segmentLock, TRUE);
    protocol::SegmentRecord& r = m_segments[index];
    r.serverId = widen(serverId);
    r.segmentNumber = widen(segmentNumber);
    r.userId = widen(userId);
    r.fileId = widen(fileId);
    r.offset = widen(offset);
    r.bytesDone = widen(bytesDone);
    r.bytesRemaining = widen(bytesRemaining);
}

void CUploading::TakeReloadedSegments(uint32_t serverId, uint32_t userId, uint32_t fileId,
                                      const std::vector<protocol::SegmentInfo>& segments) {
    SetTransferData(0, serverId, userId, fileId, 0, 0, 0, 0);
    m_nThreadCount = static_cast<int32_t>(segments.size());
    for (size_t i = 0; i < segments.size(); ++i) {
        const protocol::SegmentInfo& s = segments[i];
        SetTransferData(static_cast<uint32_t>(i), serverId, userId, fileId, s.segmentNumber, s.startOffset, s.bytesDone,
                        s.bytesRemaining);
    }
    m_nBaseDone = BytesDone();
}

CString CUploading::NameOf(const CString& path) {
    const int slash = path.ReverseFind(L'\\');
    return slash >= 0 ? path.Mid(slash + 1) : path;
}

uint64_t CUploading::BytesDone() const {
    std::vector<uploadrules::Segment> segments;
    const int count = m_nThreadCount;
    for (int i = 0; i < count && i < kMaxSegments; ++i) {
        uploadrules::Segment s;
        s.done = static_cast<uint64_t>(std::max<int64_t>(SegmentBytesDone(i), 0));
        segments.push_back(s);
    }
    return uploadrules::DoneSum(segments);
}

uint64_t CUploading::FinalBytesDone() const {
    if (m_nState == STATE_DONE) return m_nFileSize;
    const int64_t held = m_nListedHeld;
    return held >= 0 ? static_cast<uint64_t>(held) : BytesDone();
}

bool CUploading::HoldFile(const CString& path, CFile& file, uint64_t& size, uint64_t& writeTime) {
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite | CFile::modeNoInherit)) return false;
    LARGE_INTEGER length = {};
    FILETIME written = {};
    if (!::GetFileSizeEx(file.m_hFile, &length) || !::GetFileTime(file.m_hFile, nullptr, nullptr, &written))
        return false;
    size = static_cast<uint64_t>(length.QuadPart);
    writeTime = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    return true;
}

int CUploading::UploadFile() {
    // Held for the whole upload: what goes out is the file as it is now, never a file that
    // another program is still writing.
    CFile held;
    uint64_t length = 0, writeTime = 0;
    if (!HoldFile(m_strFilePath, held, length, writeTime)) {
        ShowFileReadError();
        return -1;
    }
    m_nWriteTimeAtStart = writeTime;
    m_nState = STATE_UPLOADING;
    m_nFileSize = length;
    m_nFileId = 0;
    m_nListedHeld = -1;
    MarkRunStart();
    // A retry goes out as a new upload: the configured threads, and the control server even for
    // a row rebuilt from the server's list, which knew only the file's own server.
    m_nThreadCount = uploadrules::ThreadCount(g_Settings.m_nMaxSendFileThread);
    m_strHost = m_strHostAtStart.IsEmpty() ? g_Settings.m_strServerAddr : m_strHostAtStart;
    const uint64_t userId = g_LoginSession.m_nUserId;
    if (m_bCancel) return 0;

    CServerExchange control(m_sockControl);
    protocol::Bytes list;
    std::vector<protocol::ServerInfo> servers;
    if (!control.ConnectToControl(m_strHost) || !control.Request(protocol::BuildServerList(), list) ||
        !protocol::ParseServerList(list.data(), list.size(), servers) || servers.empty())
        return EndRun(Report());
    control.Close();
    if (m_bCancel) return 0;

    EngineLog(L"into ChooseTheBestUploadServer");
    std::vector<protocol::ServerRecord> records(servers.size());
    for (size_t i = 0; i < servers.size(); ++i) {
        protocol::ServerRecord& r = records[i];
        std::memset(&r, 0, sizeof r);
        r.serverId = servers[i].serverId;
        protocol::WriteTextField(r.host, sizeof r.host, servers[i].host);
        r.load = servers[i].load;
        r.extra = servers[i].extra;
        r.port = servers[i].port;
    }
    // A cancelled row never uses the choice: it stops pinging at once.
    int best = ChooseTheBestUploadServer(records.data(), static_cast<int>(records.size()),
                                         [this] { return m_bCancel.load(); });
    if (best < 0 || best >= static_cast<int>(servers.size())) best = 0;
    const protocol::ServerInfo& chosen = servers[static_cast<size_t>(best)];
    Utf8ToWide(chosen.host.c_str(), m_strHost);
    m_nPort = chosen.port;
    m_nServerLoad = chosen.load;
    m_nServerExtra = chosen.extra;
    m_nServerId = chosen.serverId;
    // A cancel during the choice stops here, before the server hears of the file.
    if (m_bCancel) return 0;

    EngineLog(L"into MSG_CODE_REQ_UPLOAD_FILE");
    const protocol::Bytes request =
        protocol::BuildUploadFile(userId, length, m_nServerId, static_cast<uint32_t>(m_nThreadCount.load()),
                                  WideToUtf8String(m_strFileName), WideToUtf8String(m_strFilePath));
    std::memcpy(&m_request, request.data(), sizeof m_request);
    EngineLog(L"%s", static_cast<LPCWSTR>(m_strHost));
    uint64_t fileId = 0;
    {
        CServerExchange announce(m_sockUpload);
        const bool answered = announce.ConnectToControl(m_strHost) && announce.Request(request, m_arrUploadReply) &&
                              protocol::ParseUploadFileReply(m_arrUploadReply.data(), m_arrUploadReply.size(), fileId);
        m_arrUploadReply.clear();
        if (!answered) return EndRun(Report());
    }
    EngineLog(L"out MSG_CODE_REQ_UPLOAD_FILE");
    m_nFileId = fileId;
    if (fileId == 0) return EndRun(Report());
    if (m_bCancel) return 0;

    m_nBaseDone = 0;
    return RunUntilSettled(m_nServerId, userId, fileId);
}

int CUploading::ResumeUpload() {
    CFile held;
    uint64_t size = 0, writeTime = 0;
    if (!HoldFile(m_strFilePath, held, size, writeTime)) {
        // Still paused, so the next click tries again.
        SetResumable();
        if (!m_bCancel) ShowFileBusyError();
        return -1;
    }
    const uint64_t writtenAtStart = m_nWriteTimeAtStart;
    if (size != m_nFileSize || (writtenAtStart != 0 && writeTime != writtenAtStart)) {
        // Written since the upload began: the server's bytes and the file's no longer match.
        if (!m_bCancel) OfferNewUpload();
        return 0;
    }
    MarkRunStart();
    const protocol::SegmentRecord first = SegmentSnapshot(0);
    return RunUntilSettled(static_cast<uint64_t>(first.serverId), static_cast<uint64_t>(first.userId),
                           static_cast<uint64_t>(first.fileId));
}

int CUploading::RunUntilSettled(uint64_t serverId, uint64_t userId, uint64_t fileId) {
    // One segment list before the first run and one after each: the list that ends a run is
    // the one the next run starts from. What the server holds decides, never what the sockets
    // took.
    std::vector<uploadrules::Segment> list;
    bool listed = GetUploadInfo(list);
    uint64_t heldBefore = 0;  // by the list the last run started from
    for (int runs = 0;;) {
        const uint64_t held = listed ? uploadrules::HeldBytes(list, m_nFileSize) : 0;
        if (listed) {
            WriteRecords(list, serverId, userId, fileId);
            m_nListedHeld = static_cast<int64_t>(held);
        }
        uploadrules::RunReport report = Report();
        report.fileKnown = true;
        report.listed = listed;
        report.wholeFile = listed && uploadrules::HoldsWholeFile(list, m_nFileSize);
        report.noSegments = listed && list.empty();
        report.progressed = runs > 0 && listed && held > heldBefore;
        report.runs = runs;
        if (uploadrules::AfterRun(report) != uploadrules::Outcome::RunAgain) return EndRun(report);
        if (runs > 0 && !WaitBeforeRun(runs)) continue;  // a pause or a cancel came: decide again
        SetLink(LINK_PAUSE, true);
        heldBefore = held;
        SendFile(list.size());
        ++runs;
        listed = GetUploadInfo(list);
    }
}

bool CUploading::WaitBeforeRun(int runs) {
    const DWORD until = GetTickCount() + kRunAgainDelay * static_cast<DWORD>(runs);
    while (static_cast<int32_t>(until - GetTickCount()) > 0) {
        if (m_bCancel || m_bPause) return false;
        Sleep(20);
    }
    return !m_bCancel && !m_bPause;
}

uploadrules::RunReport CUploading::Report() const {
    uploadrules::RunReport report;
    report.cancelled = m_bCancel;
    report.paused = m_bPause;
    return report;
}

int CUploading::EndRun(const uploadrules::RunReport& report) {
    switch (uploadrules::AfterRun(report)) {
    case uploadrules::Outcome::Done:
        m_nState = STATE_DONE;
        m_nBaseDone = m_nFileSize.load();
        ShowFinalProgress();
        SetLink(LINK_DONE, true);
        OnCancelLinkEnabled(false);
        break;
    case uploadrules::Outcome::Resumable:
        // Paused before its last display, which then shows no speed, like the pause click.
        m_bPause = true;
        m_nState = STATE_RESUMABLE;
        ShowFinalProgress();
        SetLink(LINK_RESUME, true);
        break;
    case uploadrules::Outcome::Retry:
        if (report.fileKnown) ShowFinalProgress();
        SetLink(LINK_RETRY, true);
        m_nState = STATE_RETRY;
        break;
    default: break;
    }
    return report.fileKnown ? 0 : -1;
}

void CUploading::MarkRunStart() {
    CSingleLock lock(&m_displayLock, TRUE);
    m_timeLast = CTime::GetCurrentTime();
}

bool CUploading::TakeFinalSpeed(uint64_t done, bool paused, double& speed) {
    CSingleLock lock(&m_displayLock, TRUE);
    m_timeNow = CTime::GetCurrentTime();
    bool known = true;
    if (paused || m_timeLast.GetTime() == 0) {
        m_dSpeed = 0;  // nothing moves, or nothing ever did: no span to measure over
    } else {
        const int64_t span = (m_timeNow - m_timeLast).GetTotalSeconds();
        known = span != 0;
        if (known) m_dSpeed = rowtext::SpeedOf(done, m_nBaseDone, static_cast<double>(span));
    }
    speed = m_dSpeed;
    // All 64 bits: the next speed of a file past 4 GiB starts from where this one ended.
    m_nBaseDone = done;
    m_timeLast = m_timeNow;
    return known;
}

double CUploading::MeasureSpeed(const TimeValue& start, uint64_t done, uint64_t base) {
    TimeValue now = {};
    TimeOfDay(&now);
    const double elapsed = rowtext::ElapsedSeconds(start.tv_sec, start.tv_usec, now.tv_sec, now.tv_usec);
    m_dSpeed = rowtext::SpeedOf(done, base, elapsed);
    return m_dSpeed;
}

void CUploading::WatchSegments(const TimeValue& start, uint64_t base) {
    HANDLE handles[kMaxSegments];
    int count = 0;
    for (int i = 0; i < kMaxSegments; ++i) {
        if (m_hSegmentThreads[i]) handles[count++] = m_hSegmentThreads[i];
    }
    while (count > 0 && WaitForMultipleObjects(static_cast<DWORD>(count), handles, TRUE, 1000) == WAIT_TIMEOUT) {
        UpdateProgress(start, std::min<uint64_t>(BytesDone(), m_nFileSize), base);
    }
    // Every segment thread has ended (or the wait failed): wait for each for certain, then let go.
    for (int i = 0; i < kMaxSegments; ++i) {
        m_hSegmentThreads[i] = nullptr;
        Reap(m_pSegmentThreads[i]);
    }
}

bool CUploading::GetUploadInfo(std::vector<uploadrules::Segment>& list) {
    EngineLog(L"into GetUploadInfoAndSendFile");
    list.clear();
    CServerExchange control;
    protocol::Bytes reply;
    std::vector<protocol::SegmentInfo> segments;
    // At most the row's ten segments, and only descriptors the body really holds.
    if (!control.ConnectToControl() ||
        !control.Request(protocol::BuildUploadInfo(g_LoginSession.m_nUserId, m_nFileId), reply) ||
        !protocol::ParseSegmentList(reply.data(), reply.size(), segments)) {
        EngineLog(L"CUploading::GetUploadInfoAndSendFile, error is  %d.", static_cast<int>(GetLastError()));
        return false;
    }
    for (const protocol::SegmentInfo& d : segments)
        list.push_back(uploadrules::Clamp(d.segmentNumber, d.startOffset, d.bytesDone, d.bytesRemaining, m_nFileSize));
    return true;
}

void CUploading::WriteRecords(const std::vector<uploadrules::Segment>& list, uint64_t serverId, uint64_t userId,
                              uint64_t fileId) {
    EngineLog(L"into SetTransferData");
    m_nThreadCount = static_cast<int32_t>(list.size());
    // Clamped to a file whose offsets the wire holds in 32 bits, so each value fits.
    for (size_t i = 0; i < list.size(); ++i) {
        const uploadrules::Segment& d = list[i];
        SetTransferData(static_cast<uint32_t>(i), static_cast<uint32_t>(serverId), static_cast<uint32_t>(userId),
                        static_cast<uint32_t>(fileId), d.number, static_cast<uint32_t>(d.offset),
                        static_cast<uint32_t>(d.done), static_cast<uint32_t>(d.remaining));
    }
}

void CUploading::SendFile(size_t segments) {
    TimeValue start = {};
    TimeOfDay(&start);
    m_nBaseDone = BytesDone();
    MarkRunStart();  // the base and the time the run's final speed counts from go together
    for (size_t i = 0; i < segments && i < static_cast<size_t>(kMaxSegments); ++i) {
        CWinThread* thread = Begin(SendFileThreadProcStub, new SegmentThreadParam{this, static_cast<int>(i)});
        m_pSegmentThreads[i] = thread;
        m_hSegmentThreads[i] = thread ? thread->m_hThread : nullptr;
    }
    WatchSegments(start, m_nBaseDone);
}

void CUploading::SendDelete(uint64_t fileId) {
    CServerExchange control;
    if (control.ConnectToControl()) control.Send(protocol::BuildDeleteFile(g_LoginSession.m_nUserId, fileId));
}

void CUploading::OfferNewUpload() {
    EngineLog(L"%s changed since its upload began: it goes again as a new file.", m_strFilePath.GetString());
    // Nobody resumes the old upload again, from this row or from the server's list.
    const uint64_t stale = m_nFileId.exchange(0);
    if (stale != 0) SendDelete(stale);
    m_nState = STATE_RETRY;
    SetLink(LINK_RETRY, true);
}

int CUploading::CancelUpload() {
    m_bCancel = true;
    // The running threads stop within moments; the delete need not wait for them once the
    // server has named the file.
    const bool page = m_hParentPage != nullptr;
    uint64_t deleted = page ? m_nFileId.load() : 0;
    if (deleted != 0) SendDelete(deleted);
    CWinThread* run = nullptr;
    {
        CSingleLock lock(&m_threadLock, TRUE);
        run = m_pUploadThread;
    }
    if (run) WaitForSingleObject(run->m_hThread, INFINITE);
    if (!page) return 0;
    // Named by the server while this cancel waited for the announcement.
    if (deleted == 0 && m_nFileId != 0) SendDelete(m_nFileId);
    ReportCancelled();
    return 0;
}

void CUploading::ReportCancelled() {
    if (m_hParentPage) ::PostMessageW(m_hParentPage, WM_UPLOAD_CANCELLED, reinterpret_cast<WPARAM>(this), 0);
}
