// The window half of an upload row (the engine half is client/transfer/CUploading.cpp).
//
// The engine's threads never touch the row's controls: they leave numbers in m_display (or in
// a posted message) and the window's own thread turns them into texts.
#include "client/transfer/CUploading.h"

#include <utility>

#include "client/app/CAppSettings.h"
#include "client/transfer/SocketFunctions.h"
#include "client/windows/CTips.h"
#include "client/windows/FitLabel.h"
#include "client/windows/NetworkState.h"
#include "client/windows/Palette.h"
#include "client/windows/RowText.h"
#include "framework/CFile.h"
#include "framework/CSingleLock.h"

namespace {

const wchar_t kFileErrorTitle[] = L"文件读取错误";
const wchar_t kFileGoneText[] = L"文件读取错误，请确认该文件是否移动或被删除。";
const wchar_t kNoNetworkText[] = L"网络无连接，请联网后重试。";
// What a paused row shows for its speed and time left.
const wchar_t kNoSpeedText[] = L"0B/s";
const wchar_t kNoTimeText[] = L"00:00:00";

CString Text(const std::wstring& s) { return CString(s.c_str()); }

const wchar_t* LinkText(uint32_t link) {
    switch (link) {
    case CUploading::LINK_RESUME: return L"续传";
    case CUploading::LINK_RETRY: return L"重传";
    case CUploading::LINK_DONE: return L"完成";
    default: return L"暂停";
    }
}

}  // namespace

BEGIN_MESSAGE_MAP(CUploading, CDialog)
    ON_WM_PAINT()
    ON_MESSAGE(WM_START_UPLOAD, &CUploading::OnStartUpload)
    ON_WM_CTLCOLOR()
    ON_STN_CLICKED(IDC_PAUSE_RESUME, &CUploading::OnPauseResume)
    ON_WM_TIMER()
    ON_STN_CLICKED(IDC_CANCEL, &CUploading::OnCancelClicked)
    ON_MESSAGE(WM_ROW_DISPLAY, &CUploading::OnDisplayPending)
    ON_MESSAGE(WM_ROW_LINK, &CUploading::OnLinkPending)
    ON_MESSAGE(WM_ROW_CANCEL_LINK, &CUploading::OnCancelLinkPending)
    ON_MESSAGE(WM_ROW_RANGE, &CUploading::OnRangePending)
    ON_MESSAGE(WM_ROW_FILE_ERROR, &CUploading::OnFileErrorPending)
    ON_MESSAGE(WM_ROW_HAND_OVER, &CUploading::OnHandOver)
END_MESSAGE_MAP()

void CUploading::SetUpLinks() {
    m_lnkPauseResume.SetLinkStyle(L"暂停", FALSE, palette::kLink, palette::kLink, palette::kLinkHover);
    m_lnkCancel.SetLinkStyle(L"取消", FALSE, palette::kLink, palette::kLink, palette::kLinkHover);
    m_lnkSeparator.SetLinkStyle(L"|", FALSE, palette::kLink, palette::kLink, palette::kLinkHover);
}

void CUploading::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    const std::pair<int, CWnd*> controls[] = {
        {IDC_FILE_NAME, &m_stcFileName},
        {IDC_PROGRESS, &m_progress},
        {IDC_PAUSE_RESUME, &m_lnkPauseResume},
        {IDC_DONE, &m_stcDone},
        {IDC_SPEED, &m_stcSpeed},
        {IDC_PERCENT, &m_stcPercent},
        {IDC_REMAIN, &m_stcRemain},
        {IDC_CANCEL, &m_lnkCancel},
        {IDC_SEPARATOR, &m_lnkSeparator},
        {IDC_DONE_CAPTION, &m_stcDoneCaption},
        {IDC_SPEED_CAPTION, &m_stcSpeedCaption},
        {IDC_REMAIN_CAPTION, &m_stcRemainCaption},
    };
    for (const auto& c : controls) DDX_Control(dx, c.first, *c.second);
}

BOOL CUploading::OnInitDialog() {
    CDialog::OnInitDialog();
    m_progress.SetBkColour(RGB(230, 230, 230));
    m_progress.SetGradientColors(RGB(175, 233, 92), RGB(175, 233, 92));
    return TRUE;
}

bool CUploading::OnWindowThread() const {
    return m_hWnd && GetWindowThreadProcessId(m_hWnd, nullptr) == GetCurrentThreadId();
}

void CUploading::PostToWindow(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!m_hWnd) return;  // an engine without a window keeps its numbers only
    if (OnWindowThread())
        ::SendMessageW(m_hWnd, message, wParam, lParam);
    else
        ::PostMessageW(m_hWnd, message, wParam, lParam);
}

void CUploading::OnLinkChanged(uint32_t link, bool enabled) { PostToWindow(WM_ROW_LINK, link, enabled ? 1 : 0); }

void CUploading::OnCancelLinkEnabled(bool enabled) { PostToWindow(WM_ROW_CANCEL_LINK, enabled ? 1 : 0); }

void CUploading::OnSegmentStarted(int) { PostToWindow(WM_ROW_RANGE); }

void CUploading::ShowFileReadError() { PostToWindow(WM_ROW_FILE_ERROR); }

void CUploading::ShowFileBusyError() { PostToWindow(WM_ROW_FILE_ERROR, 1); }

void CUploading::PublishDisplay(const Display& d) {
    bool queued;
    {
        CSingleLock lock(&m_displayLock, TRUE);
        queued = m_display.pending;
        m_display = d;
        m_display.pending = true;
    }
    if (!m_hWnd) return;
    if (OnWindowThread())
        OnDisplayPending(0, 0);
    else if (!queued)  // one message carries however many updates came before it is read
        ::PostMessageW(m_hWnd, WM_ROW_DISPLAY, 0, 0);
}

void CUploading::UpdateProgress(const TimeValue& start, uint64_t done, uint64_t base) {
    Display d;
    d.done = done;
    d.size = m_nFileSize;
    d.speed = MeasureSpeed(start, done, base);
    d.speedKnown = true;
    d.paused = m_bPause;
    PublishDisplay(d);
}

void CUploading::ShowFinalProgress() {
    // The segments in use are the engine's to count: a lowered setting does not hide any.
    Display d;
    d.done = FinalBytesDone();
    d.size = m_nFileSize;
    d.isFinal = true;
    d.paused = m_bPause;
    d.speedKnown = TakeFinalSpeed(d.done, d.paused, d.speed);
    PublishDisplay(d);
}

LRESULT CUploading::OnDisplayPending(WPARAM, LPARAM) {
    Display d;
    {
        CSingleLock lock(&m_displayLock, TRUE);
        if (!m_display.pending) return 0;
        d = m_display;
        m_display.pending = false;
    }
    if (d.paused)
        m_strSpeed = kNoSpeedText;
    else if (d.speedKnown)
        m_strSpeed = Text(rowtext::Speed(d.speed));
    m_strDone = Text(rowtext::Done(d.done));
    int percent;
    if (d.isFinal) {
        const uint64_t p = rowtext::FinalPercent(d.done, d.size);
        if (p > 100) return 0;  // more done than the file holds: the last display stays
        percent = static_cast<int>(p);
    } else {
        percent = rowtext::RunPercent(d.done, d.size);
    }
    m_strPercent = Text(rowtext::Percent(percent));
    m_nPercent = percent;
    m_strRemain =
        d.paused ? CString(kNoTimeText) : Text(rowtext::Clock(rowtext::RemainingSeconds(d.size, d.done, d.speed)));
    if (m_progress.m_hWnd) m_progress.SetPos(percent > 100 ? 100 : percent);
    SetDlgItemText(IDC_DONE, m_strDone);
    SetDlgItemText(IDC_PERCENT, m_strPercent);
    SetDlgItemText(IDC_SPEED, m_strSpeed);
    SetDlgItemText(IDC_REMAIN, m_strRemain);
    return 0;
}

LRESULT CUploading::OnLinkPending(WPARAM link, LPARAM enabled) {
    if (!m_lnkPauseResume.m_hWnd) return 0;
    m_lnkPauseResume.SetLinkText(LinkText(static_cast<uint32_t>(link)));
    m_lnkPauseResume.EnableWindow(enabled != 0);
    return 0;
}

LRESULT CUploading::OnCancelLinkPending(WPARAM enabled, LPARAM) {
    if (m_lnkCancel.m_hWnd) m_lnkCancel.EnableWindow(enabled != 0);
    return 0;
}

LRESULT CUploading::OnRangePending(WPARAM, LPARAM) {
    if (m_progress.m_hWnd) m_progress.SetRange(0, 100);
    return 0;
}

LRESULT CUploading::OnFileErrorPending(WPARAM resume, LPARAM) {
    // A row being cancelled is about to go; no box should hold it up.
    if (!m_bCancel) ShowTip(resume ? kFileBusyText : kFileGoneText, kFileErrorTitle);
    return 0;
}

bool CUploading::FileReadable() const {
    // As the run will hold it: a file another program is writing is not uploaded meanwhile.
    CFile file;
    uint64_t size = 0, writeTime = 0;
    return HoldFile(m_strFilePath, file, size, writeTime);
}

void CUploading::ShowTip(const CString& text, const CString& title) {
    if (m_bTipShown) return;
    // Owned by the row, so the whole window it sits in waits for the answer.
    CTips box(this);
    box.SetText(text);
    if (!title.IsEmpty()) {
        box.SetTitle(title);
        box.SetOkText(L"确定");
        box.SetCancelText(L"取消");
    }
    m_bTipShown = true;
    box.DoModal();
    m_bTipShown = false;
}

void CUploading::OnPauseResume() {
    switch (m_nState) {
    case STATE_RETRY:
        if (!FileReadable()) {
            ShowTip(kFileBusyText, kFileErrorTitle);
            return;
        }
        if (!NetworkConnected()) {
            ShowTip(kNoNetworkText, L"");
            return;
        }
        StartUploadThread();
        return;
    case STATE_DONE:
        // The page deletes the row when it takes it: not while the link's own click is
        // still being handled, the link being one of the row's members.
        PostMessage(WM_ROW_HAND_OVER);
        return;
    default: break;
    }
    m_bPause = !m_bPause;
    if (m_bPause) {
        m_strSpeed = kNoSpeedText;
        m_strRemain = kNoTimeText;
        SetDlgItemText(IDC_SPEED, m_strSpeed);
        SetDlgItemText(IDC_REMAIN, m_strRemain);
        return;
    }
    if (m_nState != STATE_RESUMABLE) return;
    if (!FileReadable()) {
        // Still paused, so the next click tries again.
        m_bPause = true;
        ShowTip(kFileBusyText, kFileErrorTitle);
        return;
    }
    StartResumeThread();
}

LRESULT CUploading::OnHandOver(WPARAM, LPARAM) {
    if (m_bHandedOver || m_nState != STATE_DONE || !m_hParentPage) return 0;
    m_bHandedOver = true;
    // The page deletes the row inside this call; nothing touches it afterwards.
    ::SendMessageW(m_hParentPage, WM_UPLOAD_DONE, reinterpret_cast<WPARAM>(this), 0);
    return 0;
}

void CUploading::OnCancelClicked() { StartCancelThread(); }

void CUploading::OnTimer(UINT_PTR id) {
    ShowFinalProgress();
    CDialog::OnTimer(id);
}

HBRUSH CUploading::OnCtlColor(CDC* dc, CWnd* wnd, UINT kind) {
    CDialog::OnCtlColor(dc, wnd, kind);  // the links colour their own text
    COLORREF text = CLR_INVALID;
    if (kind == CTLCOLOR_STATIC && wnd) {
        switch (::GetDlgCtrlID(wnd->m_hWnd)) {
        case IDC_FILE_NAME: text = palette::kName; break;
        case IDC_DONE_CAPTION:
        case IDC_DONE:
        case IDC_SPEED_CAPTION:
        case IDC_SPEED:
        case IDC_REMAIN:
        case IDC_REMAIN_CAPTION: text = palette::kHint; break;
        default: break;
        }
    }
    return palette::Paint(*dc, m_brush, palette::kRow, text);
}

void CUploading::FitFileName(CDC& dc) { FitLabelText(dc, m_stcFileName, m_strFileName); }

void CUploading::OnPaint() {
    CPaintDC dc(this);
    CPen pen(PS_SOLID, 1, RGB(220, 220, 220));
    CPen* old = dc.SelectObject(&pen);
    CRect r;
    GetWindowRect(&r);
    ScreenToClient(&r);
    dc.MoveTo(r.left, r.bottom - 1);
    dc.LineTo(r.right, r.bottom - 1);
    dc.SelectObject(old);
    FitFileName(dc);
}
