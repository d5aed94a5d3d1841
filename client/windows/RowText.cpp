#include "client/windows/RowText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace rowtext {

namespace {

const double kMiB = 1048576.0;
const double kKiB = 1024.0;

std::wstring Widen(const char* s) { return std::wstring(s, s + std::char_traits<char>::length(s)); }

std::wstring Format1(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return Widen(buffer);
}

// rest × 100 / size rounded down, for rest below size: exact where rest × 100 wraps.
uint64_t HundredthsOf(uint64_t rest, uint64_t size) {
    if (rest <= UINT64_MAX / 100) return rest * 100 / size;
    // rest * 100 would wrap: a hundred additions of rest, reduced modulo size as they go.
    uint64_t part = 0, left = 0;
    for (int i = 0; i < 100; ++i) {
        if (left >= size - rest) {
            left -= size - rest;
            ++part;
        } else {
            left += rest;
        }
    }
    return part;
}

}  // namespace

double ElapsedSeconds(int64_t startSec, int64_t startUsec, int64_t nowSec, int64_t nowUsec) {
    int64_t seconds = nowSec - startSec;
    int64_t micros = nowUsec - startUsec;
    if (micros < 0) {
        seconds -= 1;
        micros += 1000000;
    }
    return static_cast<double>(seconds) + static_cast<double>(micros) * 1e-6;
}

double SpeedOf(uint64_t done, uint64_t base, double elapsed) {
    if (!(elapsed > 0)) return -1;
    // A base above done (segments re-listed lower by the server) is no negative wrap-around.
    const double sent = done >= base ? static_cast<double>(done - base) : -static_cast<double>(base - done);
    return sent / elapsed;
}

std::wstring Speed(double v) {
    if (v >= kMiB) return Format1("%.1fMB/s", v / kMiB);
    if (v >= kKiB) return Format1("%.1fKB/s", v / kKiB);
    return Format1("%.1fB/s", v);
}

std::wstring Done(uint64_t bytes) {
    const double v = static_cast<double>(bytes);
    if (bytes >= 1048576) return Format1("%.1fMB", v / kMiB);
    if (bytes < 1024) return Format1("%.1fB", v);
    return Format1("%.1fKB", v / kKiB);
}

int RunPercent(uint64_t done, uint64_t size) {
    if (size == 0 || done >= size) return 100;
    // In integers: a double would round 99.99... up to 100 for the largest sizes.
    return static_cast<int>(FinalPercent(done, size));
}

uint64_t FinalPercent(uint64_t done, uint64_t size) {
    if (size == 0) return 100;
    if (done <= UINT64_MAX / 100) return done * 100 / size;
    // done * 100 would wrap: whole multiples and the rest apart, saturating.
    const uint64_t whole = done / size;
    if (whole > (UINT64_MAX - 100) / 100) return UINT64_MAX;
    return whole * 100 + HundredthsOf(done % size, size);
}

std::wstring Percent(int percent) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d%%", percent);
    return Widen(buffer);
}

uint32_t RemainingSeconds(uint64_t size, uint64_t done, double bytesPerSecond) {
    if (done >= size || !(bytesPerSecond > 0)) return 0;
    const double seconds = static_cast<double>(size - done) / bytesPerSecond;
    if (!(seconds < kMaxRemainingSeconds)) return kMaxRemainingSeconds;
    return static_cast<uint32_t>(seconds);
}

std::wstring Clock(uint32_t seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", seconds / 3600, (seconds % 3600) / 60, seconds % 60);
    return Widen(buffer);
}

std::wstring FitName(const std::wstring& name, int width, const std::function<int(const std::wstring&)>& measure) {
    if (measure(name) <= width) return name;
    const int limit = width - 3 * measure(L".");
    size_t n = 1;
    while (n < name.size() && measure(name.substr(0, n)) < limit) ++n;
    if (n >= name.size()) n = name.size();
    return name.substr(0, n > 0 ? n - 1 : 0) + L"...";
}

}  // namespace rowtext
