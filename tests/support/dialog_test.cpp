#include "framework/dib.h"
#include "support/dialog_test.h"

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

RECT WindowRect(HWND hWnd) {
    RECT rc{};
    ::GetWindowRect(hWnd, &rc);
    return rc;
}

RECT ClientRect(HWND hWnd) {
    RECT rc{};
    ::GetClientRect(hWnd, &rc);
    return rc;
}

RECT ChildRect(HWND hParent, HWND hChild) {
    RECT rc = WindowRect(hChild);
    ::MapWindowPoints(HWND_DESKTOP, hParent, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

std::wstring WindowText(HWND hWnd) {
    wchar_t text[512] = L"";
    ::GetWindowTextW(hWnd, text, 512);
    return text;
}

std::vector<std::wstring> ComboTexts(HWND hCombo) {
    std::vector<std::wstring> texts;
    int nCount = static_cast<int>(::SendMessageW(hCombo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < nCount; ++i) {
        LRESULT nLength = ::SendMessageW(hCombo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<size_t>(nLength) + 1, L'\0'); // and the terminator
        ::SendMessageW(hCombo, CB_GETLBTEXT, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(text.data()));
        texts.push_back(text.c_str());
    }
    return texts;
}

int ComboFind(HWND hCombo, const std::wstring& text) {
    std::vector<std::wstring> texts = ComboTexts(hCombo);
    for (size_t i = 0; i < texts.size(); ++i) {
        if (texts[i] == text) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::wstring ModuleFolder() {
    wchar_t path[MAX_PATH] = L"";
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::vector<HWND> VisibleWindowsOf(DWORD dwProcessId) {
    struct CSearch {
        DWORD dwProcessId;
        std::vector<HWND> found;
    } search{dwProcessId, {}};
    ::EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* pSearch = reinterpret_cast<CSearch*>(lParam);
            DWORD dwOwner = 0;
            ::GetWindowThreadProcessId(hWnd, &dwOwner);
            if (dwOwner == pSearch->dwProcessId && ::IsWindowVisible(hWnd)) {
                pSearch->found.push_back(hWnd);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<DWORD> ScreenPixels(const RECT& rc) {
    std::vector<DWORD> pixels;
    int cx = rc.right - rc.left;
    int cy = rc.bottom - rc.top;
    if (cx <= 0 || cy <= 0) {
        return pixels;
    }
    BITMAPINFO info{};
    info.bmiHeader = AfxRgbBitmapHeader(cx, -cy, 32); // top row first
    HDC hScreen = ::GetDC(nullptr);
    HDC hMemory = ::CreateCompatibleDC(hScreen);
    void* pBits = nullptr;
    HBITMAP hDib = ::CreateDIBSection(hMemory, &info, DIB_RGB_COLORS, &pBits, nullptr, 0);
    if (hDib != nullptr) {
        HGDIOBJ hOld = ::SelectObject(hMemory, hDib);
        if (::BitBlt(hMemory, 0, 0, cx, cy, hScreen, rc.left, rc.top, SRCCOPY)) {
            ::GdiFlush();
            const DWORD* p = static_cast<const DWORD*>(pBits);
            pixels.assign(p, p + static_cast<size_t>(cx) * static_cast<size_t>(cy));
        }
        ::SelectObject(hMemory, hOld);
        ::DeleteObject(hDib);
    }
    ::DeleteDC(hMemory);
    ::ReleaseDC(nullptr, hScreen);
    return pixels;
}
