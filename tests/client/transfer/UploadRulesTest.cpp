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

TEST(UploadRules, WholeFileOnlyWhenNothingRemainsAndTheCountsAddUp) {
    auto seg = [](uint64_t done, uint64_t remaining) {
        Segment s;
        s.done = done;
        s.remaining = remaining;
        return s;
    };
    const struct {
        const char* what;
        std::vector<Segment> list;
        uint64_t size;
        bool whole;
    } cases[] = {
        {"all received", {seg(600, 0), seg(400, 0)}, 1000, true},
        {"a segment lacks its tail", {seg(600, 0), seg(331, 69)}, 1000, false},
        {"nothing remains but bytes are missing", {seg(600, 0), seg(300, 0)}, 1000, false},
        {"more than the file", {seg(1000, 0), seg(1000, 0)}, 1000, false},
        // Ten counts of 0xFFFFFFFF: a 32-bit sum would wrap to the size of this file.
        {"counts that would wrap 32 bits", std::vector<Segment>(10, seg(0xFFFFFFFFull, 0)), 0xFFFFFFF6ull, false},
        {"empty file without segments", {}, 0, true},
        {"file without segments", {}, 1, false},
    };
    for (const auto& c : cases) EXPECT_EQ(HoldsWholeFile(c.list, c.size), c.whole) << c.what;
    EXPECT_EQ(DoneSum(std::vector<Segment>(3, seg(UINT64_MAX / 2, 0))), UINT64_MAX);
}

TEST(UploadRules, WhatARunEndsIn) {
    auto report = [](bool cancelled, bool paused, bool known, bool listed, bool whole, int runs) {
        RunReport r;
        r.cancelled = cancelled;
        r.paused = paused;
        r.fileKnown = known;
        r.listed = listed;
        r.wholeFile = whole;
        r.runs = runs;
        return r;
    };
    const struct {
        const char* what;
        RunReport report;
        Outcome outcome;
    } cases[] = {
        {"cancel wins", report(true, true, true, true, true, 1), Outcome::Cancelled},
        {"server holds everything", report(false, false, true, true, true, 1), Outcome::Done},
        {"paused after the last byte arrived", report(false, true, true, true, true, 1), Outcome::Done},
        {"paused", report(false, true, true, true, false, 1), Outcome::Resumable},
        {"bytes missing: again", report(false, false, true, true, false, 1), Outcome::RunAgain},
        {"no list: again", report(false, false, true, false, false, kAutoResumes), Outcome::RunAgain},
        {"automatic runs used up", report(false, false, true, true, false, kAutoResumes + 1), Outcome::Resumable},
        {"failed before the server named the file", report(false, false, false, false, false, 0), Outcome::Retry},
        {"paused before the server named the file", report(false, true, false, false, false, 0), Outcome::Retry},
    };
    for (const auto& c : cases) EXPECT_EQ(static_cast<int>(AfterRun(c.report)), static_cast<int>(c.outcome)) << c.what;
}

}  // namespace
