#include "framework/file_names.h"

#include <cwchar>
#include <cwctype>

bool AfxIsDeviceName(const std::wstring& path) {
    size_t nStart = path.find_last_of(L"\\/:");
    std::wstring name = path.substr(nStart == std::wstring::npos ? 0 : nStart + 1);
    // The device is named by what comes before the first dot, trailing spaces ignored.
    name = name.substr(0, name.find(L'.'));
    while (!name.empty() && name.back() == L' ') {
        name.pop_back();
    }
    for (wchar_t& ch : name) {
        ch = static_cast<wchar_t>(std::towupper(ch));
    }
    if (name == L"CON" || name == L"PRN" || name == L"AUX" || name == L"NUL" || name == L"CONIN$" ||
        name == L"CONOUT$") {
        return true;
    }
    // COM1..COM9 and LPT1..LPT9, the superscript digits included.
    return name.size() == 4 &&
           (name.compare(0, 3, L"COM") == 0 || name.compare(0, 3, L"LPT") == 0) &&
           ((name[3] >= L'0' && name[3] <= L'9') || name[3] == L'\u00B9' || name[3] == L'\u00B2' ||
            name[3] == L'\u00B3');
}

std::wstring AfxSystemText(DWORD nError) {
    wchar_t* pszText = nullptr;
    DWORD nLength = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, nError, 0, reinterpret_cast<wchar_t*>(&pszText), 0, nullptr);
    std::wstring text = nLength > 0 && pszText != nullptr ? pszText : L"";
    ::LocalFree(pszText);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    if (text.empty()) {
        wchar_t szCode[32];
        ::swprintf(szCode, 32, L"error %lu", nError);
        text = szCode;
    }
    return text;
}
