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
    s.rangeKnown = offset <= fileSize && done <= offset && remaining <= fileSize - offset;
    return s;
}

uint64_t DoneSum(const std::vector<Segment>& segments) {
    uint64_t sum = 0;
    for (const Segment& s : segments) sum = s.done > UINT64_MAX - sum ? UINT64_MAX : sum + s.done;
    return sum;
}

uint64_t HeldBytes(std::vector<Segment> segments, uint64_t fileSize) {
    segments.erase(std::remove_if(segments.begin(), segments.end(),
                                  [&](const Segment& s) { return !s.rangeKnown || s.offset > fileSize; }),
                   segments.end());
    std::sort(segments.begin(), segments.end(),
              [](const Segment& a, const Segment& b) { return a.offset - a.done < b.offset - b.done; });
    uint64_t held = 0, reached = 0;
    for (const Segment& s : segments) {
        const uint64_t from = std::max(s.offset - s.done, reached);
        if (s.offset > from) held += s.offset - from;
        reached = std::max(reached, s.offset);
    }
    return held;
}

bool HoldsWholeFile(const std::vector<Segment>& segments, uint64_t fileSize) {
    for (const Segment& s : segments)
        if (s.remaining != 0) return false;
    return HeldBytes(segments, fileSize) == fileSize;
}

Outcome AfterRun(const RunReport& r) {
    if (r.cancelled) return Outcome::Cancelled;
    if (r.listed && r.wholeFile) return Outcome::Done;
    // Nothing to resume from: the announcement failed, or the server no longer knows the file.
    if (!r.fileKnown || (r.listed && r.noSegments)) return Outcome::Retry;
    if (r.paused || !r.listed) return Outcome::Resumable;
    if (r.runs == 0) return Outcome::RunAgain;
    return r.progressed && r.runs <= kAutoResumes ? Outcome::RunAgain : Outcome::Resumable;
}

}  // namespace uploadrules
