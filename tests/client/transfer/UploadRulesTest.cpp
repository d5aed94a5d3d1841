#include "client/transfer/UploadRules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using namespace uploadrules;

TEST(UploadRules, ThreadCountStaysWithinTheRow) {
    const struct {
        int configured, expected;
    } cases[] = {{-5, 1}, {0, 1}, {1, 1}, {5, 5}, {10, 10}, {11, 10}, {1 << 30, 10}};
    for (const auto& c : cases) EXPECT_EQ(ThreadCount(c.configured), c.expected) << c.configured;
}

TEST(UploadRules, ServerNumbersAreHeldInsideTheFile) {
    const struct {
        const char* what;
        uint32_t offset, done, remaining;
        uint64_t size;
        uint64_t offsetOut, doneOut, remainingOut;
    } cases[] = {
        {"as listed", 500, 500, 500, 1000, 500, 500, 500},
        {"done at 2^31 is no negative number", 0, 0x80000000u, 0, 0xC0000000ull, 0, 0x80000000ull, 0},
        {"done above the file", 0, 0xFFFFFFFFu, 0, 1000, 0, 1000, 0},
        {"remaining past the end", 900, 0, 0x80000000u, 1000, 900, 0, 100},
        {"offset beyond the file", 5000, 0, 100, 1000, 1000, 0, 0},
        {"empty file", 0, 0, 7, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const Segment s = Clamp(3, c.offset, c.done, c.remaining, c.size);
        EXPECT_EQ(s.number, 3u) << c.what;
        EXPECT_EQ(s.offset, c.offsetOut) << c.what;
        EXPECT_EQ(s.done, c.doneOut) << c.what;
        EXPECT_EQ(s.remaining, c.remainingOut) << c.what;
    }
}

TEST(UploadRules, WholeFileOnlyWhenTheReceivedRangesCoverIt) {
    // A segment as the server lists it: the next byte's offset, bytes received before it, bytes
    // still to send.
    auto seg = [](uint32_t offset, uint32_t done, uint32_t remaining, uint64_t size) {
        return Clamp(0, offset, done, remaining, size);
    };
    const struct {
        const char* what;
        std::vector<Segment> list;
        uint64_t size, held;
        bool whole;
    } cases[] = {
        {"all received", {seg(600, 600, 0, 1000), seg(1000, 400, 0, 1000)}, 1000, 1000, true},
        {"listed in another order", {seg(1000, 400, 0, 1000), seg(600, 600, 0, 1000)}, 1000, 1000, true},
        {"a segment lacks its tail", {seg(600, 600, 0, 1000), seg(931, 331, 69, 1000)}, 1000, 931, false},
        {"nothing remains but bytes are missing", {seg(600, 600, 0, 1000), seg(900, 300, 0, 1000)}, 1000, 900, false},
        // The counts add up to the file, yet the last 100 bytes are listed nowhere.
        {"a gap hidden by an overlap", {seg(600, 600, 0, 1000), seg(900, 400, 0, 1000)}, 1000, 900, false},
        {"overlapping ranges that cover the file", {seg(700, 700, 0, 1000), seg(1000, 500, 0, 1000)}, 1000, 1000, true},
        {"the same range twice", {seg(1000, 1000, 0, 1000), seg(1000, 1000, 0, 1000)}, 1000, 1000, true},
        {"covered, but the server still wants bytes",
         {seg(1000, 1000, 0, 1000), seg(500, 500, 1, 1000)},
         1000,
         1000,
         false},
        // Numbers that describe no range inside the file vouch for nothing.
        {"more received than lies before the next byte",
         {seg(500, 1000, 0, 1000), seg(1000, 500, 0, 1000)},
         1000,
         500,
         false},
        {"offset beyond the file", {seg(600, 600, 0, 1000), seg(5000, 4600, 0, 1000)}, 1000, 600, false},
        {"counts of 0xFFFFFFFF", std::vector<Segment>(10, seg(0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0xFFFFFFF6ull)),
         0xFFFFFFF6ull, 0, false},
        {"empty file without segments", {}, 0, 0, true},
        {"file without segments", {}, 1, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HeldBytes(c.list, c.size), c.held) << c.what;
        EXPECT_EQ(HoldsWholeFile(c.list, c.size), c.whole) << c.what;
    }
    EXPECT_EQ(DoneSum(std::vector<Segment>(3, seg(0, 0, 0, 0))), 0u);
    Segment big;
    big.done = UINT64_MAX / 2;
    EXPECT_EQ(DoneSum(std::vector<Segment>(3, big)), UINT64_MAX);
}

TEST(UploadRules, WhatARunEndsIn) {
    struct Flags {
        bool cancelled, paused, known, listed, whole, noSegments, progressed;
        int runs;
    };
    auto report = [](Flags f) {
        RunReport r;
        r.cancelled = f.cancelled;
        r.paused = f.paused;
        r.fileKnown = f.known;
        r.listed = f.listed;
        r.wholeFile = f.whole;
        r.noSegments = f.noSegments;
        r.progressed = f.progressed;
        r.runs = f.runs;
        return r;
    };
    const struct {
        const char* what;
        Flags flags;
        Outcome outcome;
    } cases[] = {
        {"cancel wins", {true, true, true, true, true, false, true, 1}, Outcome::Cancelled},
        {"server holds everything", {false, false, true, true, true, false, true, 1}, Outcome::Done},
        {"paused after the last byte arrived", {false, true, true, true, true, false, false, 1}, Outcome::Done},
        {"empty file the server lists no segment of", {false, false, true, true, true, true, false, 0}, Outcome::Done},
        {"paused", {false, true, true, true, false, false, true, 1}, Outcome::Resumable},
        {"the first run", {false, false, true, true, false, false, false, 0}, Outcome::RunAgain},
        {"bytes missing after a run that moved some: again",
         {false, false, true, true, false, false, true, 1},
         Outcome::RunAgain},
        {"a run that moved nothing", {false, false, true, true, false, false, false, 1}, Outcome::Resumable},
        {"no list", {false, false, true, false, false, false, false, 0}, Outcome::Resumable},
        {"no list after a run", {false, false, true, false, false, false, false, 2}, Outcome::Resumable},
        {"automatic runs used up",
         {false, false, true, true, false, false, true, kAutoResumes + 1},
         Outcome::Resumable},
        {"failed before the server named the file",
         {false, false, false, false, false, false, false, 0},
         Outcome::Retry},
        {"paused before the server named the file",
         {false, true, false, false, false, false, false, 0},
         Outcome::Retry},
        // Resuming could never succeed: the file goes again as a new one.
        {"the server no longer knows the file", {false, false, true, true, false, true, false, 0}, Outcome::Retry},
        {"paused, and the server no longer knows the file",
         {false, true, true, true, false, true, false, 1},
         Outcome::Retry},
    };
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<int>(AfterRun(report(c.flags))), static_cast<int>(c.outcome)) << c.what;
}

}  // namespace
