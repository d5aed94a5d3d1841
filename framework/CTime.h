// CTime: a calendar time in whole seconds since 1970-01-01 00:00:00 UTC; broken-down
// fields and Format use local time, FormatGmt UTC.
#pragma once

#include "framework/CString.h"
#include "framework/CTimeSpan.h"

#include <cstdint>

class CTime {
public:
    CTime() = default;
    CTime(int64_t time) : m_nTime(time) {}
    // Local time; dst -1 lets the C runtime decide.
    CTime(int year, int month, int day, int hour, int minute, int second, int dst = -1);
    explicit CTime(const SYSTEMTIME& st, int dst = -1);

    static CTime GetCurrentTime();

    int64_t GetTime() const { return m_nTime; }
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const;  // 1 = Sunday

    // strftime conversions ("%Y-%m-%d %H:%M:%S").
    CString Format(LPCTSTR format) const;
    CString FormatGmt(LPCTSTR format) const;

    CTimeSpan operator-(CTime o) const { return CTimeSpan(m_nTime - o.m_nTime); }
    CTime operator-(CTimeSpan s) const { return CTime(m_nTime - s.GetTimeSpan()); }
    CTime operator+(CTimeSpan s) const { return CTime(m_nTime + s.GetTimeSpan()); }
    CTime& operator+=(CTimeSpan s) {
        m_nTime += s.GetTimeSpan();
        return *this;
    }
    CTime& operator-=(CTimeSpan s) {
        m_nTime -= s.GetTimeSpan();
        return *this;
    }
    bool operator==(CTime o) const { return m_nTime == o.m_nTime; }
    bool operator!=(CTime o) const { return m_nTime != o.m_nTime; }
    bool operator<(CTime o) const { return m_nTime < o.m_nTime; }
    bool operator>(CTime o) const { return m_nTime > o.m_nTime; }
    bool operator<=(CTime o) const { return m_nTime <= o.m_nTime; }
    bool operator>=(CTime o) const { return m_nTime >= o.m_nTime; }

private:
    bool Local(struct tm& out) const;
    int64_t m_nTime = 0;
};
