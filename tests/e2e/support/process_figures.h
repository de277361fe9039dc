// What a process holds: its handles, by object type, and its private bytes.
#pragma once

#include <windows.h>

#include <map>
#include <string>

struct CProcessFigures {
    // From the system's handle table: Wine 8's GetProcessHandleCount answers 0 for every
    // process, its own included.
    std::map<std::wstring, int> handles;
    int nHandles = 0;
    SIZE_T nPrivateBytes = 0;
};

// The process handle needs query, read and duplicate access.
CProcessFigures MeasureProcess(HANDLE hProcess, DWORD dwProcessId);
