// Uncompressed camera pictures (RGB24, RGB32, YUY2, NV12) turned into 24-bit BGR rows, top row
// first, for whatever hands pictures to an image encoder.
#pragma once

#include <windows.h>

#include <dshow.h>

// Bgr24 is a decoded picture: 24-bit blue-green-red rows, top row first.
enum class SourcePixels { Unsupported, Rgb24, Rgb32, Yuy2, Nv12, Bgr24 };

struct CPixelLayout {
    SourcePixels pixels = SourcePixels::Unsupported;
    LONG nWidth = 0;
    LONG nHeight = 0;   // always positive
    size_t nStride = 0; // bytes per row (of the luma plane for NV12)
    bool bBottomUp = false;

    // What one picture takes; 0 for an unsupported layout.
    size_t ImageBytes() const;
};

// The layout of an uncompressed video header by the DIB rules: RGB rows padded to 4 bytes and
// bottom-up unless the height is negative; YUY2 and NV12 top-down with rows of their own width.
// Unsupported for any other type, odd sizes the format cannot have (a pixel pair would be read
// past its row), or sizes past 16384.
CPixelLayout PixelLayoutOf(const GUID& subtype, const BITMAPINFOHEADER& bmi);
// The same from either video information header.
CPixelLayout PixelLayoutOf(const AM_MEDIA_TYPE& mt);

// BT.601 studio range to blue, green, red.
void YuvToBgr(int y, int u, int v, BYTE* pOut);

// One picture into pOut, nOutStride bytes a row (at least three a pixel), upright: the top row
// at pOut. A negative stride writes upwards from pOut, as a bottom-up bitmap is laid out. YUY2
// and NV12 are read as BT.601 studio range. False when the data is shorter than the layout needs
// or the layout is unsupported.
bool ConvertToBgr24(const CPixelLayout& layout, const BYTE* pData, size_t nSize, BYTE* pOut,
                    ptrdiff_t nOutStride);
