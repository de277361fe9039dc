// 24-bit BGR pictures encoded to an image file's bytes (JPEG, PNG) through the platform's
// imaging component: the snapshots' PNG files and the recorder's MJPG frames.
#pragma once

#include "framework/object.h"
#include "media/imaging_factory.h"

#include <windows.h>

#include <cstddef>
#include <vector>

class CImageEncoder : private CNoCopy {
public:
    // Makes the imaging factory in the calling thread's apartment; it is free-threaded, so
    // encoding may then happen on another thread, one picture at a time.
    HRESULT Open() { return m_wic.Open(); }
    // The picture (rows top first, nStride bytes apart, three bytes a pixel) as a file of that
    // container (GUID_ContainerFormatJpeg, GUID_ContainerFormatPng) into `out`, which is reused.
    // fQuality (0 to 1) is the JPEG's; 0 leaves the encoder's own. Never throws.
    HRESULT Encode(REFGUID container, const BYTE* pBgr, UINT nWidth, UINT nHeight, UINT nStride,
                   float fQuality, std::vector<BYTE>& out) noexcept;

private:
    CImagingFactory m_wic;
};

// Rows of 24- or 32-bit blue-green-red pixels (the fourth byte ignored) as a 24-bit PNG: the
// snapshot's file and the check report's pictures. The rows are read from pTopRow on, nRowStep
// bytes apart (negative for a bottom-up picture).
HRESULT EncodePng24(UINT nWidth, UINT nHeight, const BYTE* pTopRow, std::ptrdiff_t nRowStep,
                    UINT nBytesPerPixel, std::vector<BYTE>& png);
