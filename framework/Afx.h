// The framework's base in one include: strings, containers, time, exceptions, files, locks,
// threads and sockets.
#pragma once

#include "framework/AfxSocketInit.h"
#include "framework/CArray.h"
#include "framework/CAsyncSocket.h"
#include "framework/CCriticalSection.h"
#include "framework/CException.h"
#include "framework/CFile.h"
#include "framework/CFileException.h"
#include "framework/CMutex.h"
#include "framework/CSingleLock.h"
#include "framework/CSocket.h"
#include "framework/CString.h"
#include "framework/CSyncObject.h"
#include "framework/CTime.h"
#include "framework/CTimeSpan.h"
#include "framework/CWinThread.h"
