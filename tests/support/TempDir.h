// A fresh folder under the temporary folder, removed with its files at the end of the test.
#pragma once

#include "framework/CString.h"

class TempDir {
public:
    TempDir() {
        wchar_t base[MAX_PATH];
        ::GetTempPathW(MAX_PATH, base);
        m_path.Format(L"%sfwtest-%lu-%lu", base, ::GetCurrentProcessId(), ::GetTickCount() + s_counter++);
        ::CreateDirectoryW(m_path, nullptr);
    }
    ~TempDir() {
        WIN32_FIND_DATAW fd;
        HANDLE h = ::FindFirstFileW(m_path + L"\\*", &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                ::DeleteFileW(m_path + L"\\" + fd.cFileName);
            } while (::FindNextFileW(h, &fd));
            ::FindClose(h);
        }
        ::RemoveDirectoryW(m_path);
    }
    CString File(const wchar_t* name) const { return m_path + L"\\" + name; }

private:
    static inline unsigned long s_counter = 0;
    CString m_path;
};
