#include "check/frame_grid.h"

#include <uuids.h>

#include <algorithm>

void GridSize(const CPixelLayout& layout, LONG& nColumns, LONG& nRows) {
    nColumns = std::min(layout.nWidth, kGridColumns);
    nRows = std::min(layout.nHeight, kGridRows);
}

bool ReadGrid(const CPixelLayout& layout, const BYTE* pData, size_t nSize, std::vector<BYTE>& grid,
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
    const size_t nPlane = layout.nStride * static_cast<size_t>(layout.nHeight);
    size_t nAt = 0;
    for (LONG r = 0; r < nRows; ++r) {
        // Points at the centres of equal cells.
        LONG y = static_cast<LONG>((2LL * r + 1) * layout.nHeight / (2LL * nRows));
        LONG nRow = layout.bBottomUp ? layout.nHeight - 1 - y : y;
        const BYTE* pRow = pData + static_cast<size_t>(nRow) * layout.nStride;
        const BYTE* pChroma = layout.pixels == SourcePixels::Nv12
                                  ? pData + nPlane + static_cast<size_t>(nRow / 2) * layout.nStride
                                  : nullptr;
        for (LONG c = 0; c < nColumns; ++c, ++nAt) {
            auto x = static_cast<size_t>((2LL * c + 1) * layout.nWidth / (2LL * nColumns));
            BYTE nLuma = 0;
            switch (layout.pixels) {
            case SourcePixels::Rgb24:
            case SourcePixels::Bgr24:
            case SourcePixels::Rgb32: {
                const BYTE* p = pRow + x * (layout.pixels == SourcePixels::Rgb32 ? 4 : 3);
                // Blue, green, red in memory; BT.601 weights in eighths.
                nLuma = static_cast<BYTE>((p[0] + 5 * p[1] + 2 * p[2]) / 8);
                if (pBgr != nullptr) {
                    std::copy(p, p + 3, pBgr + nAt * 3);
                }
                break;
            }
            case SourcePixels::Yuy2: {
                nLuma = pRow[x * 2];
                if (pBgr != nullptr) {
                    const BYTE* pPair = pRow + (x & ~size_t(1)) * 2;
                    YuvToBgr(nLuma, pPair[1], pPair[3], pBgr + nAt * 3);
                }
                break;
            }
            case SourcePixels::Nv12:
                nLuma = pRow[x];
                if (pBgr != nullptr) {
                    const BYTE* pUv = pChroma + (x & ~size_t(1));
                    YuvToBgr(nLuma, pUv[0], pUv[1], pBgr + nAt * 3);
                }
                break;
            case SourcePixels::Unsupported:
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
