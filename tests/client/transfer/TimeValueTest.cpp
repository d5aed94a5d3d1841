#include "client/transfer/TimeValue.h"

#include <gtest/gtest.h>

TEST(TimeOfDay, FileTimeArithmetic) {
    const uint64_t base = 116444736000000000ULL;  // 1970-01-01 in file time
    struct Case {
        uint64_t now;
        int result;
        int32_t sec, usec;
    } cases[] = {
        {base, 0, 0, 0},
        {base + 5000000, 0, 0, 500000},
        {base + 10000000ULL * 1700000000 + 1234567, 0, 1700000000, 123456},
        {base + 9, 0, 0, 0},
        {base - 1, -1, 0, 0},
    };
    for (const auto& c : cases) {
        TimeValue tv = {0, 0};
        EXPECT_EQ(c.result, TimeOfDayFromFileTimes(c.now, base, &tv)) << c.now;
        EXPECT_EQ(c.sec, tv.tv_sec) << c.now;
        EXPECT_EQ(c.usec, tv.tv_usec) << c.now;
    }
    EXPECT_EQ(-1, TimeOfDayFromFileTimes(base, base, nullptr));
}
