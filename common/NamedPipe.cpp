#include "common/NamedPipe.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

BOOL CNamedPipeException::GetErrorMessage(LPTSTR buffer, UINT maxChars, PUINT helpContext) const {
    if (helpContext) *helpContext = 0;
    if (!buffer || maxChars == 0) return FALSE;
    LPWSTR text = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, m_dwError,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (n == 0 || !text) {
        buffer[0] = 0;
        return FALSE;
    }
    lstrcpynW(buffer, text, static_cast<int>(maxChars));
    LocalFree(text);
    return TRUE;
}

CString CNamedPipeException::GetErrorText() const {
    wchar_t text[4096];
    GetErrorMessage(text, 4096, nullptr);
    return CString(text);
}

void NamedPipe::ThrowNamedPipeException(DWORD error) {
    if (error == 0) error = GetLastError();
    throw new CNamedPipeException(error);
}

void NamedPipe::Create(LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances, DWORD outBufferSize,
                       DWORD inBufferSize, DWORD defaultTimeOut, LPSECURITY_ATTRIBUTES sa) {
    wchar_t full[MAX_PATH];
    _snwprintf(full, MAX_PATH, L"\\\\.\\PIPE\\%ls", name);
    full[MAX_PATH - 1] = 0;
    HANDLE h =
        CreateNamedPipeW(full, openMode, pipeMode, maxInstances, outBufferSize, inBufferSize, defaultTimeOut, sa);
    if (h == INVALID_HANDLE_VALUE) ThrowNamedPipeException(0);
    m_hPipe = h;
}

void NamedPipe::Open(LPCWSTR serverName, LPCWSTR name, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES sa,
                     DWORD flagsAndAttributes) {
    wchar_t full[MAX_PATH];
    _snwprintf(full, MAX_PATH, L"\\\\%ls\\PIPE\\%ls", serverName, name);
    full[MAX_PATH - 1] = 0;
    HANDLE h = CreateFileW(full, desiredAccess, shareMode, sa, OPEN_EXISTING, flagsAndAttributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) ThrowNamedPipeException(0);
    m_hPipe = h;
}

bool NamedPipe::HandOver(LPCWSTR name, const void* bytes, DWORD size, DWORD waitMs, HANDLE abandon) {
    try {
        NamedPipe pipe;
        pipe.Create(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096, 4096, 1, nullptr);
        pipe.SetMode(FALSE, TRUE);
        pipe.ConnectClient(nullptr, waitMs, abandon);
        pipe.Write(bytes, size, nullptr);
        return true;
    } catch (CNamedPipeException* e) {
        CString text = e->GetErrorText();
        wprintf(L"Named Pipe Exception, Error:%d, Description:%ls\n", static_cast<int>(e->m_dwError), text.GetString());
        fflush(stdout);
        e->Delete();
        return false;
    }
}

void NamedPipe::ServerAvailable(LPCWSTR serverName, LPCWSTR name, DWORD timeOut) {
    wchar_t full[MAX_PATH];
    _snwprintf(full, MAX_PATH, L"\\\\%ls\\PIPE\\%ls", serverName, name);
    full[MAX_PATH - 1] = 0;
    if (!WaitNamedPipeW(full, timeOut)) ThrowNamedPipeException(0);
}

BOOL NamedPipe::SetMode(BOOL byteMode, BOOL blocking) {
    DWORD mode = ModeFor(byteMode, blocking);
    if (!SetNamedPipeHandleState(m_hPipe, &mode, nullptr, nullptr)) ThrowNamedPipeException(0);
    return TRUE;
}

BOOL NamedPipe::ConnectClient(LPOVERLAPPED overlapped, DWORD timeOutMs, HANDLE abandon) {
    if (timeOutMs == INFINITE && !abandon) {
        if (!ConnectNamedPipe(m_hPipe, overlapped) && GetLastError() != ERROR_PIPE_CONNECTED)
            ThrowNamedPipeException(0);
        return TRUE;
    }
    // A blocking connect cannot be ended from outside, so the pipe listens in non-blocking mode and is
    // asked again until a reader came, the time ran out or the caller gave up: no thread is left behind.
    DWORD mode = 0;
    if (!GetNamedPipeHandleStateW(m_hPipe, &mode, nullptr, nullptr, nullptr, nullptr, 0)) ThrowNamedPipeException(0);
    DWORD listening = (mode & PIPE_READMODE_MESSAGE) | PIPE_NOWAIT;
    if (!SetNamedPipeHandleState(m_hPipe, &listening, nullptr, nullptr)) ThrowNamedPipeException(0);
    DWORD start = GetTickCount(), error = 0;
    for (;;) {
        error = ConnectNamedPipe(m_hPipe, overlapped) ? 0 : GetLastError();
        if (error == 0) break;
        if (error == ERROR_PIPE_CONNECTED) break;
        if (error == ERROR_NO_DATA) {
            // A reader that came and went before it was seen: listen again for the next one.
            DisconnectNamedPipe(m_hPipe);
        } else if (error != ERROR_PIPE_LISTENING) {
            break;
        }
        DWORD waited = GetTickCount() - start;
        if (timeOutMs != INFINITE && waited >= timeOutMs) {
            error = ERROR_TIMEOUT;
            break;
        }
        DWORD slice = timeOutMs == INFINITE ? kConnectPollMs : std::min<DWORD>(kConnectPollMs, timeOutMs - waited);
        if (!abandon) {
            Sleep(slice);
        } else if (WaitForSingleObject(abandon, slice) == WAIT_OBJECT_0) {
            error = ERROR_OPERATION_ABORTED;
            break;
        }
    }
    bool connected = error == 0 || error == ERROR_PIPE_CONNECTED;
    if (!SetNamedPipeHandleState(m_hPipe, &mode, nullptr, nullptr) && connected) ThrowNamedPipeException(0);
    if (!connected) ThrowNamedPipeException(error);
    return TRUE;
}

DWORD NamedPipe::Read(LPVOID buffer, DWORD toRead, LPOVERLAPPED overlapped) {
    DWORD done = 0;
    if (!ReadFile(m_hPipe, buffer, toRead, &done, overlapped)) ThrowNamedPipeException(0);
    return done;
}

DWORD NamedPipe::Write(LPCVOID buffer, DWORD toWrite, LPOVERLAPPED overlapped) {
    DWORD done = 0;
    if (!WriteFile(m_hPipe, buffer, toWrite, &done, overlapped)) ThrowNamedPipeException(0);
    return done;
}

BOOL NamedPipe::Close() {
    if (m_hPipe == INVALID_HANDLE_VALUE) return 0;
    BOOL r = CloseHandle(m_hPipe);
    m_hPipe = INVALID_HANDLE_VALUE;
    return r;
}
