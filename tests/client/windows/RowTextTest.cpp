#include "client/windows/RowText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace {

using namespace rowtext;

TEST(RowText, SpeedUnits) {
    const struct {
        double speed;
        const wchar_t* text;
    } cases[] = {
        {1048576, L"1.0MB/s"}, {1048575.9, L"1024.0KB/s"}, {1024, L"1.0KB/s"},          {1023, L"1023.0B/s"},
        {0, L"0.0B/s"},        {-1, L"-1.0B/s"},           {3.2 * 1048576, L"3.2MB/s"},
    };
    for (const auto& c : cases) EXPECT_EQ(Speed(c.speed), c.text) << c.speed;
}

TEST(RowText, DoneUnits) {
    const struct {
        uint64_t done;
        const wchar_t* text;
    } cases[] = {
        {1048576, L"1.0MB"},   {1048575, L"1024.0KB"},       {1024, L"1.0KB"}, {1023, L"1023.0B"}, {0, L"0.0B"},
        {10485760, L"10.0MB"}, {5368709120ull, L"5120.0MB"},
    };
    for (const auto& c : cases) EXPECT_EQ(Done(c.done), c.text) << c.done;
}

TEST(RowText, ElapsedAndSpeed) {
    EXPECT_DOUBLE_EQ(ElapsedSeconds(10, 900000, 12, 100000), 1.2);  // borrows a second
    EXPECT_DOUBLE_EQ(ElapsedSeconds(10, 100000, 12, 600000), 2.5);
    EXPECT_EQ(SpeedOf(2048, 0, 2.0), 1024);
    EXPECT_EQ(SpeedOf(3072, 1024, 2.0), 1024);  // only what this run sent
    // No time elapsed (or the clock went back): -1, and no remaining time from it.
    EXPECT_EQ(SpeedOf(100, 0, 0), -1);
    EXPECT_EQ(SpeedOf(100, 0, -0.5), -1);
    EXPECT_EQ(Speed(SpeedOf(100, 0, 0)), L"-1.0B/s");
    EXPECT_EQ(RemainingSeconds(1000, 100, SpeedOf(100, 0, 0)), 0u);
    EXPECT_LT(SpeedOf(100, 200, 1.0), 0);  // a base above done is no wrap-around
}

TEST(RowText, Percentages) {
    const struct {
        uint64_t done, size;
        int run;
        uint64_t final;
    } cases[] = {
        {50, 100, 50, 50},
        {999, 1000, 99, 99},
        {1000, 1000, 100, 100},
        {150, 100, 100, 150},  // capped while running; the final display keeps its last values
        {0, 0, 100, 100},
        {7, 0, 100, 100},  // an empty file is complete, and nothing divides
        {0, 5000000000ull, 0, 0},
        // done * 100 would wrap 64 bits: the final percentage saturates instead.
        {UINT64_MAX, 1, 100, UINT64_MAX},
        {UINT64_MAX, 0xFFFFFFFFull, 100, 429496729700ull},
        {UINT64_MAX - 1, UINT64_MAX, 99, 99},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunPercent(c.done, c.size), c.run) << c.done << "/" << c.size;
        EXPECT_EQ(FinalPercent(c.done, c.size), c.final) << c.done << "/" << c.size;
    }
    EXPECT_EQ(Percent(0), L"0%");
    EXPECT_EQ(Percent(100), L"100%");
}

TEST(RowText, RemainingTime) {
    const struct {
        uint64_t size, done;
        double speed;
        uint32_t seconds;
        const wchar_t* text;
    } cases[] = {
        {372500, 0, 100, 3725, L"01:02:05"},
        {1000, 1000, 10, 0, L"00:00:00"},  // done
        {1000, 2000, 10, 0, L"00:00:00"},  // done above the size
        {1000, 0, 0, 0, L"00:00:00"},      // no speed yet
        {1000, 0, -1, 0, L"00:00:00"},
        {359999, 0, 1, 359999, L"99:59:59"},
        {360000, 0, 1, 360000, L"100:00:00"},  // past 99 hours: a third digit, no cap yet
        {3599998, 0, 1, 3599998, L"999:59:58"},
        {3599999, 0, 1, kMaxRemainingSeconds, L"999:59:59"},                // the cap itself
        {3600000, 0, 1, kMaxRemainingSeconds, L"999:59:59"},                // one past it
        {1000000000000ull, 0, 1, kMaxRemainingSeconds, L"999:59:59"},       // clamped, not wrapped
        {1000000000000ull, 0, 1e-300, kMaxRemainingSeconds, L"999:59:59"},  // an infinite time
        {UINT64_MAX, 0, 4.0e-9, kMaxRemainingSeconds, L"999:59:59"},        // beyond 2^64 seconds
        {1000, 0, std::nan(""), 0, L"00:00:00"},
        {1000, 0, HUGE_VAL, 0, L"00:00:00"},
        {100, 0, 3, 33, L"00:00:33"},  // truncated
    };
    EXPECT_EQ(kMaxRemainingSeconds, 999u * 3600 + 59 * 60 + 59);
    for (const auto& c : cases) {
        EXPECT_EQ(RemainingSeconds(c.size, c.done, c.speed), c.seconds) << c.size << " " << c.done << " " << c.speed;
        EXPECT_EQ(Clock(RemainingSeconds(c.size, c.done, c.speed)), c.text);
    }
}

TEST(RowText, NameFitsTheLabel) {
    // Ten pixels a character, three for a dot.
    auto measure = [](const std::wstring& s) {
        int w = 0;
        for (wchar_t ch : s) w += ch == L'.' ? 3 : 10;
        return w;
    };
    const struct {
        const wchar_t* name;
        int width;
        const wchar_t* shown;
    } cases[] = {
        {L"abcdef", 60, L"abcdef"},   // exactly the label's width: whole
        {L"abcdef", 59, L"abcd..."},  // one pixel less: cut
        {L"abcdef", 200, L"abcdef"},
        {L"abcdef", 5, L"..."},  // not even one character fits
        {L"", 0, L""},
    };
    for (const auto& c : cases) {
        const std::wstring shown = FitName(c.name, c.width, measure);
        EXPECT_EQ(shown, c.shown) << c.width;
        if (shown != c.name && c.width > 9 + 10) {
            EXPECT_LE(measure(shown), c.width);
        }
    }
}

}  // namespace
