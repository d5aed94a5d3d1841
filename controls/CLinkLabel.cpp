#include "controls/CLinkLabel.h"

BEGIN_MESSAGE_MAP(CLinkLabel, CStatic)
    ON_MESSAGE(WM_CAPTURECHANGED, &CLinkLabel::OnCaptureChanged)
    ON_WM_SHOWWINDOW()
    ON_MESSAGE(WM_WINDOWPOSCHANGED, &CLinkLabel::OnWindowPosChanged)
END_MESSAGE_MAP()

BOOL CLinkLabel::CreateLinkFont(BOOL underline) {
    LOGFONTW lf{};
    HFONT font = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
    if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    GetObjectW(font, sizeof(lf), &lf);
    lf.lfUnderline = underline ? TRUE : FALSE;
    return m_font.CreateFontIndirect(&lf);
}

LRESULT CLinkLabel::OnCaptureChanged(WPARAM, LPARAM newCapture) {
    // Capture taken away (another window, a menu): the label is no longer under the mouse.
    if (reinterpret_cast<HWND>(newCapture) != m_hWnd && m_bHover) {
        m_bHover = false;
        Invalidate();
    }
    return Default();
}

void CLinkLabel::OnShowWindow(BOOL show, UINT) {
    if (!show) LeaveHover();
    Default();
}

LRESULT CLinkLabel::OnWindowPosChanged(WPARAM, LPARAM pos) {
    // SetWindowPos can hide without WM_SHOWWINDOW.
    if (reinterpret_cast<const WINDOWPOS*>(pos)->flags & SWP_HIDEWINDOW) LeaveHover();
    return Default();
}
