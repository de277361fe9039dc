// What the file-writing parts share: a device's name told from a file's, and the system's own
// words for a failed file call.
#pragma once

#include <windows.h>

#include <string>

// Whether a path's file name is a device's (NUL.png is the NUL device, not a file).
bool AfxIsDeviceName(const std::wstring& path);

// One line saying why a file call failed, in the system's words, without a final full stop.
std::wstring AfxSystemText(DWORD nError);
