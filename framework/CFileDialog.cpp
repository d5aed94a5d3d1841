#include "framework/CFileDialog.h"

#include <cstring>

CFileDialog::CFileDialog(BOOL openFileDialog, LPCWSTR defaultExt, LPCWSTR fileName, DWORD flags, LPCWSTR filter,
                         CWnd* parent)
    : m_bOpenFileDialog(openFileDialog), m_strDefaultExt(defaultExt ? defaultExt : L""), m_fileBuffer(MAX_PATH) {
    std::memset(&m_ofn, 0, sizeof m_ofn);
    m_ofn.lStructSize = sizeof m_ofn;
    m_ofn.hwndOwner = parent ? parent->GetSafeHwnd() : nullptr;
    m_ofn.Flags = flags | OFN_EXPLORER | OFN_ENABLESIZING;
    if (fileName) lstrcpynW(m_fileBuffer.data(), fileName, MAX_PATH);
    m_ofn.lpstrFile = m_fileBuffer.data();
    m_ofn.nMaxFile = MAX_PATH;
    m_ofn.lpstrFileTitle = m_szFileTitle;
    m_ofn.nMaxFileTitle = MAX_PATH;
    if (defaultExt) m_ofn.lpstrDefExt = m_strDefaultExt.GetString();
    if (filter) {
        // '|' separates the entries; the platform wants NULs and a second NUL at the end.
        for (const wchar_t* p = filter; *p; ++p) m_filter.push_back(*p == L'|' ? L'\0' : *p);
        m_filter.push_back(L'\0');
        m_filter.push_back(L'\0');
        m_ofn.lpstrFilter = m_filter.data();
    }
}

INT_PTR CFileDialog::DoModal() {
    BOOL ok = m_bOpenFileDialog ? ::GetOpenFileNameW(&m_ofn) : ::GetSaveFileNameW(&m_ofn);
    return ok ? IDOK : IDCANCEL;
}

std::vector<CString> CFileDialog::GetPathNames() const {
    std::vector<CString> paths;
    const wchar_t* buffer = m_ofn.lpstrFile;
    if (!buffer || !*buffer) return paths;
    const wchar_t* end = buffer + m_ofn.nMaxFile;
    auto next = [end](const wchar_t* p) {
        while (p < end && *p) ++p;
        return p < end ? p + 1 : end;
    };
    const wchar_t* first = next(buffer);
    // One file: its full path. Several: the folder, then each name, then an empty string.
    if (!(m_ofn.Flags & OFN_ALLOWMULTISELECT) || first >= end || !*first) {
        paths.emplace_back(buffer);
        return paths;
    }
    CString folder(buffer);
    if (!folder.IsEmpty() && folder[folder.GetLength() - 1] != L'\\') folder += L'\\';
    for (const wchar_t* p = first; p < end && *p; p = next(p)) paths.push_back(folder + p);
    return paths;
}

CString CFileDialog::GetFileName() const {
    std::vector<CString> paths = GetPathNames();
    if (paths.empty()) return CString();
    return paths.front().Mid(paths.front().ReverseFind(L'\\') + 1);
}
