#include "framework/files.h"

#include "framework/apartment.h"

#include <commdlg.h>
#include <shlobj.h>

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

namespace {

// The shell's Save As dialog needs a single-threaded apartment (its namespace objects have no
// proxies), and the window's thread is in the multithreaded one: the dialog runs on a thread of
// its own, owned by the caller's window, which it disables meanwhile and which goes on drawing.
struct CSaveAs {
    decltype(&::GetSaveFileNameW) pfnGetSaveFileName;
    OPENFILENAMEW* pOfn;
    BOOL bChosen = FALSE;
};

DWORD WINAPI SaveAsThread(void* pParam) {
    auto* pSaveAs = static_cast<CSaveAs*>(pParam);
    CComApartment apartment(COINIT_APARTMENTTHREADED);
    pSaveAs->bChosen = pSaveAs->pfnGetSaveFileName(pSaveAs->pOfn);
    return 0;
}

BOOL ShowSaveAs(decltype(&::GetSaveFileNameW) pfnGetSaveFileName, OPENFILENAMEW& ofn) {
    CSaveAs saveAs{pfnGetSaveFileName, &ofn};
    HANDLE hThread = ::CreateThread(nullptr, 0, SaveAsThread, &saveAs, 0, nullptr);
    if (hThread == nullptr) {
        return pfnGetSaveFileName(&ofn);
    }
    bool bQuit = false;
    int nQuitCode = 0;
    while (::MsgWaitForMultipleObjectsEx(1, &hThread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) !=
           WAIT_OBJECT_0) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                bQuit = true; // for the loop outside, once the dialog is gone
                nQuitCode = static_cast<int>(msg.wParam);
                continue;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    ::CloseHandle(hThread);
    if (bQuit) {
        ::PostQuitMessage(nQuitCode);
    }
    return saveAs.bChosen;
}

} // namespace

SaveAsAnswer AfxAskSaveAs(HWND hOwner, const GUID& folderId, const std::wstring& proposed,
                          const wchar_t* pszFilter, const wchar_t* pszExtension,
                          std::wstring& file) {
    auto pfnKnownFolderPath = AfxSystemFunction<decltype(&::SHGetKnownFolderPath)>(
        L"shell32.dll", "SHGetKnownFolderPath");
    auto pfnGetSaveFileName =
        AfxSystemFunction<decltype(&::GetSaveFileNameW)>(L"comdlg32.dll", "GetSaveFileNameW");
    if (pfnGetSaveFileName == nullptr) {
        return SaveAsAnswer::NoDialog;
    }
    std::wstring folder;
    PWSTR pszFolder = nullptr;
    if (pfnKnownFolderPath != nullptr &&
        SUCCEEDED(pfnKnownFolderPath(folderId, 0, nullptr, &pszFolder))) {
        folder = pszFolder;
    }
    ::CoTaskMemFree(pszFolder);
    file = proposed;
    file.resize(MAX_PATH * 4, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hOwner;
    ofn.lpstrFilter = pszFilter;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrDefExt = pszExtension;
    ofn.Flags =
        OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!ShowSaveAs(pfnGetSaveFileName, ofn)) {
        file.clear();
        return SaveAsAnswer::Cancelled;
    }
    file.resize(std::wcslen(file.c_str()));
    return SaveAsAnswer::Chosen;
}
