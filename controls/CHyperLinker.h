// A clickable label: its owner gets the click as an ordinary STN_CLICKED command; it shows
// the link cursor, captures the mouse while hovered and can colour and underline its text.
#pragma once

#include "controls/CLinkLabel.h"

// The link cursor among the program's resources.
#define IDC_LINK_CURSOR 1022

class CHyperLinker : public CLinkLabel {
public:
    CHyperLinker();
    ~CHyperLinker() override;

    void SetLinkStyle(const CString& text, BOOL underline, COLORREF normal, COLORREF visited, COLORREF hover);
    void SetLinkText(const CString& text);
    const CString& GetLinkStyleText() const { return m_strLinkText; }
    bool IsHovered() const { return m_bHover; }
    bool IsVisited() const { return m_bVisited; }

    // The link cursor: resource 1022 of the module (default: where resources are looked up),
    // else the system hand, so a program without the resource still shows a link cursor.
    static HCURSOR LinkCursor(HINSTANCE module = nullptr);

protected:
    void PreSubclassWindow() override;

    afx_msg void OnMouseMove(UINT flags, CPoint point);
    afx_msg void OnLButtonDown(UINT flags, CPoint point);
    afx_msg BOOL OnSetCursor(CWnd* wnd, UINT hit, UINT message);
    afx_msg HBRUSH CtlColor(CDC* dc, UINT kind);
    void LeaveHover() override;

private:
    // Unset until SetLinkStyle; these keep the label readable if it never comes.
    COLORREF m_crNormal = RGB(0, 0, 0xEE);
    COLORREF m_crVisited = RGB(0x55, 0x1A, 0x8B);
    COLORREF m_crHover = RGB(0xEE, 0, 0);
    bool m_bVisited = false;
    BOOL m_bUnderline = TRUE;
    CString m_strLinkText;

    DECLARE_MESSAGE_MAP()
};
