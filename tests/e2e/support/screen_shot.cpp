#include "support/screen_shot.h"

#include "framework/dib.h"
#include "support/dialog_test.h"

#include <cstdio>
#include <cstdlib>

CScreenShot CScreenShot::Of(const RECT& rcScreen) {
    CScreenShot shot;
    shot.m_pixels = ScreenPixels(rcScreen);
    if (!shot.m_pixels.empty()) {
        for (DWORD& c : shot.m_pixels) {
            c &= 0xFFFFFF;
        }
        shot.m_nWidth = rcScreen.right - rcScreen.left;
        shot.m_nHeight = rcScreen.bottom - rcScreen.top;
    }
    return shot;
}

CScreenShot CScreenShot::OfScreen() {
    return Of(RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)});
}

CScreenShot CScreenShot::OfDib(const BYTE* pDib, size_t nSize) {
    CScreenShot shot;
    const auto* pbih = reinterpret_cast<const BITMAPINFOHEADER*>(pDib);
    if (nSize < sizeof(BITMAPINFOHEADER) || pbih->biCompression != BI_RGB ||
        (pbih->biBitCount != 24 && pbih->biBitCount != 32) || pbih->biWidth <= 0) {
        return shot;
    }
    LONG nHeight = pbih->biHeight < 0 ? -pbih->biHeight : pbih->biHeight;
    size_t nStride = AfxDibStride(pbih->biWidth, pbih->biBitCount);
    if (nSize < pbih->biSize + nStride * static_cast<size_t>(nHeight)) {
        return shot;
    }
    shot.m_nWidth = pbih->biWidth;
    shot.m_nHeight = nHeight;
    for (LONG y = 0; y < nHeight; ++y) {
        LONG nRow = pbih->biHeight > 0 ? nHeight - 1 - y : y; // bottom-up unless negative
        const BYTE* p = pDib + pbih->biSize + nStride * static_cast<size_t>(nRow);
        for (LONG x = 0; x < shot.m_nWidth; ++x, p += pbih->biBitCount / 8) {
            shot.m_pixels.push_back(p[0] | static_cast<DWORD>(p[1]) << 8 |
                                    static_cast<DWORD>(p[2]) << 16);
        }
    }
    return shot;
}

CScreenShot CScreenShot::Mirrored() const {
    CScreenShot shot = *this;
    for (LONG y = 0; y < m_nHeight; ++y) {
        for (LONG x = 0; x < m_nWidth; ++x) {
            shot.m_pixels[static_cast<size_t>(y * m_nWidth + x)] = At(m_nWidth - 1 - x, y);
        }
    }
    return shot;
}

bool CScreenShot::IsUniform() const {
    for (DWORD c : m_pixels) {
        if (c != m_pixels.front()) {
            return false;
        }
    }
    return true;
}

bool CScreenShot::Save(const std::wstring& path) const {
    FILE* pFile = _wfopen(path.c_str(), L"wb");
    if (pFile == nullptr) {
        return false;
    }
    const size_t nStride = AfxDibStride(m_nWidth, 24);
    BITMAPFILEHEADER file{};
    // Bottom row first, as a BMP file's rows are read.
    const BITMAPINFOHEADER header = AfxRgbBitmapHeader(m_nWidth, m_nHeight, 24);
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + header.biSizeImage;
    bool bOk = std::fwrite(&file, sizeof(file), 1, pFile) == 1 &&
               std::fwrite(&header, sizeof(header), 1, pFile) == 1;
    std::vector<BYTE> row(nStride, 0);
    for (LONG y = m_nHeight - 1; bOk && y >= 0; --y) {
        for (LONG x = 0; x < m_nWidth; ++x) {
            DWORD c = At(x, y);
            size_t i = static_cast<size_t>(x) * 3;
            row[i] = static_cast<BYTE>(c);
            row[i + 1] = static_cast<BYTE>(c >> 8);
            row[i + 2] = static_cast<BYTE>(c >> 16);
        }
        bOk = std::fwrite(row.data(), 1, nStride, pFile) == nStride;
    }
    return std::fclose(pFile) == 0 && bOk;
}

std::string MisplacedBars(const CScreenShot& shot) {
    static const DWORD kBars[8] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                                   0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
    if (shot.IsEmpty()) {
        return "no picture";
    }
    std::string misplaced;
    for (int i = 0; i < 8; ++i) {
        LONG x = (2 * i + 1) * shot.Width() / 16;
        LONG y = shot.Height() / 3;
        DWORD seen = shot.At(x, y);
        bool bNear = true;
        for (int shift = 0; shift < 24; shift += 8) {
            int a = static_cast<int>((seen >> shift) & 0xFF);
            int b = static_cast<int>((kBars[i] >> shift) & 0xFF);
            bNear = bNear && std::abs(a - b) <= 8; // the renderer's scaling blends a little
        }
        if (!bNear) {
            char text[64];
            std::snprintf(text, sizeof(text), "bar %d at (%ld, %ld) is %06lX; ", i, x, y, seen);
            misplaced += text;
        }
    }
    return misplaced;
}
