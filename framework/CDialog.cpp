#include "framework/CDialog.h"

#include "framework/CWinApp.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOKCommand)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancelCommand)
END_MESSAGE_MAP()

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return FALSE;
    auto* dlg = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hWnd));
    return dlg ? dlg->OnInitDialog() : TRUE;
}

HWND CDialog::CreateFromTemplate(UINT templateId, HWND parent) {
    LPCWSTR name = MAKEINTRESOURCEW(templateId);
    HINSTANCE module = AfxFindResourceHandle(name, RT_DIALOG);
    HRSRC res = FindResourceW(module, name, RT_DIALOG);
    if (!res) return nullptr;
    auto* tmpl = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(module, res)));
    if (!tmpl) return nullptr;
    m_nIDHelp = templateId;
    m_bEnded = false;
    m_nModalResult = -1;
    HWND h;
    {
        AfxCreateHook hook(this);
        h = CreateDialogIndirectParamW(module, tmpl, parent, &CDialog::DialogProc, 0);
    }
    if (!h && m_hWnd) Detach();
    return h;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    if (parent) m_pParentWnd = parent;
    m_bModal = false;
    return CreateFromTemplate(templateId, m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr) != nullptr;
}

namespace {
const UINT kSysTimer = 0x0118;  // the system's own timer (caret blink), not in the headers
}

INT_PTR CDialog::DoModal() {
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!parent) {
        if (CWinApp* app = AfxGetApp())
            if (app->m_pMainWnd && app->m_pMainWnd != this) parent = app->m_pMainWnd->m_hWnd;
    }
    if (parent && !::IsWindow(parent)) parent = nullptr;
    if (parent) parent = ::GetAncestor(parent, GA_ROOT);
    bool enableParent = parent && ::IsWindowEnabled(parent);
    if (enableParent) ::EnableWindow(parent, FALSE);

    m_bModal = true;
    m_bEnded = false;
    HWND h = CreateFromTemplate(m_nIDHelp, parent);
    if (!h) {
        if (enableParent) ::EnableWindow(parent, TRUE);
        m_bModal = false;
        return -1;
    }
    // EndDialog inside OnInitDialog ends the box before it ever shows.
    bool shown = false;
    bool quit = false;
    MSG msg;
    while (!m_bEnded) {
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            afx_detail::DeleteTempObjects();
            if (!shown && ::IsWindow(h)) {
                ::ShowWindow(h, SW_SHOWNORMAL);
                ::UpdateWindow(h);
                shown = true;
                continue;
            }
        }
        if (m_bEnded) break;
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            quit = true;
            break;
        }
        if (got == -1) break;
        // A timer due before the first idle moment (a slow start) must not run on a hidden box.
        if (!shown && (msg.message == WM_TIMER || msg.message == kSysTimer) && ::IsWindow(h)) {
            ::ShowWindow(h, SW_SHOWNORMAL);
            ::UpdateWindow(h);
            shown = true;
        }
        if (!CWnd::WalkPreTranslateTree(h, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (!::IsWindow(h)) break;
    }
    int result = quit || !m_bEnded ? -1 : m_nModalResult;
    if (enableParent) ::EnableWindow(parent, TRUE);
    if (::IsWindow(h)) {
        ::SetWindowPos(h, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        if (parent && ::GetActiveWindow() == h) ::SetActiveWindow(parent);
    }
    m_bModal = false;
    if (m_hWnd == h) DestroyWindow();
    return result;
}

void CDialog::EndDialog(int result) {
    if (m_bModal) {
        m_nModalResult = result;
        m_bEnded = true;
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wakes the loop
    } else if (m_hWnd) {
        ::EndDialog(m_hWnd, result);
    }
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    if (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST && ::IsDialogMessageW(m_hWnd, msg)) return TRUE;
    return FALSE;
}
