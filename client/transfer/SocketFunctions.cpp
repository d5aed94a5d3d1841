#include "client/transfer/SocketFunctions.h"

#include <ws2tcpip.h>

#include <cerrno>
#include <ctime>

namespace {
const int kEIntr = 4;
const int kEBadF = 9;
const int kEInval = 22;
const int kETimedOut = 138;
// Longest wait between two looks at a stop test.
const ULONGLONG kStopSliceMs = 100;

// IP_TOS in the WinSock 2 numbering (ws2ipdef.h), the one ws2_32 reads; the old WinSock 1.1
// header numbers the same option 8.
const int kIpTypeOfService = 3;

int TimedOut() {
    errno = kETimedOut;
    ::WSASetLastError(WSAETIMEDOUT);
    return -2;
}

void ShutDownKeepingError(SOCKET s) {
    int err = ::WSAGetLastError();
    ::shutdown(s, SD_BOTH);
    ::WSASetLastError(err);
}

// The wait before the next look: what is left of the time-out, in slices when there is a stop
// test to look at.
timeval WaitFor(ULONGLONG leftMs, const StopTest& stop) {
    if (stop && leftMs > kStopSliceMs) leftMs = kStopSliceMs;
    timeval tv = {static_cast<long>(leftMs / 1000), static_cast<long>((leftMs % 1000) * 1000)};
    return tv;
}

enum class Wait { Ready, TimedOut, Stopped, Failed };
enum class Until { Readable, Writable };

// Waits until the socket is ready (or in `failed`, for a connect), the deadline passes or the
// stop test ends the wait; without stopFirst the first look is not cut. Failed leaves select's
// error as the last error.
Wait WaitUntil(SOCKET s, Until until, ULONGLONG deadline, const StopTest& stop, bool stopFirst,
               fd_set* failed = nullptr) {
    for (bool first = true;; first = false) {
        if ((stopFirst || !first) && stop && stop()) return Wait::Stopped;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return Wait::TimedOut;
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(s, &ready);
        if (failed) {
            FD_ZERO(failed);
            FD_SET(s, failed);
        }
        timeval tv = WaitFor(deadline - now, stop);
        const int r = until == Until::Readable ? ::select(0, &ready, nullptr, nullptr, &tv)
                                               : ::select(0, nullptr, &ready, failed, &tv);
        if (r > 0) return Wait::Ready;
        if (r < 0 && ::WSAGetLastError() != WSAEINTR) return Wait::Failed;
    }
}
}  // namespace

int SConnect(SOCKET s, const sockaddr_in* address, int timeoutSeconds, const StopTest& stop) {
    return ConnectWithTimeout(s, reinterpret_cast<const sockaddr*>(address), 16, timeoutSeconds, stop);
}

int ConnectWithTimeout(SOCKET s, const sockaddr* address, int length, int timeoutSeconds, const StopTest& stop) {
    if (!address) {
        errno = kEInval;
        return -1;
    }
    if (timeoutSeconds <= 0) {
        int r;
        do {
            r = ::connect(s, address, length);
        } while (r == SOCKET_ERROR && ::WSAGetLastError() == WSAEINTR);
        return r;
    }
    if (SetSocketNonBlocking(s, 1) != 0) {
        errno = ::WSAGetLastError();
        return -1;
    }
    if (::connect(s, address, length) == SOCKET_ERROR) {
        int err = ::WSAGetLastError();
        if (err != WSAEWOULDBLOCK && err != WSAEINPROGRESS) {
            errno = err;
            ShutDownKeepingError(s);
            return -1;
        }
        fd_set failed;
        const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutSeconds) * 1000;
        ::WSASetLastError(0);
        // The first wait is not cut: a connect that completes at once goes ahead.
        switch (WaitUntil(s, Until::Writable, deadline, stop, false, &failed)) {
        case Wait::Ready: break;
        case Wait::Stopped: ShutDownKeepingError(s); return kSocketStopped;
        case Wait::TimedOut: return TimedOut();
        case Wait::Failed: errno = ::WSAGetLastError(); return -1;
        }
        if (FD_ISSET(s, &failed)) {
            int soError = 0;
            int len = sizeof(soError);
            if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) == SOCKET_ERROR ||
                soError == 0) {
                char zero = 0;
                ::send(s, &zero, 1, 0);
                soError = ::WSAGetLastError();
            }
            errno = soError;
            ::WSASetLastError(soError);
            ShutDownKeepingError(s);
            return -1;
        }
    }
    if (SetSocketNonBlocking(s, 0) != 0) {
        errno = ::WSAGetLastError();
        ShutDownKeepingError(s);
        return -1;
    }
    return 0;
}

// Sends without blocking inside the wait, so a peer that stops reading cannot hold the call
// past its deadline; every wait is bounded by the time left. The socket is left blocking,
// the mode the other helpers give it.
int SWrite(SOCKET s, const char* buffer, int length, int timeoutSeconds) {
    if (!buffer || length <= 0 || timeoutSeconds < 1) {
        errno = kEInval;
        return -1;
    }
    if (SetSocketNonBlocking(s, 1) != 0) {
        errno = ::WSAGetLastError();
        return -1;
    }
    const int result = SWriteNonBlocking(s, buffer, length, timeoutSeconds);
    int err = ::WSAGetLastError();
    int savedErrno = errno;
    SetSocketNonBlocking(s, 0);
    ::WSASetLastError(err);
    errno = savedErrno;
    return result;
}

int SWriteNonBlocking(SOCKET s, const char* buffer, int length, int timeoutSeconds, const StopTest& stop) {
    if (!buffer || length <= 0 || timeoutSeconds < 1) {
        errno = kEInval;
        return -1;
    }
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutSeconds) * 1000;
    int sent = 0;
    for (bool first = true;; first = false) {
        if (!first) {
            const Wait wait = WaitUntil(s, Until::Writable, deadline, stop, true);
            if (wait == Wait::Stopped) return sent;
            if (wait == Wait::TimedOut) break;
            if (wait == Wait::Failed) {
                errno = ::WSAGetLastError();
                return sent > 0 ? sent : -1;
            }
        }
        int n = ::send(s, buffer + sent, length - sent, 0);
        if (n == SOCKET_ERROR) {
            int err = ::WSAGetLastError();
            if (err == WSAEWOULDBLOCK || err == WSAEINTR) continue;
            errno = err;
            return sent > 0 ? sent : -1;
        }
        sent += n;
        if (sent >= length) return length;
    }
    return sent > 0 ? sent : TimedOut();
}

bool ShutDownAndWaitForClose(SOCKET s, int timeoutMs, const StopTest& stop) {
    if (::shutdown(s, SD_SEND) == SOCKET_ERROR) return false;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs > 0 ? timeoutMs : 0);
    char discard[512];
    for (;;) {
        if (WaitUntil(s, Until::Readable, deadline, stop, true) != Wait::Ready) return false;
        const int n = ::recv(s, discard, sizeof discard, 0);
        if (n == 0) return true;
        if (n == SOCKET_ERROR) {
            const int err = ::WSAGetLastError();
            if (err == WSAEWOULDBLOCK || err == WSAEINTR) continue;
            return false;
        }
        // The data connection carries no reply: anything the peer sends is dropped.
    }
}

uint32_t CurrentTime(int64_t* now) {
    int64_t t = _time64(nullptr);
    if (now) *now = t;
    return static_cast<uint32_t>(t);
}

int CloseSocket(SOCKET s) {
    if (static_cast<int>(s) < 0) {
        errno = kEBadF;
        return -1;
    }
    return ::closesocket(s);
}

int CloseSocketRaw(SOCKET s) { return ::closesocket(s); }

int SetSocketNonBlocking(SOCKET s, u_long on) { return ::ioctlsocket(s, FIONBIO, &on); }

int SetSocketBufSize(SOCKET s, int receiveSize, int sendSize) {
    if (sendSize != 0) {
        int r = ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendSize), sizeof(sendSize));
        if (r < 0) return r;
    }
    if (receiveSize != 0) {
        int r =
            ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveSize), sizeof(receiveSize));
        if (r < 0) return r;
    }
    return 0;
}

int GetSocketBufSize(SOCKET s, int* receiveSize, int* sendSize) {
    int r = 0;
    if (sendSize) {
        int len = sizeof(int);
        r = ::getsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(sendSize), &len);
        if (r != 0) *sendSize = 0;
    }
    if (receiveSize) {
        int len = sizeof(int);
        r = ::getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(receiveSize), &len);
        if (r != 0) *receiveSize = 0;
    }
    return r;
}

int SetSocketKeepAlive(SOCKET s, int value) {
    return ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&value), sizeof(value));
}

int SetSocketTypeOfService(SOCKET s, int value) {
    return ::setsockopt(s, IPPROTO_IP, kIpTypeOfService, reinterpret_cast<const char*>(&value), sizeof(value));
}

int TimeOfDay(TimeValue* tv) {
    // Written without a lock: concurrent first calls compute the same value.
    static volatile uint64_t s_base = 0;
    if (!tv) return -1;
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    uint64_t now = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    if (s_base == 0) {
        SYSTEMTIME epoch = {};
        epoch.wYear = 1970;
        epoch.wMonth = 1;
        epoch.wDay = 1;
        FILETIME base;
        if (!::SystemTimeToFileTime(&epoch, &base)) return -1;
        s_base = (static_cast<uint64_t>(base.dwHighDateTime) << 32) | base.dwLowDateTime;
    }
    if (now < s_base) {
        s_base = 0;
        return -1;
    }
    return TimeOfDayFromFileTimes(now, s_base, tv);
}
