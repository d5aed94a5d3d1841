#include "controls/CScrollHelper.h"

#include <algorithm>
#include <cstdlib>

CScrollHelper::CScrollHelper() : m_pWnd(nullptr) {}

void CScrollHelper::AttachWnd(CWnd* wnd) { m_pWnd = wnd; }

void CScrollHelper::DetachWnd() { m_pWnd = nullptr; }

void CScrollHelper::SetDisplaySize(int displayWidth, int displayHeight) {
    m_displaySize = CSize(displayWidth, displayHeight);
    if (!HasWindow()) return;
    CRect r = ClientRectWithBars();
    UpdateBars(r.Width(), r.Height());
}

void CScrollHelper::OnSize(UINT, int cx, int cy) {
    if (!HasWindow()) return;
    UpdateBars(cx, cy);
}

CRect CScrollHelper::ClientRectWithBars() const {
    CRect client, window;
    m_pWnd->GetClientRect(&client);
    m_pWnd->GetWindowRect(&window);
    m_pWnd->ScreenToClient(&window);
    const int barWidth = GetSystemMetrics(SM_CXVSCROLL);
    const int barHeight = GetSystemMetrics(SM_CYHSCROLL);
    if (window.right - client.right >= barWidth) client.right += barWidth;
    if (window.bottom - client.bottom >= barHeight) client.bottom += barHeight;
    return client;
}

int CScrollHelper::UpdateBar(int bar, int windowExtent, int displayExtent, LONG& page, LONG& pos) {
    int move;
    int maximum;
    if (windowExtent >= displayExtent) {
        page = 0;
        pos = 0;
        move = m_pWnd->GetScrollPos(bar);
        maximum = 0;
    } else {
        // A page of 0 (a minimised window) keeps the position as it is.
        if (page > 0 && pos > 0) pos = static_cast<LONG>(static_cast<long long>(pos) * windowExtent / page);
        page = windowExtent;
        pos = std::min<LONG>(pos, displayExtent - page - 1);
        move = m_pWnd->GetScrollPos(bar) - pos;
        maximum = displayExtent - 1;
    }
    SCROLLINFO si{};
    si.fMask = SIF_ALL;
    si.nMin = 0;
    si.nMax = maximum;
    si.nPage = static_cast<UINT>(std::max<LONG>(page, 0));
    si.nPos = pos;
    m_pWnd->SetScrollInfo(bar, &si, TRUE);
    return move;
}

void CScrollHelper::UpdateBars(int width, int height) {
    const int dx = UpdateBar(SB_HORZ, width, m_displaySize.cx, m_pageSize.cx, m_scrollPos.cx);
    const int dy = UpdateBar(SB_VERT, height, m_displaySize.cy, m_pageSize.cy, m_scrollPos.cy);
    if (dx != 0 || dy != 0) m_pWnd->ScrollWindow(dx, dy);
}

void CScrollHelper::OnVScroll(UINT code, UINT, CWnd* scrollBar) {
    if (!HasWindow()) return;
    int change = 0;
    switch (code) {
    case SB_LINEUP: change = -kLineStep; break;
    case SB_LINEDOWN: change = kLineStep; break;
    case SB_PAGEUP: change = -m_pageSize.cy; break;
    case SB_PAGEDOWN: change = m_pageSize.cy; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
        // The message's own position has only 16 bits.
        SCROLLINFO si{};
        BOOL ok = scrollBar && scrollBar->m_hWnd ? scrollBar->GetScrollInfo(SB_CTL, &si, SIF_TRACKPOS)
                                                 : m_pWnd->GetScrollInfo(SB_VERT, &si, SIF_TRACKPOS);
        if (!ok) return;
        change = si.nTrackPos - m_scrollPos.cy;
        break;
    }
    default: return;
    }
    // A display size set while no window was attached may leave the page larger than the display.
    const int last = std::max<int>(0, m_displaySize.cy - m_pageSize.cy);
    const int target = std::clamp<int>(m_scrollPos.cy + change, 0, last);
    change = target - m_scrollPos.cy;
    if (change == 0) return;
    m_scrollPos.cy = target;
    m_pWnd->SetScrollPos(SB_VERT, target, TRUE);
    m_pWnd->ScrollWindow(0, -change);
}

BOOL CScrollHelper::OnMouseWheel(UINT, short delta, CPoint) {
    if (!HasWindow()) return FALSE;
    int minimum = 0, maximum = 0;
    m_pWnd->GetScrollRange(SB_VERT, &minimum, &maximum);
    if (minimum == maximum) return FALSE;

    const bool up = delta > 0;
    UINT lines = 3;
    SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    if (lines == WHEEL_PAGESCROLL) {
        OnVScroll(up ? SB_PAGEUP : SB_PAGEDOWN, 0, nullptr);
        return TRUE;
    }
    const long long notches = std::abs(static_cast<int>(delta)) / WHEEL_DELTA;
    long long steps = std::max<long long>(notches * lines / 3, 1);
    // A huge lines setting must not spin: past this many steps the position is clamped anyway.
    steps = std::min<long long>(steps, std::max(m_displaySize.cy, 0L) / kLineStep + 1);
    for (long long i = 0; i < steps; ++i) OnVScroll(up ? SB_LINEUP : SB_LINEDOWN, 0, nullptr);
    return TRUE;
}
