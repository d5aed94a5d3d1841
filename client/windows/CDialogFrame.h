// The white scrolling container in which the upload page and the uploaded-files tab stack their
// row windows: a child dialog with a thin border whose vertical scrolling is done by the scroll
// helper it owns.
#pragma once

#include "client/windows/Palette.h"
#include "controls/CScrollHelper.h"
#include "framework/AfxWin.h"

class CDialogFrame : public CDialog {
public:
    enum { IDD = 131 };
    static constexpr COLORREF kBorder = 0xE2CCBE;
    static constexpr COLORREF kBackground = palette::kRow;

    explicit CDialogFrame(CWnd* parent = nullptr);
    ~CDialogFrame() override;

    // The list areas' thin border: a closed line from (0, 0) round to (right, bottom).
    static void DrawOutline(CDC& dc, int right, int bottom);
    // The owning page passes it sizes and reads the scroll position when it places its rows.
    CScrollHelper* GetScrollHelper() const { return m_pScrollHelper; }

    // The scroll extent the owning page sets and lays its rows out with.
    int m_nScrollWidth = 0;
    int m_nScrollHeight = 0;

    BOOL OnInitDialog() override;
    // Enter and Escape in the container never end it.
    void OnOK() override {}
    void OnCancel() override {}

protected:
    void DoDataExchange(CDataExchange* dx) override;
    afx_msg void OnVScroll(UINT code, UINT pos, CWnd* scrollBar);
    afx_msg BOOL OnMouseWheel(UINT flags, short delta, CPoint pt);
    afx_msg void OnLButtonDblClk(UINT flags, CPoint pt);
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);
    afx_msg void OnPaint();
    afx_msg void OnSize(UINT type, int cx, int cy);

public:
    // Scrolling moves the border's pixels with the rows: the whole container is drawn again.
    void RedrawAll() { RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN); }

private:
    CScrollHelper* m_pScrollHelper;
    CBrush m_brush;

    DECLARE_MESSAGE_MAP()
};
