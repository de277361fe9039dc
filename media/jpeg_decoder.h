// A JPEG picture (an MJPG sample) decoded to 24-bit BGR through the platform's imaging
// component, for whatever reads pictures off a compressed stream.
#pragma once

#include <windows.h>

#include <vector>

struct IWICImagingFactory;

// Rows padded to 4 bytes, top row first; the buffer is reused from picture to picture.
struct CBgrPicture {
    UINT nWidth = 0;
    UINT nHeight = 0;
    UINT nStride = 0;
    std::vector<BYTE> pixels;
};

class CJpegDecoder {
public:
    CJpegDecoder() = default;
    ~CJpegDecoder();
    CJpegDecoder(const CJpegDecoder&) = delete;
    CJpegDecoder& operator=(const CJpegDecoder&) = delete;

    // Makes the imaging factory, in the calling thread's apartment. The factory is
    // free-threaded: decoding may then happen on another thread, one picture at a time.
    HRESULT Open();
    bool IsOpen() const { return m_pWic != nullptr; }
    // False (the picture's size left 0) when the bytes are no picture it can decode, or
    // memory ran out.
    bool Decode(const BYTE* pData, size_t nSize, CBgrPicture& picture) noexcept;

private:
    IWICImagingFactory* m_pWic = nullptr;
};
