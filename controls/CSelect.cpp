#include "controls/CSelect.h"

void CSelFont::Select(HFONT font) {
    if (!font) return;
    HFONT previous = static_cast<HFONT>(m_dc->SelectObject(font));
    if (!m_old) m_old = previous;
}

void CSelFont::Select(int pointTenths, LPCWSTR face) {
    CMyFont font;
    if (!font.CreatePointFont(pointTenths, face, m_dc->m_hDC)) return;
    Select(static_cast<HFONT>(font.m_hObject));
    // The previous owned font is out of the DC now.
    m_own.Attach(font.Detach());
}

void CSelFont::Restore() {
    if (m_old) m_dc->SelectObject(m_old);
    m_old = nullptr;
    m_own.DeleteObject();
}

void CSelBkMode::Select(int mode) {
    int previous = m_dc->SetBkMode(mode);
    if (!m_old) m_old = previous;
}

void CSelBkMode::Restore() {
    if (m_old) m_dc->SetBkMode(m_old);
    m_old = 0;
}

void CSelTextColor::Select(COLORREF color) {
    COLORREF previous = m_dc->SetTextColor(color);
    if (m_old == CLR_INVALID) m_old = previous;
}

void CSelTextColor::Restore() {
    if (m_old != CLR_INVALID) m_dc->SetTextColor(m_old);
    m_old = CLR_INVALID;
}

void CSelTextAlign::Select(UINT align) {
    UINT previous = ::SetTextAlign(m_dc->m_hDC, align);
    if (m_old == GDI_ERROR) m_old = previous;
}

void CSelTextAlign::Restore() {
    if (m_old != GDI_ERROR) ::SetTextAlign(m_dc->m_hDC, m_old);
    m_old = GDI_ERROR;
}
