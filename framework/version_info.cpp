#include "framework/version_info.h"

#include <cwchar>

VersionInfo::VersionInfo(const wchar_t* pszFileName) {
    DWORD nSize = ::GetFileVersionInfoSizeW(pszFileName, nullptr);
    if (nSize == 0) {
        return;
    }
    m_data.resize(nSize);
    void* pTranslation = nullptr;
    UINT nLength = 0; // in bytes for this binary value
    if (::GetFileVersionInfoW(pszFileName, 0, nSize, m_data.data()) &&
        ::VerQueryValueW(m_data.data(), L"\\VarFileInfo\\Translation", &pTranslation, &nLength) &&
        nLength >= 2 * sizeof(WORD)) {
        m_pTranslation = static_cast<const WORD*>(pTranslation);
    }
}

CString VersionInfo::GetStringValue(const wchar_t* pszKey) const {
    if (m_pTranslation == nullptr) {
        return CString();
    }
    // The platform matches the block name "040904b0" whatever the case of its hex digits.
    CString strSubBlock;
    strSubBlock.Format(L"\\StringFileInfo\\%04X%04X\\%s", static_cast<unsigned>(m_pTranslation[0]),
                       static_cast<unsigned>(m_pTranslation[1]), pszKey);
    void* pValue = nullptr;
    UINT nLength = 0; // in characters for a text value, its terminating null included
    if (!::VerQueryValueW(m_data.data(), strSubBlock, &pValue, &nLength) || nLength == 0) {
        return CString();
    }
    // The length comes from the file: read no further than it, nor past the end of the data.
    const auto* pText = static_cast<const wchar_t*>(pValue);
    std::size_t nLeft =
        static_cast<std::size_t>(m_data.data() + m_data.size() - static_cast<const BYTE*>(pValue)) /
        sizeof(wchar_t);
    std::size_t nMax = nLength < nLeft ? nLength : nLeft;
    return CString(pText, static_cast<int>(::wcsnlen(pText, nMax)));
}
