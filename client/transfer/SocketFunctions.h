// Raw WinSock helpers with time-outs in seconds, in the manner of the BSD calls they wrap:
// 0 or a count on success, -1 on error, -2 on time-out; details in errno and WSAGetLastError.
#pragma once

#include "client/transfer/TimeValue.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>

// Asked between short waits of a call that was given one; true ends the call at once (its
// upload was paused or cancelled), so no peer can hold a pause or a cancel for a whole time-out.
using StopTest = std::function<bool()>;
// Result of a connect ended by its stop test.
const int kSocketStopped = -3;

int SConnect(SOCKET s, const sockaddr_in* address, int timeoutSeconds, const StopTest& stop = StopTest());
int ConnectWithTimeout(SOCKET s, const sockaddr* address, int length, int timeoutSeconds,
                       const StopTest& stop = StopTest());
int SWrite(SOCKET s, const char* buffer, int length, int timeoutSeconds);
// SWrite for a socket its owner keeps non-blocking: no mode switch per call, which costs a
// round trip each on some stacks and showed as a quarter of the upload speed. A send ended by
// its stop test returns what went before it (0 for nothing).
int SWriteNonBlocking(SOCKET s, const char* buffer, int length, int timeoutSeconds, const StopTest& stop = StopTest());
// After the last byte: shuts the sending side down and waits for the peer to close, so that
// the peer has read everything before anyone asks it what it holds. True for an orderly close
// within the time-out; false for a reset, an error, the time-out or the stop test.
bool ShutDownAndWaitForClose(SOCKET s, int timeoutMs, const StopTest& stop = StopTest());
uint32_t CurrentTime(int64_t* now);
int CloseSocket(SOCKET s);
int CloseSocketRaw(SOCKET s);
int SetSocketNonBlocking(SOCKET s, u_long on);
int SetSocketBufSize(SOCKET s, int receiveSize, int sendSize);
int GetSocketBufSize(SOCKET s, int* receiveSize, int* sendSize);
int SetSocketKeepAlive(SOCKET s, int value);
int SetSocketTypeOfService(SOCKET s, int value);
int TimeOfDay(TimeValue* tv);
