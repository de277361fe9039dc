// The benchmark's clock and its one statistic, shared by its parts.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

inline double NowMs() {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// A FILETIME duration in milliseconds.
inline double FiletimeMs(const FILETIME& ft) {
    return static_cast<double>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) |
                               ft.dwLowDateTime) /
           1e4;
}

// The processor time, kernel and user, of this process or of the calling thread so far.
inline double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    return FiletimeMs(kernel) + FiletimeMs(user);
}
inline double CurrentThreadCpuMs() {
    FILETIME created, exited, kernel, user;
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
    return FiletimeMs(kernel) + FiletimeMs(user);
}

// -1 for no values at all.
inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1.0 : values[values.size() / 2];
}

// Dispatches this thread's messages for that long, sleeping while there are none.
inline void PumpFor(double ms) {
    double tEnd = NowMs() + ms;
    for (double tLeft = ms; tLeft > 0; tLeft = tEnd - NowMs()) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(tLeft) + 1, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

// One frame interval as a camera really delivers them: its count of frames (a callable) over two
// seconds of dispatching this thread's messages.
template <class Count> double MeasuredFrameIntervalMs(Count count) {
    const auto nBefore = count();
    const double t0 = NowMs();
    PumpFor(2000);
    return (NowMs() - t0) / static_cast<double>(count() - nBefore);
}
