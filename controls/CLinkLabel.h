// What the two link labels (CHyperLink, CHyperLinker) share: a text static that is hovered
// while the mouse is over it, and stops being hovered when hidden or when it loses the capture.
#pragma once

#include "framework/AfxWin.h"

class CLinkLabel : public CStatic {
protected:
    // The label's font (the GUI font when it has none) with the underline as asked, into m_font.
    BOOL CreateLinkFont(BOOL underline);
    // Ends the hover: each label releases the capture and repaints its own way.
    virtual void LeaveHover() = 0;

    afx_msg LRESULT OnCaptureChanged(WPARAM, LPARAM newCapture);
    afx_msg void OnShowWindow(BOOL show, UINT status);
    afx_msg LRESULT OnWindowPosChanged(WPARAM, LPARAM pos);

    bool m_bHover = false;
    CFont m_font;

    DECLARE_MESSAGE_MAP()
};
