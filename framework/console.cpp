#include "framework/console.h"

#include <cstring>
#include <string>

std::wstring AfxToCrlf(const std::wstring& text) {
    std::wstring crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (wchar_t ch : text) {
        if (ch == L'\n') {
            crlf += L'\r';
        }
        crlf += ch;
    }
    return crlf;
}

bool AfxWriteStd(DWORD nStdHandle, const std::wstring& text) {
    std::wstring crlf = AfxToCrlf(text);
    HANDLE hOut = ::GetStdHandle(nStdHandle);
    bool bHandle = hOut != nullptr && hOut != INVALID_HANDLE_VALUE;
    DWORD nMode = 0;
    DWORD nWritten = 0;
    if (bHandle && !::GetConsoleMode(hOut, &nMode)) {
        // A file, a pipe or a device: UTF-8, as files and pipes expect today. A full disk, a
        // pipe closed early or a device that takes nothing fails here.
        int nBytes = ::WideCharToMultiByte(CP_UTF8, 0, crlf.data(), static_cast<int>(crlf.size()),
                                           nullptr, 0, nullptr, nullptr);
        std::string bytes(static_cast<size_t>(nBytes), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, crlf.data(), static_cast<int>(crlf.size()), bytes.data(),
                              nBytes, nullptr, nullptr);
        return ::WriteFile(hOut, bytes.data(), static_cast<DWORD>(bytes.size()), &nWritten,
                           nullptr) != FALSE &&
               nWritten == bytes.size();
    }
    if (bHandle) {
        return ::WriteConsoleW(hOut, crlf.data(), static_cast<DWORD>(crlf.size()), &nWritten,
                               nullptr) != FALSE &&
               nWritten == crlf.size();
    }
    // A GUI program has no console; the one it was started from is borrowed.
    if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::GetLastError() != ERROR_ACCESS_DENIED) {
        return false;
    }
    HANDLE hConsole = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (hConsole == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool bOk = ::WriteConsoleW(hConsole, crlf.data(), static_cast<DWORD>(crlf.size()), &nWritten,
                               nullptr) != FALSE &&
               nWritten == crlf.size();
    ::CloseHandle(hConsole);
    return bOk;
}

void AfxAttachParentConsole() {
    const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE handles[3];
    for (int i = 0; i < 3; ++i) {
        handles[i] = ::GetStdHandle(ids[i]);
    }
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;
    }
    for (int i = 0; i < 3; ++i) {
        if (handles[i] != nullptr && handles[i] != INVALID_HANDLE_VALUE) {
            ::SetStdHandle(ids[i], handles[i]);
        }
    }
}

bool AfxHasStdTarget(DWORD nStdHandle) {
    HANDLE hOut = ::GetStdHandle(nStdHandle);
    if (hOut != nullptr && hOut != INVALID_HANDLE_VALUE) {
        return true;
    }
    // Attached already answers ERROR_ACCESS_DENIED.
    return ::AttachConsole(ATTACH_PARENT_PROCESS) || ::GetLastError() == ERROR_ACCESS_DENIED;
}

std::wstring AfxQuoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

bool AfxOpenClipboard(HWND hOwner) {
    for (int nTry = 0; nTry < 10; ++nTry) {
        if (::OpenClipboard(hOwner)) {
            return true;
        }
        ::Sleep(25);
    }
    return false;
}

bool AfxCopyText(HWND hOwner, const std::wstring& text, bool* pbHeld) {
    if (pbHeld != nullptr) {
        *pbHeld = false;
    }
    std::wstring crlf = AfxToCrlf(text);
    size_t nBytes = (crlf.size() + 1) * sizeof(wchar_t);
    HGLOBAL hText = ::GlobalAlloc(GMEM_MOVEABLE, nBytes);
    void* pText = hText != nullptr ? ::GlobalLock(hText) : nullptr;
    if (pText == nullptr) {
        if (hText != nullptr) {
            ::GlobalFree(hText);
        }
        return false;
    }
    std::memcpy(pText, crlf.c_str(), nBytes);
    ::GlobalUnlock(hText);
    if (!AfxOpenClipboard(hOwner)) {
        ::GlobalFree(hText);
        if (pbHeld != nullptr) {
            *pbHeld = true;
        }
        return false;
    }
    // The clipboard owns the memory once it took it.
    bool bOk = ::EmptyClipboard() && ::SetClipboardData(CF_UNICODETEXT, hText) != nullptr;
    ::CloseClipboard();
    if (!bOk) {
        ::GlobalFree(hText);
    }
    return bOk;
}
