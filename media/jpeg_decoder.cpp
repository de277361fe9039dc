#include "media/jpeg_decoder.h"

#include "capture/capture_platform.h"

#include <wincodec.h>

bool CJpegDecoder::Decode(const BYTE* pData, size_t nSize, CBgrPicture& picture) noexcept {
    picture.nWidth = 0;
    picture.nHeight = 0;
    picture.nStride = 0;
    if (!m_wic.IsOpen() || pData == nullptr || nSize > 0x7FFFFFFF) {
        return false;
    }
    CComRef<IWICStream> pStream;
    CComRef<IWICBitmapDecoder> pDecoder;
    CComRef<IWICBitmapFrameDecode> pFrame;
    CComRef<IWICFormatConverter> pBgr;
    UINT nWidth = 0;
    UINT nHeight = 0;
    if (FAILED(m_wic->CreateStream(&pStream)) ||
        FAILED(
            pStream->InitializeFromMemory(const_cast<BYTE*>(pData), static_cast<DWORD>(nSize))) ||
        FAILED(m_wic->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, &pDecoder)) ||
        FAILED(pDecoder->Initialize(pStream, WICDecodeMetadataCacheOnDemand)) ||
        FAILED(pDecoder->GetFrame(0, &pFrame)) ||
        // The factory's converter, not WICConvertBitmapSource: that would make the program
        // import the imaging DLL at every start.
        FAILED(m_wic->CreateFormatConverter(&pBgr)) ||
        FAILED(pBgr->Initialize(pFrame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                nullptr, 0.0, WICBitmapPaletteTypeCustom)) ||
        FAILED(pBgr->GetSize(&nWidth, &nHeight)) || nWidth == 0 || nHeight == 0 || nWidth > 65536 ||
        nHeight > 65536) {
        return false;
    }
    UINT nStride = (nWidth * 3 + 3) / 4 * 4;
    size_t nBytes = static_cast<size_t>(nStride) * nHeight;
    if (nBytes > 0xFFFFFFFF) {
        return false; // more than CopyPixels can be told
    }
    try {
        picture.pixels.resize(nBytes);
    } catch (...) {
        return false;
    }
    if (FAILED(pBgr->CopyPixels(nullptr, nStride, static_cast<UINT>(picture.pixels.size()),
                                picture.pixels.data()))) {
        return false;
    }
    picture.nWidth = nWidth;
    picture.nHeight = nHeight;
    picture.nStride = nStride;
    return true;
}
