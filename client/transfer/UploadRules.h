// Segment, RunReport: decisions of an upload row's engine, from plain numbers. How many segment
// threads to offer, the server's segment list taken within the file's bounds, whether the server
// holds the whole file, and what a run ends in. Standard C++ only, so it is tested natively too.
#pragma once

#include <cstdint>
#include <vector>

namespace uploadrules {

const int kMaxSegments = 10;
// Runs a row starts by itself, after the first, while the server still lacks bytes.
const int kAutoResumes = 3;

// Segment threads offered for a new upload: the configured count, within 1..10.
int ThreadCount(int configured);

// One segment as the server lists it: 32-bit fields taken as unsigned and held inside a file
// of the given size, so no sum over ten of them can wrap.
struct Segment {
    uint32_t number = 0;
    uint64_t offset = 0;     // the segment's next byte
    uint64_t done = 0;       // bytes the server has of it
    uint64_t remaining = 0;  // bytes still to send from offset
    // The bytes the server says it received, [offset - done, offset); false when its numbers
    // cannot describe such a range inside the file, so they vouch for no byte.
    bool rangeKnown = false;
};
Segment Clamp(uint32_t number, uint32_t offset, uint32_t done, uint32_t remaining, uint64_t fileSize);

uint64_t DoneSum(const std::vector<Segment>& segments);
// Bytes of the file inside at least one received range; overlaps count once.
uint64_t HeldBytes(std::vector<Segment> segments, uint64_t fileSize);
// True only when no listed segment lacks a byte and the received ranges cover every byte of the
// file: counts that add up prove nothing where ranges overlap.
bool HoldsWholeFile(const std::vector<Segment>& segments, uint64_t fileSize);

// What the engine knows once a run's threads have ended (or before the first run).
struct RunReport {
    bool cancelled = false;
    bool paused = false;
    bool fileKnown = false;   // the server gave the upload a file id
    bool listed = false;      // its segment list came
    bool wholeFile = false;   // and the server holds every byte
    bool noSegments = false;  // the list came and named no segment of the file
    bool progressed = false;  // the last run raised the bytes the server holds
    int runs = 0;             // runs made so far
};

enum class Outcome {
    Cancelled,  // nothing more: the cancel removes the row
    Done,       // "完成"
    Resumable,  // "续传": the server keeps what it has, a resume goes on from there
    RunAgain,   // another run from the server's offsets, without asking the user
    Retry,      // "重传": the server holds nothing of this upload to resume from
};
// A row runs again by itself only after a run that got the server more bytes: a server that
// took nothing will take nothing the next time either, and the user is asked instead.
Outcome AfterRun(const RunReport& report);

}  // namespace uploadrules
