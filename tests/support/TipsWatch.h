// Finds the message box of the client while it runs modally on this thread, reads it and
// closes it with Cancel (or with the answer given for that box, in order).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/CString.h"

namespace test_tips {

struct TipsWatch {
    CString title, text, ok, cancel;
    std::vector<CString> texts;  // every box seen, in order
    std::vector<HWND> owners;    // of each box, and whether that owner took input meanwhile
    std::vector<bool> ownersEnabled;
    std::vector<int> answers;  // IDOK or IDCANCEL for the first boxes; Cancel after them
    int seen = 0;
    static inline TipsWatch* s_current = nullptr;
    UINT_PTR timer = 0;
    TipsWatch() {
        s_current = this;
        timer = SetTimer(nullptr, 0, 100, &Tick);
    }
    ~TipsWatch() {
        KillTimer(nullptr, timer);
        s_current = nullptr;
    }
    static BOOL CALLBACK Visit(HWND h, LPARAM) {
        wchar_t cls[32] = {};
        GetClassNameW(h, cls, 32);
        if (std::wstring(cls) != L"#32770" || !IsWindowVisible(h) || !GetDlgItem(h, 1044)) return TRUE;
        TipsWatch& w = *s_current;
        auto read = [](HWND wnd) {
            wchar_t buffer[256] = {};
            GetWindowTextW(wnd, buffer, 256);
            return CString(buffer);
        };
        w.title = read(h);
        w.text = read(GetDlgItem(h, 1044));
        w.ok = read(GetDlgItem(h, IDOK));
        w.cancel = read(GetDlgItem(h, IDCANCEL));
        w.texts.push_back(w.text);
        const HWND owner = GetWindow(h, GW_OWNER);
        w.owners.push_back(owner);
        w.ownersEnabled.push_back(owner && IsWindowEnabled(owner));
        int answer = static_cast<size_t>(w.seen) < w.answers.size() ? w.answers[w.seen] : IDCANCEL;
        ++w.seen;
        PostMessageW(h, WM_COMMAND, answer, 0);
        return FALSE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (s_current) EnumThreadWindows(GetCurrentThreadId(), &Visit, 0);
    }
};

}  // namespace test_tips

using test_tips::TipsWatch;
