#include "client/windows/VersionText.h"

#include <climits>
#include <cwctype>

namespace versiontext {

size_t Split(const std::wstring& text, const std::wstring& separator, std::vector<std::wstring>& pieces) {
    size_t at = separator.empty() ? std::wstring::npos : text.find(separator);
    if (at == std::wstring::npos) {
        pieces.push_back(text);
        return pieces.size();
    }
    size_t start = 0;
    while (at != std::wstring::npos) {
        pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
        at = text.find(separator, start);
    }
    if (start <= text.size()) pieces.push_back(text.substr(start));
    return pieces.size();
}

int PartValue(const std::wstring& part) {
    size_t i = 0;
    while (i < part.size() && std::iswspace(part[i])) ++i;
    bool negative = false;
    if (i < part.size() && (part[i] == L'+' || part[i] == L'-')) negative = part[i++] == L'-';
    long long value = 0;
    for (; i < part.size() && part[i] >= L'0' && part[i] <= L'9'; ++i) {
        value = value * 10 + (part[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

int Compare(const std::wstring& first, const std::wstring& second) {
    std::vector<std::wstring> mine, theirs;
    Split(first, L".", mine);
    // Both splits go into one array: "1,0.0,7" has more than four parts.
    size_t comma = second.find(L','), dot = second.find(L'.');
    if (comma != std::wstring::npos && comma > 0) Split(second, L",", theirs);
    if (dot != std::wstring::npos && dot > 0) Split(second, L".", theirs);
    if (mine.size() != 4 || theirs.size() != 4) return 0;
    for (size_t i = 0; i < 4; ++i) {
        int a = PartValue(mine[i]);
        int b = PartValue(theirs[i]);
        if (a > b) return 1;
        if (a < b) return 2;
    }
    return 3;
}

}  // namespace versiontext
