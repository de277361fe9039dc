// The floors for the start-up figure: a program that only shows the main window's template, and,
// with the argument "platform", one that before it shows makes the platform calls the program
// makes at start (COM, the device enumerator, each device bound and its capabilities read)
// without any list work of its own.
#include "bench/enumerate_floor.h"
#include "res/resource.h"

#include <windows.h>

#include <cwchar>

namespace {

INT_PTR CALLBACK BareDialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        if (lParam != 0 && ::CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_OK) {
            EnumerateFloor();
        }
        return TRUE;
    }
    if (message == WM_CLOSE) {
        ::EndDialog(hWnd, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR pszCmdLine, int) {
    bool bPlatform = std::wcscmp(pszCmdLine, L"platform") == 0;
    ::DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_LOOKWELL_DIALOG), nullptr, BareDialogProc,
                      bPlatform ? 1 : 0);
    if (bPlatform) {
        ::CoUninitialize();
    }
    return 0;
}
