#include "framework/CException.h"

BOOL CException::CopyMessage(const CString& text, LPTSTR buffer, UINT maxChars) {
    if (!buffer || maxChars == 0) return FALSE;
    lstrcpynW(buffer, text, static_cast<int>(maxChars));
    return TRUE;
}

BOOL CException::GetErrorMessage(LPTSTR buffer, UINT maxChars, PUINT helpContext) const {
    if (helpContext) *helpContext = 0;
    if (buffer && maxChars) buffer[0] = 0;
    return FALSE;
}

CString CException::GetErrorMessage() const {
    wchar_t text[1024] = {};
    GetErrorMessage(text, 1024, nullptr);
    return CString(text);
}

BOOL CMemoryException::GetErrorMessage(LPTSTR buffer, UINT maxChars, PUINT helpContext) const {
    if (helpContext) *helpContext = 0;
    return CopyMessage(L"Out of memory.", buffer, maxChars);
}

void AfxThrowMemoryException() { throw new CMemoryException(); }

void AfxThrowResourceException() { throw new CResourceException(); }

void AfxThrowUserException() { throw new CUserException(); }
