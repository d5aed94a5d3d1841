// The column header of the uploaded-files tab: a select-all box and three column buttons that
// ask the tab to sort, each column alternating between ascending and descending.
#pragma once

#include <cstdint>

#include "client/windows/Palette.h"
#include "client/windows/WindowMessages.h"
#include "controls/CSkinButton.h"
#include "framework/AfxWin.h"

class CHeadFrame : public CDialog {
public:
    enum { IDD = 133, IDC_NAME_COLUMN = 1050, IDC_SIZE_COLUMN = 1051, IDC_EXPIRY_COLUMN = 1052, IDC_SELECT_ALL = 1056 };
    enum { kButtonHovered = 185, kButtonNormal = 183, kStrip = 186 };
    static constexpr COLORREF kBackground = palette::kPage;
    static constexpr COLORREF kButtonText = palette::kLabel;

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
