// The floor the device list is measured against: the same platform calls with no list work.
// Shared by the benchmark and the bare dialog program that is the start-up's fair floor.
#pragma once

#include <windows.h>

// The platform calls the device list makes, in the same order, with no list work: no entries,
// no records, no texts. Given the window, it also makes the same combo box calls with a text
// made once, so that what remains between it and the window is the program's own work.
void EnumerateFloor(HWND hDlg = nullptr);
