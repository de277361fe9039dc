// One capture format of one device, and the list of them that a device list entry owns.
#pragma once

#include "framework/array.h"
#include "framework/str.h"

#include <windows.h>

// A plain value record, copied by value and never changed once stored.
struct VideoFormat {
    LONG width;
    LONG height;        // as the device reports it, sign included
    LONGLONG frameTime; // average time per frame, 100 ns units
    DWORD bitRate;      // bits per second
    GUID subtype;       // the pixel format
};

class VideoFormatArray : public CArray<VideoFormat> {
public:
    // The device's position among all the monikers of the enumeration that listed it, which
    // differs from its list position once a device ahead of it was left out.
    int m_nMonikerPosition = -1;
    // The moniker's display name, which names the device whatever its position.
    CString m_strDisplayName;
};

// Frame rate as the format list shows it. The factor is one unit in the last place above the
// double nearest to 1e-7 (bit pattern 0x3E7AD7F29ABCAF49), so that 333333 shows as 30.0. A
// frame time of 0 gives infinity (IEEE division).
double FrameRate(LONGLONG frameTime);

// The format list's entry text: "640x480  30.0 YUY2 147456000".
void GetFormatEntryText(const VideoFormat& format, CString& strText);
