#include "framework/CTime.h"

#include <gtest/gtest.h>

#include <ctime>

TEST(CTime, LocalFieldsFormatAndDifferences) {
    CTime t(2024, 2, 29, 13, 5, 9);
    EXPECT_EQ(CString(L"2024-02-29 13:05:09"), t.Format(L"%Y-%m-%d %H:%M:%S"));
    EXPECT_EQ(CString(L"'2024-02-29 13:05:09'"), t.Format(L"'%Y-%m-%d %H:%M:%S'"));
    EXPECT_EQ(2024, t.GetYear());
    EXPECT_EQ(2, t.GetMonth());
    EXPECT_EQ(29, t.GetDay());
    EXPECT_EQ(13, t.GetHour());
    EXPECT_EQ(5, t.GetMinute());
    EXPECT_EQ(9, t.GetSecond());
    EXPECT_EQ(5, t.GetDayOfWeek());  // Thursday

    CTime later(2024, 3, 1, 14, 6, 10);
    CTimeSpan span = later - t;
    EXPECT_EQ(90061, span.GetTotalSeconds());
    EXPECT_EQ(1, span.GetDays());
    EXPECT_EQ(1, span.GetHours());
    EXPECT_EQ(1, span.GetMinutes());
    EXPECT_EQ(1, span.GetSeconds());
    EXPECT_EQ(-90061, (t - later).GetTotalSeconds());
    EXPECT_EQ(later, t + CTimeSpan(1, 1, 1, 1));
    EXPECT_TRUE(t < later);

    EXPECT_EQ(CString(L"1970-01-01 00:00:00"), CTime(0).FormatGmt(L"%Y-%m-%d %H:%M:%S"));
    EXPECT_TRUE(t.Format(L"").IsEmpty());
    EXPECT_TRUE(t.Format(nullptr).IsEmpty());
}

TEST(CTime, CurrentTimeIsTheCalendarClock) {
    int64_t before = static_cast<int64_t>(time(nullptr));
    CTime now = CTime::GetCurrentTime();
    EXPECT_GE(now.GetTime(), before);
    EXPECT_LE(now.GetTime(), before + 2);
}
