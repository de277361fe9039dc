// The command line's switches: listing the devices, choosing a device and format, starting
// the preview or full screen, and the camera check. Anything that is not one of them is ignored.
#pragma once

#include "capture/device_catalogue.h"
#include "check/check_command.h"

#include <windows.h>

#include <string>
#include <vector>

// /device:, /format:, /seconds: and /csv are the check's request too; the window's switches
// read the first two the same way.
struct CCommandLine : CCheckRequest {
    bool bList = false;
    bool bHelp = false;
    bool bPreview = false;
    bool bFullScreen = false;
    bool bCheck = false;
    bool bRecord = false;       // /record:FILE
    bool bUncompressed = false; // with /record: RGB, YUY2 and NV12 stored as they come
    std::wstring strRecord;

    // The arguments after the program's name.
    void Parse(const std::vector<std::wstring>& args);
    // This process's own command line.
    void ParseProcess();
    // Whether the window has anything to do once it is up.
    bool NeedsWindowWork() const { return bDevice || bFormat || bPreview || bFullScreen; }
};

// /list and /?: the text on standard output (or the error on standard error), and the exit
// code: not 0 when the output could not be written.
int RunListSwitch();
int RunHelpSwitch();
