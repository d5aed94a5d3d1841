// Runs a dialog modally on this thread with one action once it shows; a second timer ends a
// dialog the action left open, so no test waits for good.
#pragma once

#include <windows.h>

#include <functional>

#include "framework/CDialog.h"

namespace test_modal {

struct Run {
    static inline std::function<void(CDialog&)> s_action;
    static inline CDialog* s_box = nullptr;
    static void CALLBACK Act(HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        if (s_box && s_box->m_hWnd && s_action) s_action(*s_box);
    }
    static void CALLBACK Safety(HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        if (s_box && s_box->m_hWnd) s_box->EndDialog(-2);
    }
};

// -2 when the safety timer had to end it.
template <class Dialog>
INT_PTR RunModal(Dialog& box, std::function<void(Dialog&)> action, UINT safetyMs = 8000) {
    Run::s_box = &box;
    Run::s_action = [action](CDialog& d) {
        if (action) action(static_cast<Dialog&>(d));
    };
    UINT_PTR act = SetTimer(nullptr, 0, 300, &Run::Act);
    UINT_PTR safety = SetTimer(nullptr, 0, safetyMs, &Run::Safety);
    INT_PTR r = box.DoModal();
    // A dialog that ended before its action leaves no timer to act on the next one.
    KillTimer(nullptr, act);
    KillTimer(nullptr, safety);
    Run::s_box = nullptr;
    Run::s_action = nullptr;
    return r;
}

// The client size a dialog has once it shows modally.
inline CSize ModalClientSize(CDialog& box) {
    CSize size;
    RunModal<CDialog>(box, [&](CDialog& b) {
        CRect r;
        b.GetClientRect(&r);
        size = r.Size();
        b.EndDialog(IDCANCEL);
    });
    return size;
}

}  // namespace test_modal
