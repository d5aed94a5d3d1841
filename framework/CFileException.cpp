#include "framework/CFileException.h"

int CFileException::OsErrorToException(LONG osError) {
    switch (osError) {
    case NO_ERROR: return none;
    case ERROR_FILE_NOT_FOUND: return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_FILENAME_EXCED_RANGE: return badPath;
    case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
    case ERROR_WRITE_PROTECT: return accessDenied;
    case ERROR_INVALID_HANDLE:
    case ERROR_INVALID_ACCESS: return invalidFile;
    case ERROR_CURRENT_DIRECTORY: return removeCurrentDir;
    case ERROR_CANNOT_MAKE: return directoryFull;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK: return badSeek;
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_CRC:
    case ERROR_GEN_FAILURE: return hardIO;
    case ERROR_SHARING_VIOLATION: return sharingViolation;
    case ERROR_LOCK_VIOLATION: return lockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return diskFull;
    case ERROR_HANDLE_EOF: return endOfFile;
    default: return genericException;
    }
}

void CFileException::ThrowOsError(LONG osError, LPCTSTR fileName) {
    throw new CFileException(OsErrorToException(osError), osError, fileName);
}

void AfxThrowFileException(int cause, LONG osError, LPCTSTR fileName) {
    throw new CFileException(cause, osError, fileName);
}

BOOL CFileException::GetErrorMessage(LPTSTR buffer, UINT maxChars, PUINT helpContext) const {
    if (helpContext) *helpContext = 0;
    static const wchar_t* const texts[] = {
        L"No error occurred.",
        L"An unexpected error occurred while accessing %s.",
        L"%s was not found.",
        L"%s contains an incorrect path.",
        L"%s could not be opened because there are too many open files.",
        L"Access to %s was denied.",
        L"An incorrect file handle was associated with %s.",
        L"%s could not be removed because it is the current directory.",
        L"%s could not be created because the directory is full.",
        L"Seek failed on %s.",
        L"A hardware I/O error was reported while accessing %s.",
        L"A sharing violation occurred while accessing %s.",
        L"A locking violation occurred while locking %s.",
        L"Disk full while accessing %s.",
        L"An attempt was made to access %s past its end.",
    };
    int cause = (m_cause >= none && m_cause <= endOfFile) ? m_cause : genericException;
    CString name = m_strFileName.IsEmpty() ? CString(L"an unnamed file") : m_strFileName;
    CString text;
    text.Format(texts[cause], name.GetString());
    return CopyMessage(text, buffer, maxChars);
}
