// The upload page: the first tab of the main dialog. Picks files, checks them against the
// user's space, the rows already listed and the bytes in transfer, and shows one upload row per
// file inside a scrolling container; after a login it rebuilds the user's unfinished uploads
// from the server as paused rows.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "client/transfer/CUploading.h"
#include "client/windows/CDialogFrame.h"
#include "client/windows/WindowMessages.h"
#include "controls/CSkinButton.h"
#include "framework/AfxWin.h"
#include "framework/CMutex.h"

class CFloatWnd;

class CUpload : public CDialog {
public:
    enum {
        IDD = 129,
        IDC_BROWSE = 1004,
        IDC_HINT1 = 1005,
        IDC_HINT2 = 1006,
        IDC_HINT3 = 1008,
        IDC_QUOTA = 1009,
        kTimerId = 1,
        kTimerPeriod = 3000,
        kNameBufferSize = 2562,  // wide characters the file dialog may fill
    };

    explicit CUpload(CWnd* parent = nullptr);
    ~CUpload() override;

    // Used and total space of the logged-in user on the control server; both 0 when the
    // question found no answer.
    static void QueryUserSpace(uint64_t& used, uint64_t& total);
    void ShowSpaceInfo();
    // The main dialog's floating window, which the page's timer feeds.
    void SetFloatWnd(CFloatWnd* wnd) { m_pFloatWnd = wnd; }

    // Chooses the files to add: full paths in the order chosen; false for a cancel. Empty: the
    // platform's open-file dialog. Tests put their own here.
    using FileChooser = std::function<bool(std::vector<CString>& paths)>;
    static FileChooser& Chooser();

    BOOL OnInitDialog() override;
    // Enter and Escape in the page never close it.
    void OnOK() override {}
    void OnCancel() override {}

    int32_t m_nRowCount = 0;
    UINT_PTR m_nTimerId = 0;
    int32_t m_nFloatIndex = 0;
    CMutex m_mutex;
    CStatic m_stcHint1;
    CStatic m_stcHint2;
    CSkinButton m_btnBrowse;
    BOOL m_bFrameShown = FALSE;
    CDialogFrame m_frame;
    CString m_strNoHost;
    std::vector<CUploading*> m_arrRows;
    CStatic m_stcHint3;
    CStatic m_stcQuota;
    CBrush m_brush;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    afx_msg void OnAddFiles();
    afx_msg void OnPaint();
    afx_msg LRESULT OnUploadCancelled(WPARAM row, LPARAM);
    afx_msg LRESULT OnUploadDone(WPARAM row, LPARAM);
    afx_msg LRESULT OnLoadUnfinished(WPARAM userId, LPARAM);
    afx_msg void OnTimer(UINT_PTR id);
    afx_msg void OnDestroy();
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);

private:
    bool ChooseFiles(std::vector<CString>& paths);
    // Adds one chosen file; false when the rest of the selection is to be dropped.
    bool AddFile(const CString& path);
    // The row container, made and laid out once.
    void CreateFrame();
    // Empty view: the hints and "浏览"; list view: the container and "继续添加".
    void ShowEmptyView(bool empty);
    // After rows came or went: the count, the view, the container drawn again.
    void RowsChanged();
    // Takes the row out of the list and deletes it, once all its threads have ended.
    bool RemoveRow(CUploading* row, bool done);
    void PlaceRow(CUploading* row, int index);
    void LayOutRows();
    // Stops every row (the server keeps what it holds) and deletes it, pumping messages
    // meanwhile: the rows' threads post to this thread until they end.
    void DeleteRows();
    void ShowTip(const CString& text);

    CFloatWnd* m_pFloatWnd = nullptr;
    std::vector<wchar_t> m_fileBuffer;

    DECLARE_MESSAGE_MAP()
};
