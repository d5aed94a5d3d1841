// Version texts of the update check: splitting on a separator and comparing two four-part
// versions. Standard C++ only, so it is tested natively too.
#pragma once

#include <string>
#include <vector>

namespace versiontext {

// Appends the pieces of `text` between the separators to `pieces` (an empty piece where two
// separators meet or the text ends with one; the whole text when no separator is found or it is
// empty); the number of pieces afterwards.
size_t Split(const std::wstring& text, const std::wstring& separator, std::vector<std::wstring>& pieces);
// 1: first is newer, 2: first is older, 3: equal, 0: either is not four parts. The second may be
// written with commas.
int Compare(const std::wstring& first, const std::wstring& second);
// The leading number of a part as the C runtime reads it: blanks skipped, an optional sign, digits
// up to the first other character; 0 without digits, clamped to int.
int PartValue(const std::wstring& part);

}  // namespace versiontext
