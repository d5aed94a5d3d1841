#include "framework/CString.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <type_traits>
#include <vector>

namespace afx_string {

std::wstring Widen(const char* text, int length, UINT codePage, DWORD flags) {
    if (!text || length <= 0) return std::wstring();
    int n = ::MultiByteToWideChar(codePage, flags, text, length, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, flags, text, length, &out[0], n);
    return out;
}

std::string Narrow(const wchar_t* text, int length, UINT codePage) {
    if (!text || length <= 0) return std::string();
    int n = ::WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, text, length, &out[0], n, nullptr, nullptr);
    return out;
}

int Length(const char* s) { return s ? static_cast<int>(std::strlen(s)) : 0; }
int Length(const wchar_t* s) { return s ? static_cast<int>(std::wcslen(s)) : 0; }

namespace {
// msvcrt's own printf family: Microsoft conversions (%s follows the format's width).
int Count(const char* format, va_list args) { return _vscprintf(format, args); }
int Count(const wchar_t* format, va_list args) { return _vscwprintf(format, args); }
void Print(char* buf, size_t size, const char* format, va_list args) { _vsnprintf(buf, size, format, args); }
void Print(wchar_t* buf, size_t size, const wchar_t* format, va_list args) { _vsnwprintf(buf, size, format, args); }

template <typename T>
int FormatAnyV(std::basic_string<T>& out, const T* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = Count(format, copy);
    va_end(copy);
    if (n <= 0) {
        out.clear();
        return n;
    }
    std::vector<T> buf(static_cast<size_t>(n) + 1);
    Print(buf.data(), buf.size(), format, args);
    out.assign(buf.data(), static_cast<size_t>(n));
    return n;
}
}  // namespace

int FormatV(std::string& out, const char* format, va_list args) { return FormatAnyV(out, format, args); }
int FormatV(std::wstring& out, const wchar_t* format, va_list args) { return FormatAnyV(out, format, args); }

// CharUpper and CharLower take and give one character in the low word of the pointer.
template <typename Ch, typename Text>
Ch OneCharacter(Text(WINAPI* convert)(Text), Ch c) {
    using Code = std::make_unsigned_t<Ch>;
    const UINT_PTR in = static_cast<UINT_PTR>(static_cast<Code>(c));
    return static_cast<Ch>(reinterpret_cast<UINT_PTR>(convert(reinterpret_cast<Text>(in))));
}
char ToUpper(char c) { return OneCharacter(::CharUpperA, c); }
wchar_t ToUpper(wchar_t c) { return OneCharacter(::CharUpperW, c); }
char ToLower(char c) { return OneCharacter(::CharLowerA, c); }
wchar_t ToLower(wchar_t c) { return OneCharacter(::CharLowerW, c); }

int CompareNoCase(const char* a, const char* b) { return ::lstrcmpiA(a, b); }
int CompareNoCase(const wchar_t* a, const wchar_t* b) { return ::lstrcmpiW(a, b); }

}  // namespace afx_string
