// CStringT (CString, CStringW, CStringA): value strings with the framework's semantics that
// callers rely on:
// - null or empty sources give an empty string;
// - Mid/Left/Right clamp negative and oversized counts instead of failing;
// - Format follows the Microsoft printf rules (in a wide format %s is wide, %S narrow);
// - conversion between the two widths uses the ANSI code page.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <string>

template <typename T>
class CStringT;
using CStringW = CStringT<wchar_t>;
using CStringA = CStringT<char>;
using CString = CStringW;

namespace afx_string {
// The program's one conversion between the two widths, through the ANSI code page unless told
// otherwise; unrepresentable characters become the code page's default character. A failing
// conversion (with MB_ERR_INVALID_CHARS: any invalid byte) gives an empty text.
std::wstring Widen(const char* text, int length, UINT codePage = CP_ACP, DWORD flags = 0);
std::string Narrow(const wchar_t* text, int length, UINT codePage = CP_ACP);

int Length(const char* s);
int Length(const wchar_t* s);
int FormatV(std::string& out, const char* format, va_list args);
int FormatV(std::wstring& out, const wchar_t* format, va_list args);
char ToUpper(char c);
wchar_t ToUpper(wchar_t c);
char ToLower(char c);
wchar_t ToLower(wchar_t c);
int CompareNoCase(const char* a, const char* b);
int CompareNoCase(const wchar_t* a, const wchar_t* b);
}  // namespace afx_string

template <typename T>
class CStringT {
public:
    using XCHAR = T;
    using YCHAR = typename std::conditional<sizeof(T) == 1, wchar_t, char>::type;
    using PCXSTR = const T*;
    using PXSTR = T*;
    using Storage = std::basic_string<T>;

    CStringT() = default;
    CStringT(const CStringT&) = default;
    CStringT(CStringT&&) noexcept = default;
    CStringT(const T* text) { Assign(text); }
    CStringT(const T* text, int length) {
        if (text && length > 0) m_str.assign(text, static_cast<size_t>(length));
    }
    CStringT(const YCHAR* text) { Assign(text); }
    CStringT(const YCHAR* text, int length) { AssignOther(text, length); }
    CStringT(const CStringT<YCHAR>& other) { AssignOther(other.GetString(), other.GetLength()); }
    explicit CStringT(T ch, int repeat = 1) {
        if (repeat > 0) m_str.assign(static_cast<size_t>(repeat), ch);
    }
    explicit CStringT(const Storage& s) : m_str(s) { TrimAtNul(); }

    CStringT& operator=(const CStringT&) = default;
    CStringT& operator=(CStringT&&) noexcept = default;
    CStringT& operator=(const T* text) {
        Assign(text);
        return *this;
    }
    CStringT& operator=(const YCHAR* text) {
        Assign(text);
        return *this;
    }
    CStringT& operator=(const CStringT<YCHAR>& other) {
        AssignOther(other.GetString(), other.GetLength());
        return *this;
    }
    CStringT& operator=(T ch) {
        m_str.assign(1, ch);
        return *this;
    }

    // Access
    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    PCXSTR GetString() const { return m_str.c_str(); }
    operator PCXSTR() const { return m_str.c_str(); }
    const Storage& str() const { return m_str; }
    T GetAt(int i) const { return m_str.at(static_cast<size_t>(i)); }
    T operator[](int i) const { return GetAt(i); }
    void SetAt(int i, T ch) { m_str.at(static_cast<size_t>(i)) = ch; }

    // Concatenation
    CStringT& operator+=(const CStringT& s) {
        m_str += s.m_str;
        return *this;
    }
    CStringT& operator+=(const T* s) {
        if (s) m_str += s;
        return *this;
    }
    CStringT& operator+=(const YCHAR* s) { return *this += CStringT(s); }
    CStringT& operator+=(T ch) {
        m_str += ch;
        return *this;
    }
    void Append(const T* s) { *this += s; }
    void Append(const T* s, int length) {
        if (s && length > 0) m_str.append(s, static_cast<size_t>(length));
    }
    void Append(const CStringT& s) { *this += s; }
    void AppendChar(T ch) { m_str += ch; }

    friend CStringT operator+(const CStringT& a, const CStringT& b) {
        CStringT r(a);
        r += b;
        return r;
    }
    friend CStringT operator+(const CStringT& a, const T* b) {
        CStringT r(a);
        r += b;
        return r;
    }
    friend CStringT operator+(const T* a, const CStringT& b) {
        CStringT r(a);
        r += b;
        return r;
    }
    friend CStringT operator+(const CStringT& a, T b) {
        CStringT r(a);
        r += b;
        return r;
    }
    friend CStringT operator+(T a, const CStringT& b) {
        CStringT r(a);
        r += b;
        return r;
    }

    // Comparison (ordinal, as the framework's Compare)
    int Compare(const T* s) const { return m_str.compare(s ? s : EmptyText()); }
    int CompareNoCase(const T* s) const { return afx_string::CompareNoCase(GetString(), s ? s : EmptyText()); }
    friend bool operator==(const CStringT& a, const CStringT& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CStringT& a, const T* b) { return a.Compare(b) == 0; }
    friend bool operator==(const T* a, const CStringT& b) { return b.Compare(a) == 0; }
    friend bool operator!=(const CStringT& a, const CStringT& b) { return !(a == b); }
    friend bool operator!=(const CStringT& a, const T* b) { return !(a == b); }
    friend bool operator!=(const T* a, const CStringT& b) { return !(b == a); }
    friend bool operator<(const CStringT& a, const CStringT& b) { return a.m_str < b.m_str; }
    friend bool operator>(const CStringT& a, const CStringT& b) { return a.m_str > b.m_str; }

    // Extraction; counts are clamped into the string.
    CStringT Mid(int first) const { return Mid(first, GetLength()); }
    CStringT Mid(int first, int count) const {
        if (first < 0) first = 0;
        if (count < 0) count = 0;
        if (first > GetLength()) first = GetLength();
        if (count > GetLength() - first) count = GetLength() - first;
        return CStringT(m_str.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
    }
    CStringT Left(int count) const { return Mid(0, count); }
    CStringT Right(int count) const {
        if (count < 0) count = 0;
        if (count > GetLength()) count = GetLength();
        return Mid(GetLength() - count, count);
    }
    CStringT SpanIncluding(const T* set) const {
        if (!set) return CStringT();
        return Left(static_cast<int>(FirstNotOf(set)));
    }
    CStringT SpanExcluding(const T* set) const {
        if (!set) return *this;
        size_t n = m_str.find_first_of(set);
        return n == Storage::npos ? *this : Left(static_cast<int>(n));
    }

    // Searching: -1 when not found.
    int Find(T ch, int start = 0) const { return FindAt(m_str.find(ch, Start(start)), start); }
    int Find(const T* s, int start = 0) const {
        if (!s || start > GetLength()) return -1;
        return FindAt(m_str.find(s, Start(start)), start);
    }
    int ReverseFind(T ch) const { return ToIndex(m_str.rfind(ch)); }
    int FindOneOf(const T* set) const { return set ? ToIndex(m_str.find_first_of(set)) : -1; }

    // Changes
    int Replace(T oldCh, T newCh) {
        int n = 0;
        for (auto& c : m_str)
            if (c == oldCh) {
                c = newCh;
                ++n;
            }
        return n;
    }
    int Replace(const T* oldText, const T* newText) {
        int oldLen = afx_string::Length(oldText);
        if (oldLen == 0) return 0;
        Storage repl = newText ? newText : EmptyText();
        int n = 0;
        for (size_t pos = m_str.find(oldText); pos != Storage::npos; pos = m_str.find(oldText, pos + repl.size())) {
            m_str.replace(pos, static_cast<size_t>(oldLen), repl);
            ++n;
        }
        return n;
    }
    int Remove(T ch) {
        size_t before = m_str.size();
        m_str.erase(std::remove(m_str.begin(), m_str.end(), ch), m_str.end());
        return static_cast<int>(before - m_str.size());
    }
    int Insert(int index, T ch) { return Insert(index, CStringT(ch).GetString()); }
    int Insert(int index, const T* s) {
        if (index < 0) index = 0;
        if (index > GetLength()) index = GetLength();
        if (s) m_str.insert(static_cast<size_t>(index), s);
        return GetLength();
    }
    int Delete(int index, int count = 1) {
        if (index < 0) index = 0;
        if (count > 0 && index < GetLength()) m_str.erase(static_cast<size_t>(index), static_cast<size_t>(count));
        return GetLength();
    }
    CStringT& MakeUpper() {
        for (auto& c : m_str) c = afx_string::ToUpper(c);
        return *this;
    }
    CStringT& MakeLower() {
        for (auto& c : m_str) c = afx_string::ToLower(c);
        return *this;
    }
    CStringT& MakeReverse() {
        std::reverse(m_str.begin(), m_str.end());
        return *this;
    }
    CStringT& TrimLeft() { return TrimLeft(Whitespace()); }
    CStringT& TrimRight() { return TrimRight(Whitespace()); }
    CStringT& Trim() { return TrimRight().TrimLeft(); }
    CStringT& TrimLeft(T ch) {
        const T set[2] = {ch, 0};
        return TrimLeft(set);
    }
    CStringT& TrimRight(T ch) {
        const T set[2] = {ch, 0};
        return TrimRight(set);
    }
    CStringT& Trim(T ch) { return TrimRight(ch).TrimLeft(ch); }
    CStringT& TrimLeft(const T* set) {
        if (set) m_str.erase(0, FirstNotOf(set));
        return *this;
    }
    CStringT& TrimRight(const T* set) {
        if (!set) return *this;
        size_t n = m_str.find_last_not_of(set);
        m_str.erase(n == Storage::npos ? 0 : n + 1);
        return *this;
    }
    CStringT Tokenize(const T* delims, int& start) const {
        if (start < 0 || start >= GetLength() || !delims) {
            start = -1;
            return CStringT();
        }
        size_t from = m_str.find_first_not_of(delims, static_cast<size_t>(start));
        if (from == Storage::npos) {
            start = -1;
            return CStringT();
        }
        size_t to = m_str.find_first_of(delims, from);
        if (to == Storage::npos) to = m_str.size();
        start = static_cast<int>(to < m_str.size() ? to + 1 : to);
        return CStringT(m_str.substr(from, to - from));
    }

    // Formatting (Microsoft printf rules).
    void Format(const T* format, ...) {
        va_list args;
        va_start(args, format);
        FormatV(format, args);
        va_end(args);
    }
    void FormatV(const T* format, va_list args) {
        Storage out;
        if (format) afx_string::FormatV(out, format, args);
        m_str.swap(out);
    }
    void AppendFormat(const T* format, ...) {
        va_list args;
        va_start(args, format);
        Storage out;
        if (format) afx_string::FormatV(out, format, args);
        va_end(args);
        m_str += out;
    }

    // Direct buffer access: GetBuffer gives room for at least minLength characters plus a
    // terminator; ReleaseBuffer(-1) takes the length up to the first NUL.
    PXSTR GetBuffer(int minLength = 0) {
        if (minLength < 0) minLength = 0;
        if (static_cast<size_t>(minLength) > m_str.size()) m_str.resize(static_cast<size_t>(minLength));
        return &m_str[0];
    }
    PXSTR GetBufferSetLength(int length) {
        m_str.resize(static_cast<size_t>(length < 0 ? 0 : length));
        return &m_str[0];
    }
    void ReleaseBuffer(int newLength = -1) {
        if (newLength < 0 || static_cast<size_t>(newLength) > m_str.size()) {
            TrimAtNul();
        } else {
            m_str.resize(static_cast<size_t>(newLength));
        }
    }
    void Truncate(int length) {
        if (length >= 0 && length < GetLength()) m_str.resize(static_cast<size_t>(length));
    }

private:
    template <typename U>
    friend class CStringT;

    static const T* EmptyText() {
        static const T e[1] = {0};
        return e;
    }
    static const T* Whitespace() {
        static const T ws[] = {' ', '\t', '\r', '\n', '\v', '\f', 0};
        return ws;
    }
    size_t FirstNotOf(const T* set) const {
        size_t n = m_str.find_first_not_of(set);
        return n == Storage::npos ? m_str.size() : n;
    }
    static size_t Start(int start) { return start < 0 ? 0 : static_cast<size_t>(start); }
    static int ToIndex(size_t pos) { return pos == Storage::npos ? -1 : static_cast<int>(pos); }
    static int FindAt(size_t pos, int) { return ToIndex(pos); }
    void TrimAtNul() {
        size_t n = m_str.find(T(0));
        if (n != Storage::npos) m_str.resize(n);
    }
    void Assign(const T* text) {
        if (text)
            m_str.assign(text);
        else
            m_str.clear();
    }
    void Assign(const YCHAR* text) { AssignOther(text, afx_string::Length(text)); }
    void AssignOther(const YCHAR* text, int length);

    Storage m_str;
};

template <>
inline void CStringT<wchar_t>::AssignOther(const char* text, int length) {
    m_str = (text && length > 0) ? afx_string::Widen(text, length) : std::wstring();
}
template <>
inline void CStringT<char>::AssignOther(const wchar_t* text, int length) {
    m_str = (text && length > 0) ? afx_string::Narrow(text, length) : std::string();
}
