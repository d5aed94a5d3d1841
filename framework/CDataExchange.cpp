#include "framework/CDataExchange.h"

#include "framework/CWnd.h"

HWND CDataExchange::PrepareCtrl(int id) {
    HWND h = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    if (!h) Fail();
    return h;
}

void CDataExchange::Fail() { AfxThrowUserException(); }

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.m_hWnd) return;
    HWND h = dx->PrepareCtrl(id);
    if (!control.SubclassWindow(h)) dx->Fail();
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
    HWND h = dx->PrepareCtrl(id);
    if (dx->m_bSaveAndValidate)
        CWnd::FromHandle(h)->GetWindowText(value);
    else
        ::SetWindowTextW(h, value);
}

void DDX_Text(CDataExchange* dx, int id, int& value) {
    HWND h = dx->PrepareCtrl(id);
    if (dx->m_bSaveAndValidate) {
        CString text = CWnd::FromHandle(h)->GetWindowText();
        wchar_t* end = nullptr;
        long v = wcstol(text, &end, 10);
        if (text.IsEmpty() || (end && *end)) dx->Fail();
        value = static_cast<int>(v);
    } else {
        ::SetWindowTextW(h, std::to_wstring(value).c_str());
    }
}

void DDX_Check(CDataExchange* dx, int id, int& value) {
    HWND h = dx->PrepareCtrl(id);
    if (dx->m_bSaveAndValidate)
        value = static_cast<int>(::SendMessageW(h, BM_GETCHECK, 0, 0));
    else
        ::SendMessageW(h, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}
