#include "media/pixel_convert.h"

#include "capture/capture_platform.h"
#include "framework/dib.h"

#include <dvdmedia.h>
#include <uuids.h>

#include <cstring>

namespace {

BYTE Clamp(int n) {
    return static_cast<BYTE>(n < 0 ? 0 : n > 255 ? 255 : n);
}

} // namespace

// 8.8 fixed point: 298 = 255/219, 409/208/100/516 the colour factors.
void YuvToBgr(int y, int u, int v, BYTE* pOut) {
    const int c = 298 * (y - 16) + 128;
    const int d = u - 128;
    const int e = v - 128;
    pOut[0] = Clamp((c + 516 * d) >> 8);
    pOut[1] = Clamp((c - 100 * d - 208 * e) >> 8);
    pOut[2] = Clamp((c + 409 * e) >> 8);
}

size_t CPixelLayout::ImageBytes() const {
    const auto nRows = static_cast<size_t>(nHeight);
    return pixels == SourcePixels::Unsupported ? 0
           : pixels == SourcePixels::Nv12      ? nStride * nRows * 3 / 2
                                               : nStride * nRows;
}

CPixelLayout PixelLayoutOf(const GUID& subtype, const BITMAPINFOHEADER& bmi) {
    CPixelLayout layout;
    // Compared before negating: LONG_MIN has no positive counterpart.
    if (bmi.biWidth <= 0 || bmi.biWidth > 16384 || bmi.biHeight == 0 || bmi.biHeight > 16384 ||
        bmi.biHeight < -16384) {
        return layout;
    }
    const LONG nHeight = bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight;
    const auto nWidth = static_cast<size_t>(bmi.biWidth);
    if (subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32) {
        layout.pixels = subtype == MEDIASUBTYPE_RGB24 ? SourcePixels::Rgb24 : SourcePixels::Rgb32;
        layout.nStride = AfxDibStride(bmi.biWidth, layout.pixels == SourcePixels::Rgb24 ? 24 : 32);
        layout.bBottomUp = bmi.biHeight > 0;
    } else if (subtype == MEDIASUBTYPE_YUY2 && nWidth % 2 == 0) {
        layout.pixels = SourcePixels::Yuy2;
        layout.nStride = nWidth * 2;
    } else if (subtype == MEDIASUBTYPE_NV12 && nWidth % 2 == 0 && nHeight % 2 == 0) {
        layout.pixels = SourcePixels::Nv12;
        layout.nStride = nWidth;
    } else {
        return layout;
    }
    layout.nWidth = bmi.biWidth;
    layout.nHeight = nHeight;
    return layout;
}

CPixelLayout PixelLayoutOf(const AM_MEDIA_TYPE& mt) {
    const BITMAPINFOHEADER* pBmi = GetBitmapHeader(mt);
    return pBmi != nullptr ? PixelLayoutOf(mt.subtype, *pBmi) : CPixelLayout();
}

bool ConvertToBgr24(const CPixelLayout& layout, const BYTE* pData, size_t nSize, BYTE* pOut,
                    ptrdiff_t nOutStride) {
    const auto nWidth = static_cast<size_t>(layout.nWidth);
    const auto nHeight = static_cast<size_t>(layout.nHeight);
    const size_t nOutRow =
        nOutStride < 0 ? 0 - static_cast<size_t>(nOutStride) : static_cast<size_t>(nOutStride);
    if (layout.pixels == SourcePixels::Unsupported || pData == nullptr || pOut == nullptr ||
        nSize < layout.ImageBytes() || nOutRow < nWidth * 3) {
        return false;
    }
    for (size_t y = 0; y < nHeight; ++y) {
        const size_t nSourceRow = layout.bBottomUp ? nHeight - 1 - y : y;
        const BYTE* pRow = pData + nSourceRow * layout.nStride;
        BYTE* pTo = pOut + static_cast<ptrdiff_t>(y) * nOutStride;
        switch (layout.pixels) {
        case SourcePixels::Rgb24:
        case SourcePixels::Bgr24:
            std::memcpy(pTo, pRow, nWidth * 3);
            break;
        case SourcePixels::Rgb32:
            for (size_t x = 0; x < nWidth; ++x) {
                std::memcpy(pTo + x * 3, pRow + x * 4, 3);
            }
            break;
        case SourcePixels::Yuy2:
            for (size_t x = 0; x < nWidth; x += 2) {
                const BYTE* p = pRow + x * 2;
                YuvToBgr(p[0], p[1], p[3], pTo + x * 3);
                YuvToBgr(p[2], p[1], p[3], pTo + x * 3 + 3);
            }
            break;
        case SourcePixels::Nv12: {
            // The chroma plane follows the luma, one U V pair for each 2 x 2 pixels.
            const BYTE* pChroma = pData + layout.nStride * nHeight + (y / 2) * layout.nStride;
            for (size_t x = 0; x < nWidth; ++x) {
                const BYTE* pUv = pChroma + (x & ~static_cast<size_t>(1));
                YuvToBgr(pRow[x], pUv[0], pUv[1], pTo + x * 3);
            }
            break;
        }
        case SourcePixels::Unsupported:
            return false;
        }
    }
    return true;
}
