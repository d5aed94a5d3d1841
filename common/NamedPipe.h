// NamedPipe, CNamedPipeException: one Windows named-pipe handle for one exchange; every failing call but Close throws.
#pragma once

#include <windows.h>

#include "framework/CException.h"

class CNamedPipeException : public CException {
public:
    explicit CNamedPipeException(DWORD errorCode) : m_dwError(errorCode) {}
    BOOL GetErrorMessage(LPTSTR buffer, UINT maxChars, PUINT helpContext = nullptr) const override;
    CString GetErrorText() const;
    static const wchar_t* ClassName() { return L"CNamedPipeException"; }

    DWORD m_dwError;
};

class NamedPipe {
public:
    // The one short name both programs and the service use.
    static constexpr const wchar_t* kPipeWord = L"OrvoQUILLEXZN";

    NamedPipe() = default;
    ~NamedPipe() { Close(); }
    NamedPipe(const NamedPipe&) = delete;
    NamedPipe& operator=(const NamedPipe&) = delete;

    void Create(LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances, DWORD outBufferSize,
                DWORD inBufferSize, DWORD defaultTimeOut, LPSECURITY_ATTRIBUTES sa);
    void Open(LPCWSTR serverName, LPCWSTR name, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES sa,
              DWORD flagsAndAttributes);
    static void ServerAvailable(LPCWSTR serverName, LPCWSTR name, DWORD timeOut);
    // One hand-over as the pipe's server: a one-instance message pipe, a reader awaited at most
    // waitMs (and no longer once abandon, when given, is set), the bytes written, the pipe closed.
    // A failure is printed to standard output ("Named Pipe Exception, ...") and gives false.
    static bool HandOver(LPCWSTR name, const void* bytes, DWORD size, DWORD waitMs, HANDLE abandon = nullptr);
    BOOL SetMode(BOOL byteMode, BOOL blocking);
    // Waits for a reader. A reader that opened the pipe before this call counts as connected.
    // With a time-out other than INFINITE the wait ends with ERROR_TIMEOUT when no reader came,
    // so a busy or absent client cannot hold the writer for ever; once abandon (an event) is set it
    // ends with ERROR_OPERATION_ABORTED.
    BOOL ConnectClient(LPOVERLAPPED overlapped, DWORD timeOutMs = INFINITE, HANDLE abandon = nullptr);
    DWORD Read(LPVOID buffer, DWORD toRead, LPOVERLAPPED overlapped);
    DWORD Write(LPCVOID buffer, DWORD toWrite, LPOVERLAPPED overlapped);
    BOOL Close();
    bool IsOpen() const { return m_hPipe != INVALID_HANDLE_VALUE; }

    // Pipe-mode value SetMode hands to SetNamedPipeHandleState.
    static DWORD ModeFor(BOOL byteMode, BOOL blocking) {
        return (byteMode ? PIPE_READMODE_BYTE : PIPE_READMODE_MESSAGE) | (blocking ? PIPE_WAIT : PIPE_NOWAIT);
    }

private:
    [[noreturn]] static void ThrowNamedPipeException(DWORD error);
    static const DWORD kConnectPollMs = 10;
    HANDLE m_hPipe = INVALID_HANDLE_VALUE;
};
