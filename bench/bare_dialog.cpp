// The floor for the start-up figure: a program that only shows the main window's template.
#include "res/resource.h"

#include <windows.h>

namespace {

INT_PTR CALLBACK BareDialogProc(HWND hWnd, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    if (message == WM_CLOSE) {
        ::EndDialog(hWnd, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    ::DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_LOOKWELL_DIALOG), nullptr, BareDialogProc, 0);
    return 0;
}
