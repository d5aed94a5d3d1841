// A clickable label: its owner gets the click as an ordinary STN_CLICKED command; it shows
// the link cursor, captures the mouse while hovered and can colour and underline its text.
#pragma once

#include "framework/AfxWin.h"

// The link cursor among the program's resources.
#define IDC_LINK_CURSOR 1022

class CHyperLinker : public CStatic {
public:
    CHyperLinker();
    ~CHyperLinker() override;

    void SetLinkStyle(const CString& text, BOOL underline, COLORREF normal, COLORREF visited, COLORREF hover);
    void SetLinkText(const CString& text);
    const CString& GetLinkStyleText() const { return m_linkText; }
    bool IsHovered() const { return m_hover != 0; }
    bool IsVisited() const { return m_visited != 0; }

    // The link cursor: resource 1022 of the module (default: where resources are looked up),
    // else the system hand, so a program without the resource still shows a link cursor.
    static HCURSOR LinkCursor(HINSTANCE module = nullptr);

protected:
    void PreSubclassWindow() override;

    afx_msg void OnMouseMove(UINT flags, CPoint point);
    afx_msg void OnLButtonDown(UINT flags, CPoint point);
    afx_msg BOOL OnSetCursor(CWnd* wnd, UINT hit, UINT message);
    afx_msg HBRUSH CtlColor(CDC* dc, UINT kind);
    afx_msg LRESULT OnCaptureChanged(WPARAM, LPARAM newCapture);
    afx_msg void OnShowWindow(BOOL show, UINT status);
    afx_msg LRESULT OnWindowPosChanged(WPARAM, LPARAM pos);

private:
    void LeaveHover();

    // Unset until SetLinkStyle; these keep the label readable if it never comes.
    COLORREF m_normal = RGB(0, 0, 0xEE);
    COLORREF m_visitedColor = RGB(0x55, 0x1A, 0x8B);
    COLORREF m_hoverColor = RGB(0xEE, 0, 0);
    int m_hover = 0;
    int m_visited = 0;
    BOOL m_underline = TRUE;
    CString m_linkText;
    CFont m_font;

    DECLARE_MESSAGE_MAP()
};
