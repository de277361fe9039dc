// A video frame as a camera delivers it, described from its media type, and turned into an
// upright device-independent bitmap for the clipboard and for picture files: uncompressed
// pictures converted to 24-bit colour, MJPG decoded through the platform's imaging component.
// For whatever reads pictures off a live stream.
#pragma once

#include "media/pixel_convert.h"

#include <windows.h>

#include <dshow.h>

#include <vector>

class CJpegDecoder;

struct CFrameLayout {
    CPixelLayout pixels; // Unsupported for MJPG
    bool bMjpg = false;
    LONG nWidth = 0;
    LONG nHeight = 0; // always positive
    // One uncompressed picture; for MJPG the most a sample may take (biSizeImage).
    size_t nFrameBytes = 0;

    bool IsSupported() const { return bMjpg || pixels.pixels != SourcePixels::Unsupported; }
};

// The layout of a video media type (either video information header): see PixelLayoutOf, and
// MJPG of any size up to 16384.
CFrameLayout FrameLayoutOf(const AM_MEDIA_TYPE& mt);

// The frame as a packed 24-bit DIB (header, then the rows), bottom-up with a positive height,
// which every reader shows upright. E_INVALIDARG when the data is shorter than the layout needs
// or the layout is unsupported; for MJPG, E_FAIL when the decoder is not open or the bytes are no
// picture of the layout's size. Throws std::bad_alloc.
HRESULT FrameToDib(const CFrameLayout& layout, const BYTE* pData, size_t nSize, CJpegDecoder& jpeg,
                   std::vector<BYTE>& dib);
