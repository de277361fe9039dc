// UTF-16 string.
#pragma once

#include <windows.h>

#include <string>

class CString {
public:
    CString() = default;
    CString(const wchar_t* psz) : m_str(psz != nullptr ? psz : L"") {}
    CString(const wchar_t* pch, int nLength) : m_str(pch, static_cast<std::size_t>(nLength)) {}

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    operator const wchar_t*() const { return m_str.c_str(); }

    CString& operator=(const wchar_t* psz) {
        m_str = psz != nullptr ? psz : L"";
        return *this;
    }
    bool operator==(const wchar_t* psz) const { return m_str == (psz != nullptr ? psz : L""); }

    // Loads a string resource; false (and empty) when there is none.
    bool LoadString(UINT nID);

    // printf-style with the Windows conventions for wide text (%s takes a wide string).
    void Format(const wchar_t* pszFormat, ...);

private:
    std::wstring m_str;
};

// Texts for the values of an enum, as a small table; a value with no row has none.
template <class E> struct CEnumText {
    E value;
    const wchar_t* pszText;
};

template <class E, std::size_t N>
const wchar_t* AfxEnumText(const CEnumText<E> (&table)[N], E value) {
    for (const CEnumText<E>& row : table) {
        if (row.value == value) {
            return row.pszText;
        }
    }
    return L"";
}
