// Presses Lookwell's preview button from outside, as the run command's demonstration does, and
// waits until the preview runs: lookwell_press.exe [close]. With "close" it closes the window.
#include "res/resource.h"

#include <windows.h>

#include <cstdio>

namespace {

HWND FindMainWindow() {
    for (int i = 0; i < 200; ++i) {
        // The title is "Lookwell" until a format is shown in it.
        HWND hWnd = nullptr;
        while ((hWnd = ::FindWindowExW(nullptr, hWnd, L"#32770", nullptr)) != nullptr) {
            wchar_t title[16] = L"";
            ::GetWindowTextW(hWnd, title, 16);
            if (::wcsncmp(title, L"Lookwell", 8) == 0 && ::IsWindowVisible(hWnd)) {
                return hWnd;
            }
        }
        ::Sleep(50);
    }
    return nullptr;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    HWND hMain = FindMainWindow();
    if (hMain == nullptr) {
        std::fprintf(stderr, "no Lookwell window\n");
        return 1;
    }
    if (argc > 1 && ::wcscmp(argv[1], L"close") == 0) {
        ::PostMessageW(hMain, WM_CLOSE, 0, 0);
        return 0;
    }
    HWND hButton = ::GetDlgItem(hMain, IDC_PREVIEW_BUTTON);
    // The pointer where a person's would be, on the button: resting over the picture it would
    // bring up the picture's tooltip in the screenshot.
    RECT rcButton{};
    ::GetWindowRect(hButton, &rcButton);
    ::SetCursorPos((rcButton.left + rcButton.right) / 2, (rcButton.top + rcButton.bottom) / 2);
    ::SendMessageW(hMain, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW_BUTTON, BN_CLICKED),
                   reinterpret_cast<LPARAM>(hButton));
    wchar_t caption[16] = L"";
    ::GetWindowTextW(hButton, caption, 16);
    if (::wcscmp(caption, L"Stop") != 0) {
        std::fprintf(stderr, "the preview did not start\n");
        return 1;
    }
    return 0;
}
