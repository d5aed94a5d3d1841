#include "client/windows/FitLabel.h"

#include <string>

#include "client/windows/RowText.h"

void FitLabelText(CDC& dc, CStatic& label, const CString& text) {
    if (!label.m_hWnd) return;
    CRect client;
    label.GetClientRect(&client);
    HFONT font = reinterpret_cast<HFONT>(label.SendMessage(WM_GETFONT));
    HGDIOBJ old = font ? ::SelectObject(dc.m_hDC, font) : nullptr;
    const std::wstring shown = rowtext::FitName(static_cast<LPCWSTR>(text), client.Width(), [&](const std::wstring& s) {
        SIZE size = {};
        ::GetTextExtentPoint32W(dc.m_hDC, s.c_str(), static_cast<int>(s.size()), &size);
        return static_cast<int>(size.cx);
    });
    if (old) ::SelectObject(dc.m_hDC, old);
    if (label.GetWindowText() != CString(shown.c_str())) label.SetWindowText(shown.c_str());
}
