// Reads text values from the version resource of one executable file.
#pragma once

#include "framework/object.h"
#include "framework/str.h"

#include <vector>

class VersionInfo : private CNoCopy {
public:
    // Without a version resource, readable version data or a translation table the reader is
    // empty: every value is then the empty string.
    explicit VersionInfo(const wchar_t* pszFileName);

    // The key's value in the string table of the first translation; empty when it has none.
    CString GetStringValue(const wchar_t* pszKey) const;

    CString GetCompanyName() const { return GetStringValue(L"CompanyName"); }
    CString GetInternalName() const { return GetStringValue(L"InternalName"); }
    CString GetLegalNotice() const { return GetStringValue(L"LegalCopyright"); }
    CString GetProductVersion() const { return GetStringValue(L"ProductVersion"); }

private:
    std::vector<BYTE> m_data;             // the file's whole version data
    const WORD* m_pTranslation = nullptr; // into m_data: the first (language, code page) pair
};
