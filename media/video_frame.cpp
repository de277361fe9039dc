#include "media/video_frame.h"

#include "capture/capture_platform.h"
#include "framework/dib.h"
#include "media/jpeg_decoder.h"

#include <uuids.h>

#include <cstring>

namespace {

// The header and room for bottom-up 24-bit rows; returns where the top row starts and its
// stride, which is negative.
BYTE* StartDib(LONG nWidth, LONG nHeight, std::vector<BYTE>& dib, ptrdiff_t& nStride) {
    const BITMAPINFOHEADER header = AfxRgbBitmapHeader(nWidth, nHeight, 24);
    const size_t nRow = AfxDibStride(nWidth, 24);
    const size_t nImage = header.biSizeImage;
    dib.assign(sizeof(BITMAPINFOHEADER) + nImage, 0);
    std::memcpy(dib.data(), &header, sizeof(header));
    nStride = -static_cast<ptrdiff_t>(nRow);
    return dib.data() + sizeof(BITMAPINFOHEADER) + nImage - nRow;
}

} // namespace

CFrameLayout FrameLayoutOf(const AM_MEDIA_TYPE& mt) {
    CFrameLayout layout;
    layout.pixels = PixelLayoutOf(mt);
    if (layout.pixels.pixels != SourcePixels::Unsupported) {
        layout.nWidth = layout.pixels.nWidth;
        layout.nHeight = layout.pixels.nHeight;
        layout.nFrameBytes = layout.pixels.ImageBytes();
        return layout;
    }
    const BITMAPINFOHEADER* pBmi = GetBitmapHeader(mt);
    if (mt.subtype == MEDIASUBTYPE_MJPG && pBmi != nullptr && pBmi->biWidth > 0 &&
        pBmi->biWidth <= 16384 && pBmi->biHeight != 0 && pBmi->biHeight <= 16384 &&
        pBmi->biHeight >= -16384) {
        layout.bMjpg = true;
        layout.nWidth = pBmi->biWidth;
        layout.nHeight = pBmi->biHeight < 0 ? -pBmi->biHeight : pBmi->biHeight;
        layout.nFrameBytes = pBmi->biSizeImage;
    }
    return layout;
}

HRESULT FrameToDib(const CFrameLayout& layout, const BYTE* pData, size_t nSize, CJpegDecoder& jpeg,
                   std::vector<BYTE>& dib) {
    if (!layout.IsSupported() || pData == nullptr) {
        return E_INVALIDARG;
    }
    ptrdiff_t nStride = 0;
    if (!layout.bMjpg) {
        if (nSize < layout.nFrameBytes) {
            return E_INVALIDARG;
        }
        BYTE* pTop = StartDib(layout.nWidth, layout.nHeight, dib, nStride);
        return ConvertToBgr24(layout.pixels, pData, nSize, pTop, nStride) ? S_OK : E_INVALIDARG;
    }
    CBgrPicture picture;
    if (!jpeg.IsOpen() || !jpeg.Decode(pData, nSize, picture) ||
        picture.nWidth != static_cast<UINT>(layout.nWidth) ||
        picture.nHeight != static_cast<UINT>(layout.nHeight)) {
        return E_FAIL;
    }
    CPixelLayout decoded;
    decoded.pixels = SourcePixels::Bgr24;
    decoded.nWidth = layout.nWidth;
    decoded.nHeight = layout.nHeight;
    decoded.nStride = picture.nStride;
    BYTE* pTop = StartDib(layout.nWidth, layout.nHeight, dib, nStride);
    return ConvertToBgr24(decoded, picture.pixels.data(), picture.pixels.size(), pTop, nStride)
               ? S_OK
               : E_FAIL;
}
