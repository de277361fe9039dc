#include "framework/str.h"

#include "framework/module.h"

#include <cstdarg>
#include <cwchar>

bool CString::LoadString(UINT nID) {
    // With a zero buffer length LoadStringW hands out a read-only pointer into the resource.
    const wchar_t* pText = nullptr;
    int nLength = ::LoadStringW(AfxGetResourceHandle(), nID, reinterpret_cast<LPWSTR>(&pText), 0);
    if (nLength <= 0 || pText == nullptr) {
        m_str.clear();
        return false;
    }
    m_str.assign(pText, static_cast<std::size_t>(nLength));
    return true;
}

void CString::Format(const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    va_list count;
    va_copy(count, args);
    int nLength = _vscwprintf(pszFormat, count);
    va_end(count);
    if (nLength < 0) {
        m_str.clear();
    } else {
        std::wstring text(static_cast<std::size_t>(nLength) + 1, L'\0');
        _vsnwprintf(text.data(), text.size(), pszFormat, args);
        text.resize(static_cast<std::size_t>(nLength));
        m_str.swap(text);
    }
    va_end(args);
}
