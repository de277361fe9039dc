// A video media type that holds its own VIDEOINFOHEADER, for feeding a consumer or a writer by
// hand, as a camera's pin would describe its pictures.
#pragma once

#include "framework/dib.h"
#include "framework/object.h"

#include <dshow.h>
#include <uuids.h>

struct CVideoType : private CNoCopy {
    AM_MEDIA_TYPE mt{};
    VIDEOINFOHEADER vih{};

    // biSizeImage is an uncompressed picture's; a compressed format sets its largest itself.
    CVideoType(const GUID& subtype, LONG nWidth, LONG nHeight, WORD nBits, LONGLONG frameTime) {
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = subtype;
        mt.formattype = FORMAT_VideoInfo;
        mt.cbFormat = sizeof(vih);
        mt.pbFormat = reinterpret_cast<BYTE*>(&vih);
        vih.AvgTimePerFrame = frameTime;
        vih.bmiHeader = AfxRgbBitmapHeader(nWidth, nHeight, nBits);
    }
    // The media type points into the object itself.
};
