// CTimeSpan: a signed difference of two CTime values in whole seconds.
#pragma once

#include <cstdint>

class CTimeSpan {
public:
    CTimeSpan() = default;
    CTimeSpan(int64_t seconds) : m_nSpan(seconds) {}
    CTimeSpan(long days, int hours, int minutes, int seconds)
        : m_nSpan(((static_cast<int64_t>(days) * 24 + hours) * 60 + minutes) * 60 + seconds) {}

    int64_t GetTimeSpan() const { return m_nSpan; }
    int64_t GetDays() const { return m_nSpan / (24 * 3600); }
    int64_t GetTotalHours() const { return m_nSpan / 3600; }
    int64_t GetTotalMinutes() const { return m_nSpan / 60; }
    int64_t GetTotalSeconds() const { return m_nSpan; }
    int GetHours() const { return static_cast<int>(GetTotalHours() - GetDays() * 24); }
    int GetMinutes() const { return static_cast<int>(GetTotalMinutes() - GetTotalHours() * 60); }
    int GetSeconds() const { return static_cast<int>(m_nSpan - GetTotalMinutes() * 60); }

    CTimeSpan operator+(CTimeSpan o) const { return CTimeSpan(m_nSpan + o.m_nSpan); }
    CTimeSpan operator-(CTimeSpan o) const { return CTimeSpan(m_nSpan - o.m_nSpan); }
    bool operator==(CTimeSpan o) const { return m_nSpan == o.m_nSpan; }
    bool operator!=(CTimeSpan o) const { return m_nSpan != o.m_nSpan; }
    bool operator<(CTimeSpan o) const { return m_nSpan < o.m_nSpan; }
    bool operator>(CTimeSpan o) const { return m_nSpan > o.m_nSpan; }

private:
    int64_t m_nSpan = 0;
};
