// One upload row: a child dialog (template 130) and the engine of its file's upload.
// Engine half (announcement, segment list, one sender thread per segment, the watch loop, pause,
// resume, retry and cancel): client/transfer/CUploading.cpp.
// Window half (controls, painting, link clicks, the texts): client/windows/CUploadingWindow.cpp.
// Its decisions from plain numbers (thread count, clamps, the state after a run):
// client/transfer/UploadRules.h.
// The engine's threads hand the window raw numbers through the hooks below; only the window's
// own thread formats and sets texts. Without a window the engine runs alone.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "client/transfer/Protocol.h"
#include "client/transfer/CUploadSegments.h"
#include "client/transfer/CTimeOutSocket.h"
#include "client/transfer/TimeValue.h"
#include "client/transfer/UploadRules.h"
#include "client/windows/WindowMessages.h"
#include "controls/CGradientProgressCtrl.h"
#include "controls/CHyperLinker.h"
#include "framework/AfxWin.h"
#include "framework/CFile.h"
#include "framework/CString.h"
#include "framework/CTime.h"
#include "framework/CWinThread.h"

class CUploading : public CDialog, public CUploadSegments {
public:
    enum {
        IDD = 130,
        IDC_FILE_NAME = 1008,
        IDC_PROGRESS = 1009,
        IDC_PAUSE_RESUME = 1010,
        IDC_PERCENT = 1011,
        IDC_DONE = 1012,
        IDC_SPEED_CAPTION = 1013,
        IDC_SPEED = 1014,
        IDC_REMAIN = 1015,
        IDC_CANCEL = 1032,
        IDC_DONE_CAPTION = 1042,
        IDC_REMAIN_CAPTION = 1043,
        IDC_SEPARATOR = 1060,
    };
    enum State : uint32_t { STATE_UPLOADING = 0, STATE_RESUMABLE = 1, STATE_RETRY = 2, STATE_DONE = 3 };
    // What the pause/resume link 1010 shows.
    enum Link : uint32_t { LINK_PAUSE = 0, LINK_RESUME = 1, LINK_RETRY = 2, LINK_DONE = 3 };

    // A file that cannot be read, as the row and the page that picks it say so.
    static constexpr wchar_t kFileBusyText[] = L"文件读取错误，该文件已被占用、移动或删除。";

    CUploading(const CString& name, const CString& path, uint64_t size, const CString& host, uint16_t port);
    // Waits for every thread the row started: none may outlive it.
    ~CUploading() override;

    void SetParentPage(HWND page) { m_hParentPage = page; }
    // wParam: heap CString with the full path, owned by the row from here on.
    LRESULT OnStartUpload(WPARAM wParam, LPARAM lParam);

    // Each starts its thread and returns true, or returns false and starts nothing while a
    // thread of the row still runs (or once the row is being cancelled).
    bool StartUploadThread();
    bool StartResumeThread();
    bool StartCancelThread();
    // True while the upload, resume or cancel thread runs.
    bool Busy();

    // A run ends only once the server's segment list was asked: "完成" when it holds every
    // byte, another run from its offsets (a few times) when it lacks some, else "续传".
    int UploadFile();
    int ResumeUpload();
    void SetTransferData(uint32_t index, uint32_t serverId, uint32_t userId, uint32_t fileId, uint32_t segmentNumber,
                         uint32_t offset, uint32_t bytesDone, uint32_t bytesRemaining);
    int CancelUpload();
    // A row rebuilt from the server's list: paused, resumable, its link reading "续传".
    void SetResumable();
    // Opens a file so that no other program may write it while it is read (refused while one
    // holds it open for writing); its size and last write time as it stands. A row uploads only
    // what this opens, and the page adds only what it opens.
    static bool HoldFile(const CString& path, CFile& file, uint64_t& size, uint64_t& writeTime);

    // A row rebuilt from the server's list takes the segment list the server gave (none when
    // the question failed: record 0 still names the file for a resume), and counts its speed
    // from what the list holds.
    void TakeReloadedSegments(uint32_t serverId, uint32_t userId, uint32_t fileId,
                              const std::vector<protocol::SegmentInfo>& segments);
    // The text after the last '\\' of a path.
    static CString NameOf(const CString& path);

    // Sum of bytes done over the segments in use (never wraps).
    uint64_t BytesDone() const;
    // What a run's last display shows as done: the whole file once done, else the bytes the
    // server's last list covers (overlapping ranges count once), else the segments' sum.
    uint64_t FinalBytesDone() const;
    uint32_t State() const { return m_nState; }
    uint32_t LinkShows() const { return m_nLink; }

    // Window hooks, called on the engine's threads (and the display ones on the window's too).
    // They hand numbers to the window; without a window they only keep them.
    virtual void OnLinkChanged(uint32_t link, bool enabled);
    virtual void OnCancelLinkEnabled(bool enabled);
    virtual void UpdateProgress(const TimeValue& start, uint64_t done, uint64_t base);
    virtual void ShowFinalProgress();
    virtual void ShowFileReadError();
    // The file could not be held for a resume: another program writes it, or it went.
    virtual void ShowFileBusyError();
    // Posts WM_UPLOAD_CANCELLED to the page. Posted, not sent: the page deletes the row, and the
    // row's destructor waits for the cancel thread that reports it.
    virtual void ReportCancelled();

    void OnSegmentStarted(int index) override;
    void OnSegmentPaused(int index) override;

    // Window half.
    BOOL OnInitDialog() override;
    // Enter and Escape never end the row nor cancel its upload: only the cancel link does.
    void OnOK() override {}
    void OnCancel() override {}
    afx_msg void OnCancelClicked();
    afx_msg void OnPauseResume();
    afx_msg void OnPaint();
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);
    afx_msg void OnTimer(UINT_PTR id);

    CStatic m_stcFileName;
    CGradientProgressCtrl m_progress;
    CHyperLinker m_lnkPauseResume;
    CHyperLinker m_lnkSeparator;
    CHyperLinker m_lnkCancel;
    CStatic m_stcPercent;
    CStatic m_stcDoneCaption;
    CStatic m_stcDone;
    CStatic m_stcSpeedCaption;
    CStatic m_stcSpeed;
    CStatic m_stcRemainCaption;
    CStatic m_stcRemain;
    // Texts shown; written and read on the window's thread only.
    CString m_strSpeed;
    CString m_strRemain;
    CString m_strDone;
    CString m_strPercent;
    int32_t m_nPercent = 0;

    protocol::UploadFileRequest m_request;
    std::vector<uint8_t> m_arrUploadReply;
    HANDLE m_hSegmentThreads[kMaxSegments];
    std::atomic<uint64_t> m_nBaseDone;
    std::atomic<int32_t> m_nThreadCount;
    CString m_strFileName;
    std::atomic<uint32_t> m_nServerLoad;
    std::atomic<uint32_t> m_nServerExtra;
    std::atomic<uint32_t> m_nServerId;
    CTimeOutSocket m_sockControl;
    CTimeOutSocket m_sockUpload;
    std::atomic<double> m_dSpeed;
    std::atomic<uint64_t> m_nFileSize;
    std::atomic<uint64_t> m_nFileId;
    std::atomic<uint32_t> m_nState;
    CWinThread* m_pUploadThread = nullptr;  // upload, retry or resume thread
    HWND m_hParentPage = nullptr;

    // Pause between automatic runs, per run made: a server that just cut a connection may
    // need a moment before it lists what it kept.
    static const DWORD kRunAgainDelay = 250;

private:
    void SetLink(uint32_t link, bool enabled);
    // Starts a thread the row owns (not self-deleting); null when it could not be made.
    CWinThread* Begin(AFX_THREADPROC proc, LPVOID param);
    // The upload or resume thread, refused while a run thread still runs or once cancelled.
    bool StartRunThread(AFX_THREADPROC proc, bool resume);
    static void Reap(CWinThread*& thread);
    void WatchSegments(const TimeValue& start, uint64_t base);
    // The server's segment list (245), clamped to the file; false when none came.
    bool GetUploadInfo(std::vector<uploadrules::Segment>& list);
    // One run: a thread per segment of the records, watched until all have ended.
    void SendFile(size_t segments);
    void WriteRecords(const std::vector<uploadrules::Segment>& list, uint64_t serverId, uint64_t userId,
                      uint64_t fileId);
    // Runs until the server holds the file, the user paused or cancelled, or the automatic
    // runs are used up.
    int RunUntilSettled(uint64_t serverId, uint64_t userId, uint64_t fileId);
    // Sleeps, waking early for a pause or a cancel; false when one came.
    bool WaitBeforeRun(int runs);
    // The flags as they stand now; a report without more says the server never named the file.
    uploadrules::RunReport Report() const;
    // Ends a run as the report decides (a RunAgain is the caller's to act on): 0, or -1 for a
    // start that failed before the server named the file.
    int EndRun(const uploadrules::RunReport& report);
    // A run begins: its first final display measures the speed from now, neither from the
    // display that ended the run before nor, in the row's first run, from time 0.
    void MarkRunStart();
    // The speed a final display of `done` bytes shows, over the time since the last display or
    // the run's start, and `done` becomes the base of the next. 0 for a paused row and for one
    // that never ran; false when no whole second has passed, the shown speed then stays.
    bool TakeFinalSpeed(uint64_t done, bool paused, double& speed);
    // The speed of a running display: `done` over the time since `start`, past `base`.
    double MeasureSpeed(const TimeValue& start, uint64_t done, uint64_t base);
    void SendDelete(uint64_t fileId);
    // The file is no longer the one the server holds part of: "重传", a new upload.
    void OfferNewUpload();

    CString m_strHostAtStart;
    std::atomic<uint32_t> m_nLink;
    std::atomic<int64_t> m_nListedHeld{-1};  // covered by the last segment list; -1 unknown
    // Last write time of the file when its upload began; 0 for a row rebuilt from the server's
    // list, of which only the size is known.
    std::atomic<uint64_t> m_nWriteTimeAtStart{0};
    CWinThread* m_pSegmentThreads[kMaxSegments];
    CWinThread* m_pCancelThread = nullptr;
    CCriticalSection m_threadLock;  // guards the thread slots and the cancel request
    bool m_bCancelRequested = false;

    // What the engine's threads hand the window: numbers only, taken under m_displayLock.
    struct Display {
        uint64_t done = 0;
        uint64_t size = 0;
        double speed = 0;
        bool speedKnown = false;  // a final display without elapsed time keeps the old speed
        bool paused = false;      // no speed and no time left, as the pause click shows
        bool isFinal = false;
        bool pending = false;
    };
    void PublishDisplay(const Display& d);
    bool OnWindowThread() const;
    void PostToWindow(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    bool FileReadable() const;
    void ShowTip(const CString& text, const CString& title);
    void FitFileName(CDC& dc);
    void SetUpLinks();
    LRESULT OnDisplayPending(WPARAM, LPARAM);
    LRESULT OnLinkPending(WPARAM link, LPARAM enabled);
    LRESULT OnCancelLinkPending(WPARAM enabled, LPARAM);
    LRESULT OnRangePending(WPARAM, LPARAM);
    LRESULT OnFileErrorPending(WPARAM, LPARAM);
    LRESULT OnHandOver(WPARAM, LPARAM);

    mutable CCriticalSection m_displayLock;  // guards m_display, m_timeLast and m_timeNow
    Display m_display;
    CTime m_timeLast{0};
    CTime m_timeNow{0};
    CBrush m_brush;
    bool m_bTipShown = false;
    bool m_bHandedOver = false;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    DECLARE_MESSAGE_MAP()
};
