// What the camera DLL tells its own tests and benchmark through TestCamGetStats.
#pragma once

#include <windows.h>

struct TestCamStats {
    LONG objects;        // live COM objects of the DLL (filters, enumerators, factories)
    LONG threads;        // streaming threads that have not ended
    LONG inReceive;      // frames being handed downstream right now
    LONGLONG delivered;  // frames handed downstream since the DLL was loaded
    LONGLONG renderTime; // wall-clock time spent drawing those frames, in 100 ns units
};

typedef void(WINAPI* TestCamGetStatsFn)(TestCamStats* stats);
