// The small always-on-top panel that stands in for the main window: one status line, dragged
// with either mouse button, a right-button menu that hides it, a double click that shows or
// hides the main window.
#pragma once

#include <functional>

#include "controls/MenuTracker.h"
#include "framework/AfxWin.h"

class CFloatWnd : public CDialog {
public:
    enum { IDD = 150, IDM_HIDE = 32781, IDR_MENU = 152, IDB_BACKGROUND = 188 };
    explicit CFloatWnd(CWnd* parent = nullptr);
    // Destroys the window while this object's handlers can still save the position.
    ~CFloatWnd() override;

    void SetTexts(const CString& first, const CString& status);
    const CString& GetFirstText() const { return m_strFirst; }
    const CString& GetStatusLine() const { return m_strStatus; }
    void LoadSetLayeredWindowAttributes(BYTE alpha);

    BOOL OnInitDialog() override;
    void OnOK() override {}  // Enter and Escape never end it
    void OnCancel() override {}

    // The mouse-button state and the popup menu go through these seams (tests need no mouse).
    using KeyStateReader = std::function<SHORT(int key)>;
    static KeyStateReader& KeyState();
    static MenuTracker& Tracker();

protected:
    afx_msg LRESULT OnNcHitTest(CPoint point);
    afx_msg void OnRButtonUp(UINT flags, CPoint point);
    afx_msg void OnHide();
    afx_msg void OnNcLButtonDblClk(UINT hit, CPoint point);
    afx_msg void OnDestroy();
    afx_msg void OnPaint();
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);

private:
    void SavePosition();

    CString m_strFirst;  // kept for the caller; not shown
    CString m_strStatus;
    CBitmap m_bitmap;
    CBrush m_brush;
    DECLARE_MESSAGE_MAP()
};
