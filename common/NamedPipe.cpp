#include "common/NamedPipe.h"

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
    lstrcpynW(m_szName, full, MAX_PATH);
    HANDLE h =
        CreateNamedPipeW(full, openMode, pipeMode, maxInstances, outBufferSize, inBufferSize, defaultTimeOut, sa);
    if (h == INVALID_HANDLE_VALUE) {
        m_szName[0] = 0;
        ThrowNamedPipeException(0);
    }
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

bool NamedPipe::HandOver(LPCWSTR name, const void* bytes, DWORD size, DWORD waitMs) {
    try {
        NamedPipe pipe;
        pipe.Create(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096, 4096, 1, nullptr);
        pipe.SetMode(FALSE, TRUE);
        pipe.ConnectClient(nullptr, waitMs);
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

namespace {
struct ConnectCall {
    HANDLE pipe;
    LPOVERLAPPED overlapped;
    BOOL result;
    DWORD error;
};

DWORD WINAPI ConnectThread(LPVOID p) {
    auto* call = static_cast<ConnectCall*>(p);
    call->result = ConnectNamedPipe(call->pipe, call->overlapped);
    call->error = call->result ? 0 : GetLastError();
    return 0;
}
}  // namespace

BOOL NamedPipe::ConnectClient(LPOVERLAPPED overlapped, DWORD timeOutMs) {
    ConnectCall call{m_hPipe, overlapped, FALSE, 0};
    if (timeOutMs == INFINITE || m_szName[0] == 0) {
        ConnectThread(&call);
    } else {
        // The blocking connect runs on a helper so that the wait can end. On time-out our own
        // dummy reader releases it; when the real reader won the race, the pipe is connected.
        HANDLE thread = CreateThread(nullptr, 0, ConnectThread, &call, 0, nullptr);
        if (!thread) ThrowNamedPipeException(0);
        if (WaitForSingleObject(thread, timeOutMs) == WAIT_TIMEOUT) {
            HANDLE dummy = INVALID_HANDLE_VALUE;
            for (int i = 0; i < 50 && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; ++i) {
                dummy = CreateFileW(m_szName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                if (dummy != INVALID_HANDLE_VALUE) break;
                Sleep(20);
            }
            WaitForSingleObject(thread, 5000);
            CloseHandle(thread);
            if (dummy != INVALID_HANDLE_VALUE) {
                CloseHandle(dummy);
                DisconnectNamedPipe(m_hPipe);
                ThrowNamedPipeException(ERROR_TIMEOUT);
            }
        } else {
            CloseHandle(thread);
        }
    }
    if (!call.result && call.error != ERROR_PIPE_CONNECTED)
        ThrowNamedPipeException(call.error ? call.error : ERROR_GEN_FAILURE);
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
