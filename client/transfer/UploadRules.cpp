#include "client/transfer/UploadRules.h"

#include <algorithm>

namespace uploadrules {

int ThreadCount(int configured) { return std::min(std::max(configured, 1), kMaxSegments); }

Segment Clamp(uint32_t number, uint32_t offset, uint32_t done, uint32_t remaining, uint64_t fileSize) {
    Segment s;
    s.number = number;
    s.offset = std::min<uint64_t>(offset, fileSize);
    s.done = std::min<uint64_t>(done, fileSize);
    s.remaining = std::min<uint64_t>(remaining, fileSize - s.offset);
    return s;
}

uint64_t DoneSum(const std::vector<Segment>& segments) {
    uint64_t sum = 0;
    for (const Segment& s : segments) sum = s.done > UINT64_MAX - sum ? UINT64_MAX : sum + s.done;
    return sum;
}

bool HoldsWholeFile(const std::vector<Segment>& segments, uint64_t fileSize) {
    for (const Segment& s : segments)
        if (s.remaining != 0) return false;
    return DoneSum(segments) == fileSize;
}

Outcome AfterRun(const RunReport& r) {
    if (r.cancelled) return Outcome::Cancelled;
    if (r.listed && r.wholeFile) return Outcome::Done;
    if (!r.fileKnown) return Outcome::Retry;
    if (r.paused) return Outcome::Resumable;
    return r.runs <= kAutoResumes ? Outcome::RunAgain : Outcome::Resumable;
}

}  // namespace uploadrules
