// The upload page's decisions from plain numbers (RowSummary, FloatTexts): the quota line, the
// checks a new file must pass and the floating window's texts. Standard C++ only, so it is
// tested natively too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pagetext {

// Bytes in transfer above which no further file is taken.
const uint64_t kTransferCeiling = 1000000000;

// 1000-based: "%d.%dGB", "%d.%dMB", "%d.%dKB" or "%dB".
std::wstring DecimalSize(uint64_t bytes);
// "● 空间信息: total(已使用used,p%)"; without a total (the query failed) no percentage is shown.
std::wstring QuotaLine(uint64_t used, uint64_t total);

enum class AddCheck { Accepted, NoSpace, Duplicate, CeilingReached };
// In the page's order: space on the server (used + length must stay below total), a row of
// the same path, then the bytes of all rows against the ceiling (the new file not counted).
AddCheck CheckAdd(uint64_t used, uint64_t total, uint64_t length, bool duplicate,
                  const std::vector<uint64_t>& rowSizes);

struct RowSummary {
    std::wstring name, speed, remain;
};
struct FloatTexts {
    std::wstring summary;  // one line per row
    std::wstring current;  // the remaining time of the row whose turn it is
};
// The texts for one tick; `index` names the row whose turn it is and moves on to the next.
FloatTexts NextFloatTexts(const std::vector<RowSummary>& rows, int32_t& index);

}  // namespace pagetext
