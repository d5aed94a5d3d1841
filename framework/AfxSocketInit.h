// AfxSocketInit: starts WinSock 2.2 for the process once; later calls are cheap.
#pragma once

#include <winsock2.h>
#include <windows.h>

BOOL AfxSocketInit(WSADATA* data = nullptr);
