// The platform's open and save dialogs, with the several-files selection read back path by path.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <vector>

#include "framework/CWnd.h"

class CFileDialog {
public:
    // `filter`: pairs of description and pattern, each ended by '|', the list by another '|'.
    CFileDialog(BOOL openFileDialog, LPCWSTR defaultExt = nullptr, LPCWSTR fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCWSTR filter = nullptr, CWnd* parent = nullptr);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;
    virtual ~CFileDialog() = default;

    // IDOK or IDCANCEL (also for an error: CommDlgExtendedError tells which).
    virtual INT_PTR DoModal();

    // Full paths of the chosen files, in the dialog's order; read after IDOK. A caller may point
    // m_ofn.lpstrFile at a buffer of its own first.
    std::vector<CString> GetPathNames() const;
    // The text after the last '\' of the first chosen path.
    CString GetFileName() const;

    OPENFILENAMEW m_ofn;

private:
    BOOL m_bOpenFileDialog;
    CString m_strDefaultExt;
    std::vector<wchar_t> m_filter;
    std::vector<wchar_t> m_fileBuffer;
    wchar_t m_szFileTitle[MAX_PATH] = {};
};
