// Baseline JPEG frames for the MJPG formats, made by the platform's imaging component (WIC).
#pragma once

#include "framework/object.h"

#include <windows.h>

struct IWICImagingFactory;

namespace testcam {

class JpegEncoder : private CNoCopy {
public:
    ~JpegEncoder();

    // On the thread that encodes, with COM started there.
    HRESULT Init();
    // Encodes a top-down 24-bit BGR picture into `out`, at most `capacity` bytes; `written`
    // receives the JPEG's length.
    HRESULT Encode(const BYTE* bgr, UINT width, UINT height, UINT stride, BYTE* out, DWORD capacity,
                   DWORD* written);

private:
    IWICImagingFactory* factory_ = nullptr;
};

} // namespace testcam
