// The column header of the uploaded-files tab: a select-all box and three column buttons that
// ask the tab to sort, each column alternating between ascending and descending.
#pragma once

#include <cstdint>

#include "controls/CSkinButton.h"
#include "framework/AfxWin.h"

#ifndef WM_SORT_BY_NAME
#define WM_SORT_BY_NAME (WM_USER + 1002)
#endif
#ifndef WM_SORT_BY_SIZE
#define WM_SORT_BY_SIZE (WM_USER + 1003)
#endif
#ifndef WM_SORT_BY_EXPIRY
#define WM_SORT_BY_EXPIRY (WM_USER + 1004)
#endif
#ifndef WM_CHECK_ALL_ROWS
#define WM_CHECK_ALL_ROWS (WM_USER + 1005)
#endif
#ifndef WM_ROW_CHECK_CHANGED
#define WM_ROW_CHECK_CHANGED (WM_USER + 1006)
#endif
#ifndef WM_RESET_HEADER
#define WM_RESET_HEADER (WM_USER + 1007)
#endif

class CHeadFrame : public CDialog {
public:
    enum { IDD = 133, IDC_NAME_COLUMN = 1050, IDC_SIZE_COLUMN = 1051, IDC_EXPIRY_COLUMN = 1052, IDC_SELECT_ALL = 1056 };
    enum { kButtonHovered = 185, kButtonNormal = 183, kStrip = 186 };
    static constexpr COLORREF kBackground = 0xFFFBF9;
    static constexpr COLORREF kButtonText = 0x555555;

    explicit CHeadFrame(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;
    // Enter and Escape in the bar never end it.
    void OnOK() override {}
    void OnCancel() override {}

    CSkinButton m_btnName;
    CSkinButton m_btnSize;
    CSkinButton m_btnExpiry;
    CButton m_chkSelectAll;
    int32_t m_nSelectAllX = 0;
    BOOL m_bSizeAscending = TRUE;
    BOOL m_bNameAscending = TRUE;
    BOOL m_bExpiryAscending = TRUE;
    BOOL m_bSelectAll = FALSE;
    CBrush m_brush;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    afx_msg void OnButton1050();
    afx_msg void OnButton1051();
    afx_msg void OnButton1052();
    afx_msg void OnButton1056();
    afx_msg LRESULT OnResetFilters(WPARAM, LPARAM);
    afx_msg LRESULT OnUncheckSelectAll(WPARAM checked, LPARAM);
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);
    afx_msg void OnPaint();

private:
    // Asks the tab to sort by a column with the column's flag, which then turns over.
    void Sort(UINT message, BOOL& ascending);

    DECLARE_MESSAGE_MAP()
};
