// 24-bit BGR pictures encoded to an image file's bytes (JPEG, PNG) through the platform's
// imaging component: the snapshots' PNG files and the recorder's MJPG frames.
#pragma once

#include <windows.h>

#include <vector>

struct IWICImagingFactory;

class CImageEncoder {
public:
    CImageEncoder() = default;
    ~CImageEncoder();
    CImageEncoder(const CImageEncoder&) = delete;
    CImageEncoder& operator=(const CImageEncoder&) = delete;

    // Makes the imaging factory in the calling thread's apartment; it is free-threaded, so
    // encoding may then happen on another thread, one picture at a time.
    HRESULT Open();
    // The picture (rows top first, nStride bytes apart, three bytes a pixel) as a file of that
    // container (GUID_ContainerFormatJpeg, GUID_ContainerFormatPng) into `out`, which is reused.
    // fQuality (0 to 1) is the JPEG's; 0 leaves the encoder's own. Never throws.
    HRESULT Encode(REFGUID container, const BYTE* pBgr, UINT nWidth, UINT nHeight, UINT nStride,
                   float fQuality, std::vector<BYTE>& out) noexcept;

private:
    IWICImagingFactory* m_pWic = nullptr;
};
