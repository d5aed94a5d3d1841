#include "client/windows/PageText.h"

#include <cstdint>
#include <cwchar>

namespace pagetext {

namespace {
std::wstring Format(const wchar_t* format, uint64_t whole, uint64_t tenth, const wchar_t* unit) {
    wchar_t text[64];
    std::swprintf(text, 64, format, static_cast<unsigned long long>(whole), static_cast<unsigned long long>(tenth),
                  unit);
    return text;
}
}  // namespace

std::wstring DecimalSize(uint64_t bytes) {
    struct Step {
        uint64_t unit;
        const wchar_t* name;
    };
    static const Step steps[] = {{1000000000, L"GB"}, {1000000, L"MB"}, {1000, L"KB"}};
    for (const Step& s : steps) {
        if (bytes >= s.unit) return Format(L"%llu.%llu%ls", bytes / s.unit, (bytes / (s.unit / 10)) % 10, s.name);
    }
    return std::to_wstring(bytes) + L"B";
}

std::wstring QuotaLine(uint64_t used, uint64_t total) {
    std::wstring line = L"● 空间信息: " + DecimalSize(total) + L"(已使用" + DecimalSize(used);
    if (total != 0) {
        // used × 100 / total without wrapping, in whole and remainder parts.
        const uint64_t rest = used % total;
        const uint64_t whole = used / total;
        uint64_t percent = whole > INT32_MAX
                               ? INT32_MAX
                               : whole * 100 + (rest <= UINT64_MAX / 100 ? rest * 100 / total : rest / (total / 100));
        if (percent > INT32_MAX) percent = INT32_MAX;
        line += L"," + std::to_wstring(static_cast<int32_t>(percent)) + L"%";
    }
    return line + L")";
}

AddCheck CheckAdd(uint64_t used, uint64_t total, uint64_t length, bool duplicate,
                  const std::vector<uint64_t>& rowSizes) {
    // used + length < total, without wrapping.
    if (used >= total || length >= total - used) return AddCheck::NoSpace;
    if (duplicate) return AddCheck::Duplicate;
    uint64_t sum = 0;
    for (uint64_t size : rowSizes) {
        sum += size;
        if (sum > kTransferCeiling) return AddCheck::CeilingReached;
    }
    return AddCheck::Accepted;
}

FloatTexts NextFloatTexts(const std::vector<RowSummary>& rows, int32_t& index) {
    FloatTexts texts;
    for (const RowSummary& row : rows) {
        texts.summary += L"文件名：" + row.name + L"速度：" + row.speed + L"剩余：" + row.remain + L"\n\r";
    }
    if (rows.empty()) return texts;
    const int32_t count = static_cast<int32_t>(rows.size());
    if (index < 0 || index >= count) index = 0;
    texts.current = rows[static_cast<size_t>(index)].remain;
    if (++index >= count) index = 0;
    return texts;
}

}  // namespace pagetext
