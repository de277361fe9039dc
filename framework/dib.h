// Headers of uncompressed device-independent bitmaps, as GDI and the clipboard take them.
#pragma once

#include <windows.h>

#include <cstddef>

// Bytes from one row to the next: each row is padded to four bytes.
inline size_t AfxDibStride(LONG nWidth, WORD nBitCount) {
    return (static_cast<size_t>(nWidth) * nBitCount + 31) / 32 * 4;
}

// An uncompressed RGB bitmap of that size, its image size filled in. A negative height puts
// the top row first.
inline BITMAPINFOHEADER AfxRgbBitmapHeader(LONG nWidth, LONG nHeight, WORD nBitCount) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = nWidth;
    header.biHeight = nHeight;
    header.biPlanes = 1;
    header.biBitCount = nBitCount;
    header.biCompression = BI_RGB;
    const size_t nRows =
        static_cast<size_t>(nHeight < 0 ? -static_cast<LONGLONG>(nHeight) : nHeight);
    header.biSizeImage = static_cast<DWORD>(AfxDibStride(nWidth, nBitCount) * nRows);
    return header;
}
