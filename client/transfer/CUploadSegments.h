// CUploadSegments, SegmentTimeouts, SegmentThreadParam: one segment thread of an upload. Its own
// data connection, the segment record, then the file's bytes from the record's offset in chunks,
// advancing the record as they go.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "client/transfer/Protocol.h"
#include "framework/CCriticalSection.h"
#include "framework/CString.h"

// The part of an upload row that its segment threads share with it. The row writes host, path
// and records before it starts the threads; each thread then owns the progress fields of its
// own record, and everyone else reads them through SegmentBytesDone.
class CUploadSegments {
public:
    static const int kMaxSegments = static_cast<int>(protocol::kSegmentLimit);

    CUploadSegments();
    virtual ~CUploadSegments() = default;

    int64_t SegmentBytesDone(int index) const;
    protocol::SegmentRecord SegmentSnapshot(int index) const;
    // Writes the data message's header into the record and returns the record to send.
    protocol::SegmentRecord StampSegmentHeader(int index);
    // Advances a record by bytes sent (offset, bytes done and bytes remaining together);
    // returns the bytes remaining.
    int64_t AdvanceSegment(int index, int64_t sent);

    CString m_strHost;
    std::atomic<uint16_t> m_nPort;
    CString m_strFilePath;
    protocol::SegmentRecord m_segments[kMaxSegments];
    std::atomic<bool> m_bPause;
    std::atomic<bool> m_bCancel;

    // Hooks for the row's window, called on the segment thread.
    virtual void OnSegmentStarted(int /*index*/) {}  // the progress range becomes 0..100
    virtual void OnSegmentPaused(int /*index*/) {}   // the pause link reads "续传"

protected:
    mutable CCriticalSection m_segmentLock;
};

// Time-outs of a data connection, in seconds; `close` (milliseconds) bounds the wait for the
// server's close after the last byte.
struct SegmentTimeouts {
    int connect = 60;
    int header = 10;
    int chunk = 60;
    int close = 5000;
};
extern SegmentTimeouts g_SegmentTimeouts;

const uint32_t kSegmentChunkSize = 32768;
// Bytes read from the file at a time, sent in chunks.
const uint32_t kSegmentReadAhead = 8 * kSegmentChunkSize;
const int kSegmentSocketBufferFloor = 65536;
const int kSegmentTypeOfService = 8;

// -1 when no socket could be created, 0 otherwise (also for an index outside 0 .. 9). A pause
// or a cancel ends every wait within a tenth of a second; the part of a chunk sent before it
// counts. A segment sent to its end is followed by a shutdown of the sending side and a bounded
// wait for the server's close: what the server holds is then asked of the server, never assumed.
// Its connection is then closed in order, whatever ended the wait; only one given up with bytes
// unsent (a cancel, a failed send) is reset.
int SendFileThreadProc(CUploadSegments* row, int index);

struct SegmentThreadParam {
    CUploadSegments* row;
    int index;
};
// Thread entry: param is a heap SegmentThreadParam, freed here.
UINT SendFileThreadProcStub(LPVOID param);
