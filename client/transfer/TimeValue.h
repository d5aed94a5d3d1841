// The time value of TimeOfDay: whole seconds and microseconds since 1970-01-01 00:00:00 UTC.
#pragma once

#include <cstdint>

struct TimeValue {
    int32_t tv_sec;
    int32_t tv_usec;
};

// The arithmetic of TimeOfDay over file times (100 ns units since 1601) of now and of the
// 1970 base: 0, or -1 for a null pointer or a time before the base.
int TimeOfDayFromFileTimes(uint64_t now, uint64_t base, TimeValue* tv);
