// A sparse grid of brightness values read from a picture, for the black and frozen tests. The
// grid is fine enough to see a small object move: 128 columns by 72 rows at most.
#pragma once

#include <windows.h>

#include <vector>

enum class GridPixels { Unsupported, Rgb24, Rgb32, Yuy2, Nv12, Bgr24Decoded };

struct CGridLayout {
    GridPixels pixels = GridPixels::Unsupported;
    LONG nWidth = 0;
    LONG nHeight = 0; // always positive
    LONG nStride = 0; // bytes per row (of the luma plane for NV12)
    bool bBottomUp = false;

    // The bytes one picture needs; 0 for an unsupported layout.
    size_t ImageBytes() const;
};

// The layout of an uncompressed video media type (VIDEOINFOHEADER or VIDEOINFOHEADER2): the
// DIB rules for RGB (rows padded to 4 bytes, bottom-up unless the height is negative), YUY2 and
// NV12 top-down with rows of their own width.
CGridLayout GridLayoutOf(const GUID& subtype, const BITMAPINFOHEADER& bmi);

constexpr LONG kGridColumns = 128;
constexpr LONG kGridRows = 72;
// Luma at or below this level everywhere in the grid is a black picture (studio black is 16).
constexpr BYTE kBlackLevel = 32;

// The grid's columns and rows for a layout: the picture's own size up to 128 x 72.
void GridSize(const CGridLayout& layout, LONG& nColumns, LONG& nRows);
// Reads the grid of one picture, top row first. False (grid untouched) when the data is too
// short for the layout. With pColour, the same points' colours too, 24-bit blue-green-red: a
// small picture of the frame for the price of a few more reads.
bool ReadGrid(const CGridLayout& layout, const BYTE* pData, size_t nSize, std::vector<BYTE>& grid,
              std::vector<BYTE>* pColour = nullptr);
bool IsBlackGrid(const std::vector<BYTE>& grid);
