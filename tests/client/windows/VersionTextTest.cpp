#include "client/windows/VersionText.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

using namespace versiontext;

TEST(VersionText, SplitKeepsEveryPiece) {
    const struct {
        const wchar_t* text;
        const wchar_t* separator;
        std::vector<std::wstring> pieces;
    } cases[] = {
        {L"1.0.0.7", L".", {L"1", L"0", L"0", L"7"}},
        {L"..", L".", {L"", L"", L""}},
        {L"a::b:c::", L"::", {L"a", L"b:c", L""}},
        {L"a:::b", L"::", {L"a", L":b"}},
        {L"", L"", {L""}},
        {L"no separator", L",", {L"no separator"}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> pieces{L"kept"};
        EXPECT_EQ(Split(c.text, c.separator, pieces), c.pieces.size() + 1) << c.text;
        pieces.erase(pieces.begin());
        EXPECT_EQ(pieces, c.pieces) << c.text;
    }
}

TEST(VersionText, PartValueReadsLikeTheRuntime) {
    const struct {
        const wchar_t* part;
        int value;
    } cases[] = {
        {L"7", 7},
        {L" \t12", 12},
        {L"8\r\n", 8},
        {L"+3", 3},
        {L"-3", -3},
        {L"", 0},
        {L"x1", 0},
        {L"1x2", 1},
        {L"- 1", 0},
        {L"2147483647", INT_MAX},
        {L"99999999999999999999", INT_MAX},
        {L"-99999999999999999999", INT_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(PartValue(c.part), c.value) << c.part;
}

TEST(VersionText, CompareReadsFourParts) {
    const struct {
        const wchar_t* first;
        const wchar_t* second;
        int expected;
    } cases[] = {
        {L"1.0.0.8", L"1.0.0.7", 1},
        {L"0.0.0.9", L"1.0.0.0", 2},
        {L"1. 0.0.7", L"1,0,0,7", 3},
        {L"1.0.0.7", L"1,0,0,7\r\n", 3},
        // A comma or dot at the very start is no separator; either kind later splits.
        {L"1.0.0.7", L",1,0,0", 0},
        {L"1.0.0.7", L".1.0.0", 0},
        {L"1.0.0.7", L"1,0,0.7", 0},
        {L"a.b.c.d", L"0.0.0.0", 3},
        {L"1.0.0.-1", L"1.0.0.0", 2},
        {L"1...", L"1.0.0.0", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(Compare(c.first, c.second), c.expected) << c.first << L" / " << c.second;
}

}  // namespace
