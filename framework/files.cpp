#include "framework/files.h"

#include <cwchar>
#include <cwctype>

std::wstring AfxSystemErrorText(DWORD nError) {
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

bool AfxSaveFileReplacing(const std::wstring& path, const std::vector<BYTE>& bytes,
                          std::wstring& error) {
    if (AfxIsDeviceName(path)) {
        error = L"it names a device, not a file";
        return false;
    }
    size_t nSlash = path.find_last_of(L"\\/");
    std::wstring folder = nSlash == std::wstring::npos ? L"." : path.substr(0, nSlash + 1);
    // Written beside the old file first and swapped in only when whole: a failed write (a full
    // disk) leaves the old file as it was.
    wchar_t szTemp[MAX_PATH];
    if (::GetTempFileNameW(folder.c_str(), L"lkw", 0, szTemp) == 0) {
        error = AfxSystemErrorText(::GetLastError());
        return false;
    }
    HANDLE hFile = ::CreateFileW(szTemp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD nError = ERROR_SUCCESS;
    if (hFile == INVALID_HANDLE_VALUE) {
        nError = ::GetLastError();
    } else {
        DWORD nWritten = 0;
        if (!::WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &nWritten,
                         nullptr) ||
            !::FlushFileBuffers(hFile)) {
            nError = ::GetLastError();
        } else if (nWritten != bytes.size()) {
            nError = ERROR_DISK_FULL;
        }
        if (!::CloseHandle(hFile) && nError == ERROR_SUCCESS) {
            nError = ::GetLastError();
        }
    }
    if (nError == ERROR_SUCCESS &&
        !::MoveFileExW(szTemp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        nError = ::GetLastError();
    }
    if (nError != ERROR_SUCCESS) {
        ::DeleteFileW(szTemp); // ours: the old file is untouched
        error = AfxSystemErrorText(nError);
        return false;
    }
    return true;
}
