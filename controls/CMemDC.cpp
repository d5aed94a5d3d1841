#include "controls/CMemDC.h"

CMemDC::CMemDC(CDC* dc, const CRect* rect, BOOL copyFirst) : m_dc(dc) {
    m_memDC = ::GetDeviceCaps(dc->m_hDC, TECHNOLOGY) != DT_RASPRINTER;
    if (rect)
        m_rect = *rect;
    else
        ::GetClipBox(dc->m_hDC, &m_rect);
    if (m_memDC && CreateCompatibleDC(dc) &&
        m_bitmap.CreateCompatibleBitmap(dc->m_hDC, m_rect.Width(), m_rect.Height())) {
        m_oldBitmap = SelectObject(m_bitmap.m_hObject);
        ::SetWindowOrgEx(m_hDC, m_rect.left, m_rect.top, nullptr);
        if (copyFirst) BitBlt(m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), dc, m_rect.left, m_rect.top, SRCCOPY);
        return;
    }
    // Printing, or no memory for the bitmap: draw straight onto the DC.
    if (m_bOwned) DeleteDC();
    m_memDC = false;
    Attach(dc->m_hDC);
}

CMemDC::~CMemDC() {
    if (m_memDC) {
        m_dc->BitBlt(m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), this, m_rect.left, m_rect.top, SRCCOPY);
        SelectObject(m_oldBitmap);
    } else {
        Detach();
    }
}
