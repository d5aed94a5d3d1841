#include "client/transfer/CUploadSegments.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "client/transfer/EngineLog.h"
#include "client/transfer/SocketFunctions.h"
#include "framework/CFile.h"
#include "framework/CFileException.h"
#include "framework/CSingleLock.h"

SegmentTimeouts g_SegmentTimeouts;

CUploadSegments::CUploadSegments() : m_nPort(0), m_bPause(false), m_bCancel(false) {
    std::memset(m_segments, 0, sizeof m_segments);
}

int64_t CUploadSegments::SegmentBytesDone(int index) const {
    if (index < 0 || index >= kMaxSegments) return 0;
    CSingleLock lock(&m_segmentLock, TRUE);
    return m_segments[index].bytesDone;
}

protocol::SegmentRecord CUploadSegments::StampSegmentHeader(int index) {
    protocol::SegmentRecord copy = {};
    if (index < 0 || index >= kMaxSegments) return copy;
    CSingleLock lock(&m_segmentLock, TRUE);
    protocol::PacketHeader& h = m_segments[index].header;
    h.magic = protocol::kMagic;
    h.code = protocol::MSG_CODE_SEND_FILE_DATA;
    h.bodyLength = sizeof(protocol::SegmentRecord) - sizeof(protocol::PacketHeader);
    copy = m_segments[index];
    return copy;
}

protocol::SegmentRecord CUploadSegments::SegmentSnapshot(int index) const {
    protocol::SegmentRecord copy = {};
    if (index < 0 || index >= kMaxSegments) return copy;
    CSingleLock lock(&m_segmentLock, TRUE);
    copy = m_segments[index];
    return copy;
}

int64_t CUploadSegments::AdvanceSegment(int index, int64_t sent) {
    if (index < 0 || index >= kMaxSegments) return 0;
    CSingleLock lock(&m_segmentLock, TRUE);
    protocol::SegmentRecord& r = m_segments[index];
    r.bytesRemaining -= sent;
    r.offset += sent;
    r.bytesDone += sent;
    return r.bytesRemaining;
}

namespace {

uint32_t AtMost(int64_t bytesRemaining, uint32_t limit) {
    // Compared as unsigned, as the record's field is sent.
    const uint64_t left = static_cast<uint64_t>(bytesRemaining);
    return left <= limit ? static_cast<uint32_t>(left) : limit;
}

// For a connection given up with bytes still unsent (a cancel, a failed send): a reset, so
// that neither side keeps a connection that can no longer deliver them.
void Abandon(SOCKET s) {
    linger hard = {1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    CloseSocket(s);
}

void RaiseBuffers(SOCKET s) {
    int receiveSize = 0, sendSize = 0;
    if (GetSocketBufSize(s, &receiveSize, &sendSize) != 0) return;
    bool raise = false;
    if (receiveSize < kSegmentSocketBufferFloor) receiveSize = kSegmentSocketBufferFloor, raise = true;
    if (sendSize < kSegmentSocketBufferFloor) sendSize = kSegmentSocketBufferFloor, raise = true;
    if (raise) SetSocketBufSize(s, receiveSize, sendSize);
}

}  // namespace

int SendFileThreadProc(CUploadSegments* row, int index) {
    EngineLog(L"into SendFileThreadProc");
    if (!row || index < 0 || index >= CUploadSegments::kMaxSegments) return 0;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return -1;

    EngineLog(L"GetSocketBufSize");
    RaiseBuffers(s);

    row->m_nPort = protocol::kDataPort;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(protocol::kDataPort);
    address.sin_addr.s_addr = inet_addr(CStringA(row->m_strHost));

    const StopTest stopped = [row] { return row->m_bPause || row->m_bCancel; };
    EngineLog(L"into SConnect");
    // A host text that is no address cannot be connected to (it would parse as broadcast).
    if (address.sin_addr.s_addr == INADDR_NONE || SConnect(s, &address, g_SegmentTimeouts.connect, stopped) != 0) {
        CloseSocket(s);
        return 0;
    }
    SetSocketKeepAlive(s, 1);
    SetSocketTypeOfService(s, kSegmentTypeOfService);
    // Non-blocking for the whole segment: every send keeps its own deadline without switching
    // modes per chunk.
    if (SetSocketNonBlocking(s, 1) != 0) {
        CloseSocket(s);
        return 0;
    }

    row->OnSegmentStarted(index);
    const protocol::SegmentRecord record = row->StampSegmentHeader(index);
    EngineLog(L"into SWrite");
    // Data after a record that did not go whole would be read as a record by the server.
    if (SWriteNonBlocking(s, reinterpret_cast<const char*>(&record), static_cast<int>(sizeof record),
                          g_SegmentTimeouts.header, stopped) != static_cast<int>(sizeof record)) {
        if (row->m_bPause && !row->m_bCancel) row->OnSegmentPaused(index);
        CloseSocket(s);
        return 0;
    }

    int64_t offset = record.offset;
    int64_t remaining = record.bytesRemaining;
    // Several chunks per file read: a seek and a read per chunk cost about as much as its send.
    std::vector<char> buffer(kSegmentReadAhead);
    UINT held = 0, at = 0;  // bytes in the buffer, and how many of them went
    try {
        CFile file(row->m_strFilePath, CFile::modeRead | CFile::shareDenyNone);
        for (;;) {
            if (at == held) {
                if (offset < 0 || file.Seek(offset, CFile::begin) != static_cast<ULONGLONG>(offset)) break;
                held = file.Read(buffer.data(), AtMost(remaining, kSegmentReadAhead));
                at = 0;
                if (held < 1) break;
            }
            const int sent =
                SWriteNonBlocking(s, buffer.data() + at, static_cast<int>(AtMost(held - at, kSegmentChunkSize)),
                                  g_SegmentTimeouts.chunk, stopped);
            if (sent < 0) {
                EngineLog(L"send error %d.", WSAGetLastError());
                Abandon(s);
                file.Close();
                return 0;
            }
            offset += sent;
            at += static_cast<UINT>(sent);
            remaining = row->AdvanceSegment(index, sent);
            if (row->m_bCancel) {
                Abandon(s);
                file.Close();
                return 0;
            }
            if (row->m_bPause) {
                row->OnSegmentPaused(index);
                break;
            }
        }
        file.Close();
    } catch (CFileException* e) {
        EngineLog(L"CFileException error code is %d.", e->m_cause);
        e->Delete();
        CloseSocket(s);
        return 0;
    }
    if (remaining == 0 && !ShutDownAndWaitForClose(s, g_SegmentTimeouts.close, stopped))
        EngineLog(L"no orderly close after the last byte of segment %d.", index);
    // Every byte went, however the wait ended: an ordinary close still delivers what the
    // server has not read yet, where a reset would drop it.
    CloseSocket(s);
    return 0;
}

UINT SendFileThreadProcStub(LPVOID param) {
    EngineLog(L"SendFileThreadProcStub");
    if (!param) return 0;
    std::unique_ptr<SegmentThreadParam> p(static_cast<SegmentThreadParam*>(param));
    if (!p->row) return 0;
    SendFileThreadProc(p->row, p->index);
    return 0;
}
