// CArray, CStringArray, CDWordArray: growable arrays with the framework's index-based interface.
#pragma once

#include "framework/CString.h"

#include <vector>

template <typename TYPE, typename ARG_TYPE = const TYPE&>
class CArray {
public:
    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_items.size()); }
    INT_PTR GetCount() const { return GetSize(); }
    BOOL IsEmpty() const { return m_items.empty(); }
    INT_PTR GetUpperBound() const { return GetSize() - 1; }
    void SetSize(INT_PTR size) { m_items.resize(static_cast<size_t>(size < 0 ? 0 : size)); }

    const TYPE& GetAt(INT_PTR i) const { return m_items.at(static_cast<size_t>(i)); }
    TYPE& GetAt(INT_PTR i) { return m_items.at(static_cast<size_t>(i)); }
    TYPE& ElementAt(INT_PTR i) { return GetAt(i); }
    void SetAt(INT_PTR i, ARG_TYPE value) { GetAt(i) = value; }
    const TYPE& operator[](INT_PTR i) const { return GetAt(i); }
    TYPE& operator[](INT_PTR i) { return GetAt(i); }
    TYPE* GetData() { return m_items.empty() ? nullptr : m_items.data(); }
    const TYPE* GetData() const { return m_items.empty() ? nullptr : m_items.data(); }

    INT_PTR Add(ARG_TYPE value) {
        m_items.push_back(value);
        return GetSize() - 1;
    }
    INT_PTR Append(const CArray& other) {
        INT_PTR first = GetSize();
        m_items.insert(m_items.end(), other.m_items.begin(), other.m_items.end());
        return first;
    }
    void Copy(const CArray& other) { m_items = other.m_items; }
    void InsertAt(INT_PTR i, ARG_TYPE value, INT_PTR count = 1) {
        if (i < 0) i = 0;
        if (i > GetSize()) SetSize(i);
        m_items.insert(m_items.begin() + i, static_cast<size_t>(count < 0 ? 0 : count), value);
    }
    void RemoveAt(INT_PTR i, INT_PTR count = 1) {
        if (i < 0 || i >= GetSize() || count <= 0) return;
        if (count > GetSize() - i) count = GetSize() - i;
        m_items.erase(m_items.begin() + i, m_items.begin() + i + count);
    }
    void RemoveAll() { m_items.clear(); }

private:
    std::vector<TYPE> m_items;
};

class CStringArray : public CArray<CString, const CString&> {};
class CDWordArray : public CArray<DWORD, DWORD> {};
