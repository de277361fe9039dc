// Helpers for tests that drive real dialogs under the real window system.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Delivers every message waiting for this thread's windows. To wait for something, see
// support/wait.h.
void PumpMessages();

RECT WindowRect(HWND hWnd);
RECT ClientRect(HWND hWnd);
// A child's window rectangle in its parent's client coordinates.
RECT ChildRect(HWND hParent, HWND hChild);
std::wstring WindowText(HWND hWnd);
// The entries of a combo box, in list order.
std::vector<std::wstring> ComboTexts(HWND hCombo);
// The position of the first entry with that text, or -1.
int ComboFind(HWND hCombo, const std::wstring& text);

// The visible top-level windows of a process.
std::vector<HWND> VisibleWindowsOf(DWORD dwProcessId);

// The pixels of a rectangle of the screen, 0x00RRGGBB, top row first: what the display shows
// there, whichever process drew it.
std::vector<DWORD> ScreenPixels(const RECT& rc);

// The folder of the running test executable, with a trailing backslash.
std::wstring ModuleFolder();

inline int Width(const RECT& rc) {
    return rc.right - rc.left;
}
inline int Height(const RECT& rc) {
    return rc.bottom - rc.top;
}
