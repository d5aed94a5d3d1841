#include "controls/CMemDC.h"

CMemDC::CMemDC(CDC* dc, const CRect* rect, BOOL copyFirst) : m_pDC(dc) {
    m_bMemDC = ::GetDeviceCaps(dc->m_hDC, TECHNOLOGY) != DT_RASPRINTER;
    if (rect)
        m_rect = *rect;
    else
        ::GetClipBox(dc->m_hDC, &m_rect);
    if (m_bMemDC && CreateCompatibleDC(dc) &&
        m_bitmap.CreateCompatibleBitmap(dc->m_hDC, m_rect.Width(), m_rect.Height())) {
        m_hOldBitmap = SelectObject(m_bitmap.m_hObject);
        ::SetWindowOrgEx(m_hDC, m_rect.left, m_rect.top, nullptr);
        if (copyFirst)
            BitBlt(m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), dc, m_rect.left, m_rect.top, SRCCOPY);
        return;
    }
    // Printing, or no memory for the bitmap: draw straight onto the DC.
    if (m_bOwned) DeleteDC();
    m_bMemDC = false;
    Attach(dc->m_hDC);
}

CMemDC::~CMemDC() {
    if (m_bMemDC) {
        m_pDC->BitBlt(m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), this, m_rect.left, m_rect.top, SRCCOPY);
        SelectObject(m_hOldBitmap);
    } else {
        Detach();
    }
}
