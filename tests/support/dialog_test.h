// Helpers for tests that drive real dialogs under the real window system.
#pragma once

#include <windows.h>

#include <string>

// Delivers every message waiting for this thread's windows.
void PumpMessages();

// Pumps messages for the given time, so that timers can fire.
void PumpMessagesFor(DWORD milliseconds);

RECT WindowRect(HWND hWnd);
RECT ClientRect(HWND hWnd);
// A child's window rectangle in its parent's client coordinates.
RECT ChildRect(HWND hParent, HWND hChild);
std::wstring WindowText(HWND hWnd);

// The folder of the running test executable, with a trailing backslash.
std::wstring ModuleFolder();

inline int Width(const RECT& rc) {
    return rc.right - rc.left;
}
inline int Height(const RECT& rc) {
    return rc.bottom - rc.top;
}
