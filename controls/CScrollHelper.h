// Scrolls a window's contents over a display area larger than its client area: keeps the
// window's standard scroll bars in step with both sizes and moves the contents with ScrollWindow.
// Only the vertical bar reacts to the user; the horizontal one is only kept in step.
#pragma once

#include "framework/AfxWin.h"

class CScrollHelper {
public:
    // One line step, in pixels.
    static constexpr int kLineStep = 60;

    CScrollHelper();

    // The window is not owned; every operation below does nothing while none is attached.
    void AttachWnd(CWnd* wnd);
    void DetachWnd();

    void SetDisplaySize(int displayWidth, int displayHeight);
    const CSize& GetDisplaySize() const { return m_displaySize; }
    // The content offset shown at the client's top-left, in pixels.
    CSize GetScrollPos() const { return m_scrollPos; }
    CSize GetPageSize() const { return m_pageSize; }

    // The attached window forwards these.
    void OnSize(UINT type, int cx, int cy);
    void OnVScroll(UINT code, UINT pos, CWnd* scrollBar);
    // TRUE when it scrolled.
    BOOL OnMouseWheel(UINT flags, short delta, CPoint pt);

private:
    bool HasWindow() const { return m_pWnd && m_pWnd->IsWindow(); }
    // Sets one bar for a window extent; returns how far the contents must move.
    int UpdateBar(int bar, int windowExtent, int displayExtent, LONG& page, LONG& pos);
    void UpdateBars(int width, int height);
    // The client rectangle as if no scroll bar were showing.
    CRect ClientRectWithBars() const;

    CWnd* m_pWnd;
    CSize m_pageSize;
    CSize m_displaySize;
    CSize m_scrollPos;
};
