#include "framework/CFile.h"

const HANDLE CFile::hFileNull = INVALID_HANDLE_VALUE;

namespace {
const DWORD kNoMode = MAXDWORD;
// Win32 access by the flags' access bits (modeRead, modeWrite, modeReadWrite; 3 is none).
const DWORD kAccess[4] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE, kNoMode};
// Win32 sharing by the flags' share bits, shifted down (shareCompat ... shareDenyNone). The old
// compatibility mode does not exist in 32-bit systems: it means exclusive.
const DWORD kShare[8] = {0,       0,       FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         kNoMode, kNoMode, kNoMode};
static_assert(CFile::modeReadWrite == 2 && CFile::shareDenyWrite >> 4 == 2 && CFile::shareDenyRead >> 4 == 3 &&
                  CFile::shareDenyNone >> 4 == 4,
              "the tables follow the flags' numbering");
}  // namespace

CFile::CFile(LPCTSTR fileName, UINT openFlags) {
    CFileException error;
    if (!Open(fileName, openFlags, &error)) throw new CFileException(error.m_cause, error.m_lOsError, fileName);
}

CFile::~CFile() {
    if (m_hFile != INVALID_HANDLE_VALUE) Abort();
}

BOOL CFile::Open(LPCTSTR fileName, UINT openFlags, CFileException* error) {
    if (m_hFile != INVALID_HANDLE_VALUE) Abort();
    m_strFileName = fileName;
    if (error) {
        error->m_cause = CFileException::none;
        error->m_lOsError = 0;
        error->m_strFileName = fileName;
    }

    DWORD access = kAccess[openFlags & 3];
    DWORD share = kShare[(openFlags & 0x70) >> 4];
    if (access == kNoMode || share == kNoMode) {
        if (error) error->m_cause = CFileException::genericException;
        return FALSE;
    }
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, (openFlags & modeNoInherit) ? FALSE : TRUE};
    DWORD disposition = OPEN_EXISTING;
    if (openFlags & modeCreate) disposition = (openFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (openFlags & osNoBuffer) attributes |= FILE_FLAG_NO_BUFFERING;
    if (openFlags & osWriteThrough) attributes |= FILE_FLAG_WRITE_THROUGH;
    if (openFlags & osRandomAccess) attributes |= FILE_FLAG_RANDOM_ACCESS;
    if (openFlags & osSequentialScan) attributes |= FILE_FLAG_SEQUENTIAL_SCAN;

    HANDLE h = ::CreateFileW(fileName ? fileName : L"", access, share, &sa, disposition, attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) {
            DWORD os = ::GetLastError();
            error->m_lOsError = static_cast<LONG>(os);
            error->m_cause = CFileException::OsErrorToException(static_cast<LONG>(os));
        }
        return FALSE;
    }
    m_hFile = h;
    return TRUE;
}

void CFile::ThrowLastError() const { CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), m_strFileName); }

UINT CFile::Read(void* buffer, UINT count) {
    if (count == 0) return 0;
    if (!buffer) AfxThrowFileException(CFileException::genericException, ERROR_INVALID_PARAMETER, m_strFileName);
    DWORD read = 0;
    if (!::ReadFile(m_hFile, buffer, count, &read, nullptr)) ThrowLastError();
    return read;
}

void CFile::Write(const void* buffer, UINT count) {
    if (count == 0) return;
    if (!buffer) AfxThrowFileException(CFileException::genericException, ERROR_INVALID_PARAMETER, m_strFileName);
    DWORD written = 0;
    if (!::WriteFile(m_hFile, buffer, count, &written, nullptr)) ThrowLastError();
    if (written != count) AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL, m_strFileName);
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
    DWORD method = from == current ? FILE_CURRENT : from == end ? FILE_END : FILE_BEGIN;
    LARGE_INTEGER distance, position;
    distance.QuadPart = offset;
    if (!::SetFilePointerEx(m_hFile, distance, &position, method)) ThrowLastError();
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG CFile::GetLength() const {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(m_hFile, &size)) ThrowLastError();
    return static_cast<ULONGLONG>(size.QuadPart);
}

void CFile::SetLength(ULONGLONG newLength) {
    ULONGLONG keep = GetPosition();
    Seek(static_cast<LONGLONG>(newLength), begin);
    if (!::SetEndOfFile(m_hFile)) ThrowLastError();
    if (keep < newLength) Seek(static_cast<LONGLONG>(keep), begin);
}

ULONGLONG CFile::GetPosition() const {
    LARGE_INTEGER zero, position;
    zero.QuadPart = 0;
    if (!::SetFilePointerEx(m_hFile, zero, &position, FILE_CURRENT)) ThrowLastError();
    return static_cast<ULONGLONG>(position.QuadPart);
}

void CFile::Flush() {
    if (m_hFile != INVALID_HANDLE_VALUE && !::FlushFileBuffers(m_hFile)) ThrowLastError();
}

void CFile::Close() {
    BOOL ok = TRUE;
    DWORD os = 0;
    if (m_hFile != INVALID_HANDLE_VALUE) {
        ok = ::CloseHandle(m_hFile);
        if (!ok) os = ::GetLastError();
    }
    m_hFile = INVALID_HANDLE_VALUE;
    if (!ok) CFileException::ThrowOsError(static_cast<LONG>(os), m_strFileName);
    m_strFileName.Empty();
}

void CFile::Abort() {
    if (m_hFile != INVALID_HANDLE_VALUE) ::CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    m_strFileName.Empty();
}

CString CFile::GetFileName() const {
    int slash = m_strFileName.ReverseFind(L'\\');
    int fwd = m_strFileName.ReverseFind(L'/');
    if (fwd > slash) slash = fwd;
    return m_strFileName.Mid(slash + 1);
}

void CFile::Remove(LPCTSTR fileName) {
    if (!::DeleteFileW(fileName)) CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), fileName);
}

void CFile::Rename(LPCTSTR oldName, LPCTSTR newName) {
    if (!::MoveFileW(oldName, newName)) CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), oldName);
}
