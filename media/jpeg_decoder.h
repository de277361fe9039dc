// A JPEG picture (an MJPG sample) decoded to 24-bit BGR through the platform's imaging
// component, for whatever reads pictures off a compressed stream.
#pragma once

#include "framework/object.h"
#include "media/imaging_factory.h"

#include <windows.h>

#include <vector>

// Rows padded to 4 bytes, top row first; the buffer is reused from picture to picture.
struct CBgrPicture {
    UINT nWidth = 0;
    UINT nHeight = 0;
    UINT nStride = 0;
    std::vector<BYTE> pixels;
};

class CJpegDecoder : private CNoCopy {
public:
    // Makes the imaging factory, in the calling thread's apartment. The factory is
    // free-threaded: decoding may then happen on another thread, one picture at a time.
    HRESULT Open() { return m_wic.Open(); }
    bool IsOpen() const { return m_wic.IsOpen(); }
    // False (the picture's size left 0) when the bytes are no picture it can decode, or
    // memory ran out.
    bool Decode(const BYTE* pData, size_t nSize, CBgrPicture& picture) noexcept;

private:
    CImagingFactory m_wic;
};
