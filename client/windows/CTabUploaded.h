// The uploaded-files tab: the user's finished files, one row each under a header bar that
// sorts them and checks them all; "下载" opens the checked rows' links, "删除" deletes the
// checked files on their servers and loads the list again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "client/windows/CDialogFrame.h"
#include "client/windows/CHeadFrame.h"
#include "client/windows/CUploaded.h"
#include "client/windows/Palette.h"
#include "client/windows/WindowMessages.h"
#include "controls/CSkinButton.h"
#include "framework/AfxWin.h"
#include "framework/CWinThread.h"

class CTabUploaded : public CDialog {
public:
    enum { IDD = 132, IDC_DOWNLOAD = 1018, IDC_DELETE = 1019 };
    static constexpr COLORREF kBackground = palette::kPage;
    static constexpr wchar_t kOpenFailedText[] = L"提供的超级链接或者制定的文件无法执行";

    explicit CTabUploaded(CWnd* parent = nullptr);
    // Waits for a delete still running; deletes the rows.
    ~CTabUploaded() override;

    BOOL OnInitDialog() override;
    // Enter and Escape in the tab never end it.
    void OnOK() override {}
    void OnCancel() override {}
    // True from a click on "删除" until the list it loads afterwards is shown.
    bool DeleteRunning() const { return m_pDeleteThread != nullptr; }

    CSkinButton m_btnDownload;
    CSkinButton m_btnDelete;
    CDialogFrame m_frame;
    CHeadFrame m_header;
    int32_t m_nDisplayWidth = 0;
    int32_t m_nDisplayHeight = 0;
    int32_t m_nRowCount = 0;
    std::vector<CUploaded*> m_arrRows;
    CBrush m_brush;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    afx_msg void OnPaint();
    afx_msg void OnOpenLink();
    afx_msg LRESULT OnUploadDone(WPARAM, LPARAM);
    afx_msg LRESULT OnLoadList(WPARAM userId, LPARAM);
    afx_msg LRESULT OnSortByName(WPARAM ascending, LPARAM);
    afx_msg LRESULT OnSortBySize(WPARAM ascending, LPARAM);
    afx_msg LRESULT OnSortByExpiry(WPARAM ascending, LPARAM);
    afx_msg LRESULT OnCheckAllRows(WPARAM checked, LPARAM);
    afx_msg LRESULT OnRowCheckChanged(WPARAM checked, LPARAM extra);
    afx_msg void OnDelete();
    afx_msg LRESULT OnDeleteFinished(WPARAM, LPARAM);
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);
    afx_msg void OnDestroy();

private:
    // What the delete worker needs, copied from the rows on this thread: the worker never
    // touches a row, so a sort, a reload or the tab's end cannot pull one from under it.
    struct DeleteJob {
        struct File {
            uint64_t fileId;
            CString host;
        };
        HWND tab = nullptr;
        uint64_t userId = 0;
        UINT port = 0;
        std::vector<File> files;
        std::atomic<bool> stop{false};
    };
    static UINT __cdecl DeleteFilesThreadProc(LPVOID job);
    static void DeleteCheckedFiles(DeleteJob& job);
    // Joins the delete worker and frees its job; `stop` first asks it to end between files.
    void EndDelete(bool stop);

    void LayOut();
    void DeleteRows();
    template <typename Less>
    LRESULT SortRows(bool ascending, Less less);

    CWinThread* m_pDeleteThread = nullptr;
    std::unique_ptr<DeleteJob> m_deleteJob;

    DECLARE_MESSAGE_MAP()
};
