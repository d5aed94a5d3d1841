// Dialogs from numbered templates: modal with our own loop, modeless and child.
#pragma once

#include "framework/CWnd.h"

class CDialog : public CWnd {
public:
    CDialog() = default;
    explicit CDialog(UINT templateId, CWnd* parent = nullptr) : m_nIDHelp(templateId), m_pParentWnd(parent) {}

    // Runs the dialog until EndDialog; -1 when it could not be made or WM_QUIT ended the loop
    // (the quit is posted again for the enclosing loop).
    virtual INT_PTR DoModal();
    // Modeless, or a child when the template has WS_CHILD.
    virtual BOOL Create(UINT templateId, CWnd* parent = nullptr);
    void EndDialog(int result);
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL PreTranslateMessage(MSG* msg) override;
    void NextDlgCtrl() const { ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, 0); }
    void GotoDlgCtrl(CWnd* ctl) { ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(ctl->m_hWnd), 1); }
    void SetDefID(UINT id) { ::SendMessageW(m_hWnd, DM_SETDEFID, id, 0); }

    UINT m_nIDHelp = 0;
    CWnd* m_pParentWnd = nullptr;

protected:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    HWND CreateFromTemplate(UINT templateId, HWND parent);
    afx_msg void OnOKCommand() { OnOK(); }
    afx_msg void OnCancelCommand() { OnCancel(); }

    bool m_bModal = false;
    bool m_bEnded = false;
    int m_nModalResult = -1;

    DECLARE_MESSAGE_MAP()
};
