#include "framework/CTime.h"

#include <ctime>
#include <cwchar>

namespace {
CString FormatTm(const struct tm* t, LPCTSTR format) {
    if (!t || !format || !*format) return CString();
    wchar_t buf[512];
    size_t n = wcsftime(buf, 512, format, t);
    return CString(buf, static_cast<int>(n));
}
}  // namespace

CTime::CTime(int year, int month, int day, int hour, int minute, int second, int dst) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = dst;
    m_nTime = _mktime64(&t);
}

CTime::CTime(const SYSTEMTIME& st, int dst)
    : CTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, dst) {}

CTime CTime::GetCurrentTime() { return CTime(_time64(nullptr)); }

bool CTime::Local(struct tm& out) const {
    __time64_t t = m_nTime;
    return _localtime64_s(&out, &t) == 0;
}

#define CTIME_FIELD(name, expr)       \
    int CTime::name() const {         \
        struct tm t = {};             \
        return Local(t) ? (expr) : 0; \
    }
CTIME_FIELD(GetYear, t.tm_year + 1900)
CTIME_FIELD(GetMonth, t.tm_mon + 1)
CTIME_FIELD(GetDay, t.tm_mday)
CTIME_FIELD(GetHour, t.tm_hour)
CTIME_FIELD(GetMinute, t.tm_min)
CTIME_FIELD(GetSecond, t.tm_sec)
CTIME_FIELD(GetDayOfWeek, t.tm_wday + 1)
#undef CTIME_FIELD

CString CTime::Format(LPCTSTR format) const {
    struct tm t = {};
    return Local(t) ? FormatTm(&t, format) : CString();
}

CString CTime::FormatGmt(LPCTSTR format) const {
    struct tm t = {};
    __time64_t v = m_nTime;
    return _gmtime64_s(&t, &v) == 0 ? FormatTm(&t, format) : CString();
}
