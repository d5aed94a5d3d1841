#include "controls/CSelect.h"

void CSelFont::Select(HFONT font) {
    if (!font) return;
    HFONT previous = static_cast<HFONT>(m_pDC->SelectObject(font));
    if (!m_hOldFont) m_hOldFont = previous;
}

void CSelFont::Select(int pointTenths, LPCWSTR face) {
    CMyFont font;
    if (!font.CreatePointFont(pointTenths, face, m_pDC->m_hDC)) return;
    Select(static_cast<HFONT>(font.m_hObject));
    // The previous owned font is out of the DC now.
    m_ownFont.Attach(font.Detach());
}

void CSelFont::Restore() {
    if (m_hOldFont) m_pDC->SelectObject(m_hOldFont);
    m_hOldFont = nullptr;
    m_ownFont.DeleteObject();
}

void CSelBkMode::Select(int mode) {
    int previous = m_pDC->SetBkMode(mode);
    if (!m_nOldMode) m_nOldMode = previous;
}

void CSelBkMode::Restore() {
    if (m_nOldMode) m_pDC->SetBkMode(m_nOldMode);
    m_nOldMode = 0;
}

void CSelTextColor::Select(COLORREF color) {
    COLORREF previous = m_pDC->SetTextColor(color);
    if (m_crOldColor == CLR_INVALID) m_crOldColor = previous;
}

void CSelTextColor::Restore() {
    if (m_crOldColor != CLR_INVALID) m_pDC->SetTextColor(m_crOldColor);
    m_crOldColor = CLR_INVALID;
}

void CSelTextAlign::Select(UINT align) {
    UINT previous = ::SetTextAlign(m_pDC->m_hDC, align);
    if (m_nOldAlign == GDI_ERROR) m_nOldAlign = previous;
}

void CSelTextAlign::Restore() {
    if (m_nOldAlign != GDI_ERROR) ::SetTextAlign(m_pDC->m_hDC, m_nOldAlign);
    m_nOldAlign = GDI_ERROR;
}
