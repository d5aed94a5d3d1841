#include "client/windows/PageText.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>

#include "client/windows/RowText.h"

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
        const uint64_t percent = std::min<uint64_t>(rowtext::FinalPercent(used, total), INT32_MAX);
        line += L"," + std::to_wstring(percent) + L"%";
    }
    return line + L")";
}

AddCheck CheckAdd(uint64_t used, uint64_t total, uint64_t length, bool duplicate,
                  const std::vector<uint64_t>& rowSizes) {
    // used + length < total, without wrapping.
    if (used >= total || length >= total - used) return AddCheck::NoSpace;
    if (duplicate) return AddCheck::Duplicate;
    // Any one size past the ceiling is enough: the sum never has to be formed where it could wrap.
    uint64_t sum = 0;
    for (uint64_t size : rowSizes) {
        if (size > kTransferCeiling - sum) return AddCheck::CeilingReached;
        sum += size;
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
