// The texts of an upload row, from plain numbers: speed, bytes done, percentage, remaining
// time and the fitted file name. Standard C++ only, so it is tested natively too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace rowtext {

// The longest remaining time a row shows: 999:59:59, which still fits the row's remaining-time
// label in its font with room to spare.
const uint32_t kMaxRemainingSeconds = 999 * 3600 + 59 * 60 + 59;

// Seconds between two time-of-day values; now's microseconds may be the smaller.
double ElapsedSeconds(int64_t startSec, int64_t startUsec, int64_t nowSec, int64_t nowUsec);
// Bytes per second since the run began; -1 when no time has elapsed (or the clock went back).
double SpeedOf(uint64_t done, uint64_t base, double elapsed);

// "%.1fMB/s", "%.1fKB/s" or "%.1fB/s".
std::wstring Speed(double bytesPerSecond);
// "%.1fMB", "%.1fKB" or "%.1fB".
std::wstring Done(uint64_t bytes);
// Percentage during a run, 0..100: capped at 100, and 100 for an empty file.
int RunPercent(uint64_t done, uint64_t size);
// Percentage at the end of a run, uncapped (above 100 when done exceeds the size) but never
// wrapping: integer arithmetic that saturates. 100 for an empty file.
uint64_t FinalPercent(uint64_t done, uint64_t size);
// "%d%%".
std::wstring Percent(int percent);
// Seconds left at the given speed: 0 once done reaches the size or without a positive speed,
// at most kMaxRemainingSeconds.
uint32_t RemainingSeconds(uint64_t size, uint64_t done, double bytesPerSecond);
// "%02u:%02u:%02u": hours past 99 take a third digit.
std::wstring Clock(uint32_t seconds);

// The name as it fits a label `width` pixels wide: whole when not wider, else cut so that
// its start and "..." stay within the label. `measure` gives a text's width in pixels.
std::wstring FitName(const std::wstring& name, int width, const std::function<int(const std::wstring&)>& measure);

}  // namespace rowtext
