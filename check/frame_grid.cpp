#include "check/frame_grid.h"

#include <uuids.h>

#include <algorithm>

size_t CGridLayout::ImageBytes() const {
    if (pixels == GridPixels::Unsupported || nWidth <= 0 || nHeight <= 0 || nStride <= 0) {
        return 0;
    }
    size_t nPlane = static_cast<size_t>(nStride) * static_cast<size_t>(nHeight);
    return pixels == GridPixels::Nv12 ? nPlane + nPlane / 2 : nPlane;
}

CGridLayout GridLayoutOf(const GUID& subtype, const BITMAPINFOHEADER& bmi) {
    CGridLayout layout;
    LONG nHeight = bmi.biHeight;
    // LONG_MIN has no positive counterpart: such a header is unsupported.
    if (bmi.biWidth <= 0 || nHeight == 0 || nHeight == LONG_MIN || bmi.biWidth > 65536 ||
        nHeight > 65536 || nHeight < -65536) {
        return layout;
    }
    layout.nWidth = bmi.biWidth;
    layout.nHeight = nHeight < 0 ? -nHeight : nHeight;
    if (subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32) {
        bool b24 = subtype == MEDIASUBTYPE_RGB24;
        layout.pixels = b24 ? GridPixels::Rgb24 : GridPixels::Rgb32;
        layout.nStride = (bmi.biWidth * (b24 ? 24 : 32) + 31) / 32 * 4;
        layout.bBottomUp = nHeight > 0;
    } else if (subtype == MEDIASUBTYPE_YUY2) {
        layout.pixels = GridPixels::Yuy2;
        layout.nStride = bmi.biWidth * 2;
    } else if (subtype == MEDIASUBTYPE_NV12) {
        layout.pixels = GridPixels::Nv12;
        layout.nStride = bmi.biWidth;
    }
    return layout;
}

void GridSize(const CGridLayout& layout, LONG& nColumns, LONG& nRows) {
    nColumns = std::min(layout.nWidth, kGridColumns);
    nRows = std::min(layout.nHeight, kGridRows);
}

namespace {

BYTE Clamped(int nValue) {
    return static_cast<BYTE>(std::clamp(nValue, 0, 255));
}

// BT.601 studio range to blue, green, red.
void YuvToBgr(int nY, int nU, int nV, BYTE* pBgr) {
    int c = 298 * (nY - 16) + 128;
    int d = nU - 128;
    int e = nV - 128;
    pBgr[0] = Clamped((c + 516 * d) >> 8);
    pBgr[1] = Clamped((c - 100 * d - 208 * e) >> 8);
    pBgr[2] = Clamped((c + 409 * e) >> 8);
}

} // namespace

bool ReadGrid(const CGridLayout& layout, const BYTE* pData, size_t nSize, std::vector<BYTE>& grid,
              std::vector<BYTE>* pColour) {
    size_t nNeeded = layout.ImageBytes();
    if (nNeeded == 0 || pData == nullptr || nSize < nNeeded) {
        return false;
    }
    LONG nColumns = 0;
    LONG nRows = 0;
    GridSize(layout, nColumns, nRows);
    size_t nPoints = static_cast<size_t>(nColumns) * static_cast<size_t>(nRows);
    grid.resize(nPoints);
    BYTE* pBgr = nullptr;
    if (pColour != nullptr) {
        pColour->resize(nPoints * 3);
        pBgr = pColour->data();
    }
    const size_t nPlane = static_cast<size_t>(layout.nStride) * static_cast<size_t>(layout.nHeight);
    size_t nAt = 0;
    for (LONG r = 0; r < nRows; ++r) {
        // Points at the centres of equal cells.
        LONG y = static_cast<LONG>((2LL * r + 1) * layout.nHeight / (2LL * nRows));
        LONG nRow = layout.bBottomUp ? layout.nHeight - 1 - y : y;
        const BYTE* pRow = pData + static_cast<size_t>(nRow) * static_cast<size_t>(layout.nStride);
        const BYTE* pChroma =
            layout.pixels == GridPixels::Nv12
                ? pData + nPlane +
                      static_cast<size_t>(nRow / 2) * static_cast<size_t>(layout.nStride)
                : nullptr;
        for (LONG c = 0; c < nColumns; ++c, ++nAt) {
            auto x = static_cast<size_t>((2LL * c + 1) * layout.nWidth / (2LL * nColumns));
            BYTE nLuma = 0;
            switch (layout.pixels) {
            case GridPixels::Rgb24:
            case GridPixels::Bgr24Decoded:
            case GridPixels::Rgb32: {
                const BYTE* p = pRow + x * (layout.pixels == GridPixels::Rgb32 ? 4 : 3);
                // Blue, green, red in memory; BT.601 weights in eighths.
                nLuma = static_cast<BYTE>((p[0] + 5 * p[1] + 2 * p[2]) / 8);
                if (pBgr != nullptr) {
                    std::copy(p, p + 3, pBgr + nAt * 3);
                }
                break;
            }
            case GridPixels::Yuy2: {
                nLuma = pRow[x * 2];
                if (pBgr != nullptr) {
                    const BYTE* pPair = pRow + (x & ~size_t(1)) * 2;
                    YuvToBgr(nLuma, pPair[1], pPair[3], pBgr + nAt * 3);
                }
                break;
            }
            case GridPixels::Nv12:
                nLuma = pRow[x];
                if (pBgr != nullptr) {
                    const BYTE* pUv = pChroma + (x & ~size_t(1));
                    YuvToBgr(nLuma, pUv[0], pUv[1], pBgr + nAt * 3);
                }
                break;
            case GridPixels::Unsupported:
                break;
            }
            grid[nAt] = nLuma;
        }
    }
    return true;
}

bool IsBlackGrid(const std::vector<BYTE>& grid) {
    return !grid.empty() &&
           std::all_of(grid.begin(), grid.end(), [](BYTE n) { return n <= kBlackLevel; });
}
