// Raw WinSock helpers with time-outs in seconds, in the manner of the BSD calls they wrap:
// 0 or a count on success, -1 on error, -2 on time-out; details in errno and WSAGetLastError.
#pragma once

#include "client/transfer/TimeValue.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

int SConnect(SOCKET s, const sockaddr_in* address, int timeoutSeconds);
int ConnectWithTimeout(SOCKET s, const sockaddr* address, int length, int timeoutSeconds);
int SWrite(SOCKET s, const char* buffer, int length, int timeoutSeconds);
// SWrite for a socket its owner keeps non-blocking: no mode switch per call, which costs a
// round trip each on some stacks and showed as a quarter of the upload speed.
int SWriteNonBlocking(SOCKET s, const char* buffer, int length, int timeoutSeconds);
uint32_t CurrentTime(int64_t* now);
int CloseSocket(SOCKET s);
int CloseSocketRaw(SOCKET s);
int SetSocketNonBlocking(SOCKET s, u_long on);
int SetSocketBufSize(SOCKET s, int receiveSize, int sendSize);
int GetSocketBufSize(SOCKET s, int* receiveSize, int* sendSize);
int SetSocketKeepAlive(SOCKET s, int value);
int SetSocketTypeOfService(SOCKET s, int value);
int TimeOfDay(TimeValue* tv);
