#include "client/transfer/Uploading.h"

#include <cstring>
#include <memory>

#include "client/app/AppSettings.h"
#include "client/session/LoginSession.h"
#include "client/transfer/EngineLog.h"
#include "client/transfer/IcmpPing.h"
#include "client/transfer/SocketFunctions.h"
#include "framework/CFile.h"
#include "framework/CFileException.h"
#include "framework/CSingleLock.h"

namespace {

// Reads exactly `size` bytes; a blocking socket may hand a reply over in pieces.
bool ReceiveAll(CSocket& s, void* buffer, size_t size) {
    char* p = static_cast<char*>(buffer);
    while (size > 0) {
        const int got = s.Receive(p, static_cast<int>(size));
        if (got <= 0) return false;
        p += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool SendAll(CSocket& s, const protocol::Bytes& bytes) {
    return s.Send(bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
}

// Header and body of one reply; false for a short or foreign header, or a body too large to take.
bool ReceiveReply(CSocket& s, bool checkMagic, protocol::Bytes& message) {
    protocol::PacketHeader header = {};
    if (!ReceiveAll(s, &header, sizeof header)) return false;
    if (checkMagic && header.magic != protocol::kMagic) return false;
    if (header.bodyLength > CUploading::kMaxReplyBody) return false;
    message.resize(sizeof header + header.bodyLength);
    std::memcpy(message.data(), &header, sizeof header);
    return ReceiveAll(s, message.data() + sizeof header, header.bodyLength);
}

CString ControlHost() { return g_Settings.m_strServerAddr; }

CString NameOf(const CString& name) {
    const int slash = name.ReverseFind(L'\\');
    return slash >= 0 ? name.Mid(slash + 1) : name;
}

}  // namespace

UINT UploadFileThreadProc(LPVOID row) {
    static_cast<CUploading*>(row)->UploadFile();
    return 0;
}

UINT ResumeUploadThreadProc(LPVOID row) {
    static_cast<CUploading*>(row)->ResumeUpload();
    return 0;
}

UINT CancelUploadThreadProc(LPVOID row) {
    static_cast<CUploading*>(row)->CancelUpload();
    return 0;
}

CUploading::CUploading(const CString& name, const CString& path, int32_t size, const CString& host, uint16_t port)
    : m_nBaseDone(0),
      m_nThreadCount(0),
      m_strFileName(NameOf(name)),
      m_nServerLoad(0),
      m_nServerExtra(0),
      m_nServerId(0),
      m_dSpeed(0),
      m_nFileSize(static_cast<uint64_t>(static_cast<int64_t>(size))),
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
    m_bCancel = 1;
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

bool CUploading::SameThreadAs(CWinThread* thread) const {
    return thread && thread->m_nThreadID == GetCurrentThreadId();
}

bool CUploading::Busy() {
    CSingleLock lock(&m_threadLock, TRUE);
    for (CWinThread* t : {m_pUploadThread, m_pCancelThread}) {
        if (t && WaitForSingleObject(t->m_hThread, 0) == WAIT_TIMEOUT) return true;
    }
    return false;
}

bool CUploading::StartUploadThread() {
    CSingleLock lock(&m_threadLock, TRUE);
    if (m_bCancelRequested) return false;
    if (m_pUploadThread && WaitForSingleObject(m_pUploadThread->m_hThread, 0) == WAIT_TIMEOUT) return false;
    Reap(m_pUploadThread);
    m_pUploadThread = Begin(UploadFileThreadProc, this);
    return m_pUploadThread != nullptr;
}

bool CUploading::StartResumeThread() {
    CSingleLock lock(&m_threadLock, TRUE);
    if (m_bCancelRequested) return false;
    if (m_pUploadThread && WaitForSingleObject(m_pUploadThread->m_hThread, 0) == WAIT_TIMEOUT) return false;
    Reap(m_pUploadThread);
    m_bPause = 0;
    m_pUploadThread = Begin(ResumeUploadThreadProc, this);
    return m_pUploadThread != nullptr;
}

bool CUploading::StartCancelThread() {
    CSingleLock lock(&m_threadLock, TRUE);
    if (m_bCancelRequested) return false;
    m_bCancelRequested = true;
    m_bCancel = 1;  // at once, so the running threads stop while the cancel thread starts
    m_pCancelThread = Begin(CancelUploadThreadProc, this);
    return m_pCancelThread != nullptr;
}

LRESULT CUploading::OnStartUpload(WPARAM wParam, LPARAM) {
    std::unique_ptr<CString> path(reinterpret_cast<CString*>(wParam));
    int threads = g_Settings.m_nMaxSendFileThread;
    if (threads < 1) threads = 1;
    if (threads > kMaxSegments) threads = kMaxSegments;
    m_nThreadCount = threads;
    if (!path || path->IsEmpty()) return -1;
    m_strFilePath = *path;
    return StartUploadThread() ? 0 : -1;
}

void CUploading::SetLink(uint32_t link, bool enabled) {
    m_nLink = link;
    OnLinkChanged(link, enabled);
}

void CUploading::OnSegmentPaused(int) { SetLink(LINK_RESUME, true); }

void CUploading::SetTransferData(uint32_t index, uint32_t serverId, uint32_t userId, uint32_t fileId,
                                 uint32_t segmentNumber, uint32_t offset, uint32_t bytesDone,
                                 uint32_t bytesRemaining) {
    if (index >= static_cast<uint32_t>(kMaxSegments)) return;
    auto widen = [](uint32_t v) { return static_cast<int64_t>(static_cast<int32_t>(v)); };
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

uint64_t CUploading::BytesDone() const {
    uint64_t sum = 0;
    const int count = m_nThreadCount;
    for (int i = 0; i < count && i < kMaxSegments; ++i) sum += static_cast<uint64_t>(SegmentBytesDone(i));
    return sum;
}

uint32_t CUploading::LowSum() const {
    uint32_t sum = 0;
    const int count = m_nThreadCount;
    for (int i = 0; i < count && i < kMaxSegments; ++i) sum += static_cast<uint32_t>(SegmentBytesDone(i));
    return sum;
}

int CUploading::UploadFile() {
    uint64_t length = 0;
    try {
        CFile file(m_strFilePath, CFile::modeRead | CFile::shareExclusive);
        length = file.GetLength();
        file.Close();
    } catch (CFileException* e) {
        e->Delete();
        ShowFileReadError();
        return -1;
    }
    m_nState = STATE_UPLOADING;
    m_nFileSize = length;
    m_nFileId = 0;
    m_strHost = m_strHostAtStart;
    const uint64_t userId = g_LoginSession.m_nUserId;
    if (m_bCancel) return 0;

    m_sockControl.Create();
    m_sockControl.SetTimeOut(kExchangeTimeOut);
    if (!m_sockControl.Connect(m_strHost, g_Settings.GetServerPort())) {
        m_sockControl.Close();
        SetLink(LINK_RETRY, true);
        m_nState = STATE_RETRY;
        return 0;
    }
    protocol::Bytes list;
    if (!SendAll(m_sockControl, protocol::BuildServerList()) || !ReceiveReply(m_sockControl, true, list)) {
        m_sockControl.Close();
        return -1;
    }
    std::vector<protocol::ServerInfo> servers;
    if (!protocol::ParseServerList(list.data(), list.size(), servers) || servers.empty()) {
        m_sockControl.Close();
        return -1;
    }
    m_sockControl.Close();
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
    int best = ChooseTheBestUploadServer(records.data(), static_cast<int>(records.size()));
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
    const protocol::Bytes request = protocol::BuildUploadFile(
        userId, length, m_nServerId, static_cast<uint32_t>(m_nThreadCount.load()),
        WideToUtf8String(m_strFileName), WideToUtf8String(m_strFilePath));
    std::memcpy(&m_request, request.data(), sizeof m_request);
    m_sockUpload.Create();
    m_sockUpload.SetTimeOut(kExchangeTimeOut);
    EngineLog(L"%s", static_cast<LPCWSTR>(m_strHost));
    if (!m_sockUpload.Connect(m_strHost, g_Settings.GetServerPort())) {
        m_sockUpload.Close();
        return -1;
    }
    if (!SendAll(m_sockUpload, request) || !ReceiveReply(m_sockUpload, true, m_pUploadReply)) {
        m_sockUpload.Close();
        m_pUploadReply.clear();
        return -1;
    }
    EngineLog(L"out MSG_CODE_REQ_UPLOAD_FILE");
    uint64_t fileId = 0;
    protocol::ParseUploadFileReply(m_pUploadReply.data(), m_pUploadReply.size(), fileId);
    m_nFileId = fileId;
    m_sockUpload.Close();
    m_pUploadReply.clear();
    if (fileId == 0) return 0;
    if (m_bCancel) return 0;

    m_nBaseDone = 0;
    GetUploadInfoAndSendFile(m_nServerId, userId, fileId);
    SetLink(LINK_PAUSE, true);
    TimeValue start = {};
    TimeOfDay(&start);
    WatchSegments(start, 0);
    if (m_bCancel) return 0;

    const uint32_t sum = LowSum();
    if (sum == static_cast<uint32_t>(m_nFileSize) && (m_nFileSize >> 32) == 0) {
        m_nState = STATE_DONE;
        m_nBaseDone = sum;
        ShowFinalProgress();
        SetLink(LINK_DONE, true);
        OnCancelLinkEnabled(false);
    } else {
        SetLink(LINK_RESUME, true);
        m_bPause = 1;
        m_nBaseDone = sum;
        m_nState = STATE_RESUMABLE;
    }
    return 0;
}

void CUploading::WatchSegments(const TimeValue& start, uint64_t base) {
    HANDLE handles[kMaxSegments];
    int count = 0;
    for (int i = 0; i < kMaxSegments; ++i) {
        if (m_hSegmentThreads[i]) handles[count++] = m_hSegmentThreads[i];
    }
    while (count > 0 && WaitForMultipleObjects(static_cast<DWORD>(count), handles, TRUE, 1000) == WAIT_TIMEOUT) {
        UpdateProgress(start, BytesDone(), base);
    }
    // Every segment thread has ended (or the wait failed): wait for each for certain, then let go.
    for (int i = 0; i < kMaxSegments; ++i) {
        m_hSegmentThreads[i] = nullptr;
        Reap(m_pSegmentThreads[i]);
    }
}

void CUploading::GetUploadInfoAndSendFile(uint64_t serverId, uint64_t userId, uint64_t fileId) {
    EngineLog(L"into GetUploadInfoAndSendFile");
    CTimeOutSocket s;
    s.Create();
    s.SetTimeOut(kExchangeTimeOut);
    if (!s.Connect(ControlHost(), g_Settings.GetServerPort())) {
        s.Close();
        return;
    }
    protocol::Bytes reply;
    if (!SendAll(s, protocol::BuildUploadInfo(g_LoginSession.m_nUserId, m_nFileId)) ||
        !ReceiveReply(s, false, reply) || reply.size() == sizeof(protocol::PacketHeader)) {
        if (reply.size() < sizeof(protocol::PacketHeader) && !reply.empty())
            EngineLog(L"CUploading::GetUploadInfoAndSendFile, error is  %d.", static_cast<int>(GetLastError()));
        s.Close();
        return;
    }
    s.Close();
    std::vector<protocol::SegmentInfo> segments;
    protocol::ListInfo info;
    // At most the row's ten segments, and only descriptors the body really holds.
    protocol::ParseSegmentList(reply.data(), reply.size(), segments, &info);
    if (segments.size() > static_cast<size_t>(kMaxSegments)) segments.resize(kMaxSegments);
    if (m_bCancel) return;

    EngineLog(L"into SetTransferData");
    m_nThreadCount = static_cast<int32_t>(segments.size());
    uint32_t sum = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        const protocol::SegmentInfo& d = segments[i];
        const uint32_t index = static_cast<uint32_t>(i);
        SetTransferData(index, static_cast<uint32_t>(serverId), static_cast<uint32_t>(userId),
                        static_cast<uint32_t>(fileId), d.segmentNumber, d.startOffset, d.bytesDone, d.bytesRemaining);
        CWinThread* thread = Begin(SendFileThreadProcStub, new SegmentThreadParam{this, static_cast<int>(i)});
        m_pSegmentThreads[i] = thread;
        m_hSegmentThreads[i] = thread ? thread->m_hThread : nullptr;
        sum += d.bytesDone;
    }
    m_nBaseDone = sum;
}

int CUploading::ResumeUpload() {
    const protocol::SegmentRecord first = SegmentSnapshot(0);
    GetUploadInfoAndSendFile(static_cast<uint64_t>(first.serverId), static_cast<uint64_t>(first.userId),
                             static_cast<uint64_t>(first.fileId));
    SetLink(LINK_PAUSE, true);
    TimeValue start = {};
    TimeOfDay(&start);
    const uint64_t base = BytesDone();
    WatchSegments(start, base);
    if (m_bCancel) return 0;
    const uint32_t sum = LowSum();
    if (sum == static_cast<uint32_t>(m_nFileSize) && (m_nFileSize >> 32) == 0) {
        m_nState = STATE_DONE;
        SetLink(LINK_DONE, true);
        OnCancelLinkEnabled(false);
        ShowFinalProgress();
    } else {
        // Stopped short without a pause too (a send error): the link offers the resume again.
        SetLink(LINK_RESUME, true);
        m_bPause = 1;
    }
    m_nBaseDone = sum;
    return 0;
}

int CUploading::CancelUpload() {
    m_bCancel = 1;
    // The run thread stops at its next look at the flag; its segment threads after their chunk.
    CWinThread* run = nullptr;
    {
        CSingleLock lock(&m_threadLock, TRUE);
        run = m_pUploadThread;
    }
    if (run) WaitForSingleObject(run->m_hThread, INFINITE);
    if (!m_hParentPage) return 0;

    const uint64_t fileId = m_nFileId;
    if (fileId != 0) {
        CTimeOutSocket s;
        s.Create();
        s.SetTimeOut(kExchangeTimeOut);
        if (s.Connect(ControlHost(), g_Settings.GetServerPort()))
            SendAll(s, protocol::BuildDeleteFile(g_LoginSession.m_nUserId, fileId));
        s.Close();
    }
    ReportCancelled();
    return 0;
}

void CUploading::ReportCancelled() {
    if (m_hParentPage) ::PostMessageW(m_hParentPage, WM_UPLOAD_CANCELLED, reinterpret_cast<WPARAM>(this), 0);
}
