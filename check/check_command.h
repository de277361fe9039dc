// /check: the camera check from the command line, without a window.
#pragma once

#include <windows.h>

#include <string>

// What /check was asked for: its switches as they were written.
struct CCheckRequest {
    bool bDevice = false;
    bool bFormat = false;
    bool bSeconds = false;
    bool bCsv = false;
    bool bReport = false;
    std::wstring strDevice;
    std::wstring strFormat;
    std::wstring strSeconds; // as written: Seconds reads it
    std::wstring strReport;  // /report:FILE.html

    // /seconds:N, 1 to 60, else nDefault without the switch; 0 for a value out of range.
    DWORD Seconds(DWORD nDefault) const;
};

// Writes the table (or CSV) to standard output and a progress line per format to standard
// error, and with /report: the report to that file. 0 when every checked format is OK, 1 when
// one failed, 2 when nothing could be checked or the report could not be written (with the
// reason on standard error; the table is written all the same).
int RunCheckSwitch(const CCheckRequest& request);
