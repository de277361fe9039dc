// What the camera DLL tells its own tests and benchmark through TestCamGetStats.
#pragma once

#include <windows.h>

struct TestCamStats {
    LONG objects;        // live COM objects of the DLL (filters, enumerators, factories)
    LONG threads;        // streaming threads that have not ended
    LONG inReceive;      // frames being handed downstream right now
    LONGLONG delivered;  // frames handed downstream since the DLL was loaded
    LONGLONG renderTime; // 100 ns spent drawing those frames (thread CPU time)
};

typedef void(WINAPI* TestCamGetStatsFn)(TestCamStats* stats);
