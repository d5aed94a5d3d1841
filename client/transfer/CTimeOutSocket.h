// CTimeOutSocket: a blocking socket whose pending call is cut when a periodic thread timer,
// started by SetTimeOut, next fires.
#pragma once

#include "framework/CSocket.h"

class CTimeOutSocket : public CSocket {
public:
    CTimeOutSocket() = default;
    ~CTimeOutSocket() override;

    // Starts the periodic timer of the calling thread; returns its id (0 when none was made).
    UINT_PTR SetTimeOut(UINT milliseconds);

    UINT_PTR m_nTimeOutTimer = 0;

    BOOL OnMessagePending() override;

private:
    // Each socket keeps its own tick schedule, so another socket's timer message (or one
    // removed by someone else) can neither cut nor spare this socket's call.
    DWORD m_dwTimerStart = 0;
    UINT m_nPeriod = 0;
};
