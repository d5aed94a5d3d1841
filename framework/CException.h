// CException, CSimpleException, CMemoryException, CUserException, CResourceException: the
// framework's exceptions, thrown by pointer and freed by the catcher with Delete().
#pragma once

#include "framework/CString.h"

class CException {
public:
    explicit CException(BOOL autoDelete = TRUE) : m_bAutoDelete(autoDelete) {}
    virtual ~CException() = default;

    // Frees a heap-allocated exception; a stack object (auto-delete off) is left alone.
    void Delete() {
        if (m_bAutoDelete) delete this;
    }
    // Copies the text of the failure into buffer (at most maxChars with the terminator).
    virtual BOOL GetErrorMessage(LPTSTR buffer, UINT maxChars, PUINT helpContext = nullptr) const;
    CString GetErrorMessage() const;

    BOOL m_bAutoDelete;

protected:
    static BOOL CopyMessage(const CString& text, LPTSTR buffer, UINT maxChars);
};

class CSimpleException : public CException {
public:
    using CException::CException;
};

class CMemoryException : public CSimpleException {
public:
    using CSimpleException::CSimpleException;
    BOOL GetErrorMessage(LPTSTR buffer, UINT maxChars, PUINT helpContext = nullptr) const override;
    using CException::GetErrorMessage;
};

// Ends a dialog's data exchange early; UpdateData catches it and answers FALSE.
class CUserException : public CSimpleException {
public:
    using CSimpleException::CSimpleException;
};

// A Windows resource (a window class, a GDI object) could not be made.
class CResourceException : public CSimpleException {
public:
    using CSimpleException::CSimpleException;
};

// Throws a heap-allocated CMemoryException.
[[noreturn]] void AfxThrowMemoryException();
// Throws a heap-allocated CResourceException.
[[noreturn]] void AfxThrowResourceException();
// Throws a heap-allocated CUserException.
[[noreturn]] void AfxThrowUserException();
