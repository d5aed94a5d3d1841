// HeaderPattern: the small pattern language the client searches response headers with, and its
// matcher. The text comes from whoever answers, so every thread of the pattern is stepped over
// the text at once: time grows with pattern times text, memory and stack with the pattern only.
// Standard C++ only.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// Syntax: braces capture (groups numbered from 0 by opening brace), parentheses group, `|`,
// `*` `+` `?` (greedy, lazy with a `?` after them), `.` any character, `[...]` sets with ranges
// and a leading `^`, `^` and `$` for the start and end of the whole text, `\d` a digit, `\t`
// `\r` `\n`, and a backslash before anything else for that character itself.
class HeaderPattern {
public:
    static constexpr size_t kNone = static_cast<size_t>(-1);

    struct Match {
        size_t begin = kNone;
        size_t end = kNone;
        // Begin and end of each group; kNone for a group that took no part.
        std::vector<std::pair<size_t, size_t>> groups;
    };

    // False when the pattern does not parse; the pattern then matches nothing.
    bool Compile(const std::wstring& pattern, bool caseSensitive);
    int GroupCount() const { return m_groups; }
    // The leftmost match starting at `from` or later, chosen among those starting there as a
    // backtracking matcher would: greedy repeats take more, lazy ones less, `|` its left side.
    bool Search(const std::wstring& text, size_t from, Match& match) const;

private:
    enum class Op { kChar, kAny, kSet, kSplit, kJump, kSave, kBegin, kEnd, kMatch };
    struct Instruction {
        Op op;
        int x;  // kSplit and kJump: the target (preferred for kSplit); kSave: the slot; kSet: the set
        int y;  // kSplit: the other target
        wchar_t c;
    };
    struct Set {
        bool negated = false;
        std::vector<std::pair<wchar_t, wchar_t>> ranges;
    };
    class Parser;

    bool Matches(const Instruction& in, wchar_t c) const;
    bool InSet(const Set& set, wchar_t c) const;

    std::vector<Instruction> m_program;
    std::vector<Set> m_sets;
    int m_groups = 0;
    bool m_caseSensitive = true;
};
