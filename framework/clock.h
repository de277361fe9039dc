// The performance counter, which stamps samples as they arrive.
#pragma once

#include <windows.h>

inline LONGLONG AfxQpcNow() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Counts a second; never 0, so that it may divide.
inline LONGLONG AfxQpcFrequency() {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? frequency.QuadPart : 1;
}
