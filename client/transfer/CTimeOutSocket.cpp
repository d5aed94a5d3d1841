#include "client/transfer/CTimeOutSocket.h"

CTimeOutSocket::~CTimeOutSocket() {
    if (m_nTimeOutTimer) ::KillTimer(nullptr, m_nTimeOutTimer);
}

UINT_PTR CTimeOutSocket::SetTimeOut(UINT milliseconds) {
    if (m_nTimeOutTimer) ::KillTimer(nullptr, m_nTimeOutTimer);
    m_nTimeOutTimer = ::SetTimer(nullptr, 0, milliseconds, nullptr);
    m_dwTimerStart = ::GetTickCount();
    m_nPeriod = m_nTimeOutTimer ? milliseconds : 0;
    return m_nTimeOutTimer;
}

BOOL CTimeOutSocket::OnMessagePending() {
    if (m_nTimeOutTimer && m_nPeriod) {
        MSG msg;
        bool ownTick = ::PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE) && msg.hwnd == nullptr &&
                       msg.wParam == m_nTimeOutTimer;
        // The first tick of the schedule after the call began.
        DWORD sinceStart = BlockingCallStart() - m_dwTimerStart;
        DWORD firstTick = (sinceStart / m_nPeriod + 1) * m_nPeriod;
        bool due = ::GetTickCount() - m_dwTimerStart >= firstTick;
        if (ownTick) ::PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE);
        if (due) {
            CancelBlockingCall();
            return FALSE;
        }
    }
    return CSocket::OnMessagePending();
}
