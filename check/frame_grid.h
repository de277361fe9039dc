// A sparse grid of brightness values read from a picture, for the black and frozen tests. The
// grid is fine enough to see a small object move: 128 columns by 72 rows at most.
#pragma once

#include "media/pixel_convert.h"

#include <windows.h>

#include <vector>

constexpr LONG kGridColumns = 128;
constexpr LONG kGridRows = 72;
// Luma at or below this level everywhere in the grid is a black picture (studio black is 16).
constexpr BYTE kBlackLevel = 32;

// The grid's columns and rows for a layout: the picture's own size up to 128 x 72.
void GridSize(const CPixelLayout& layout, LONG& nColumns, LONG& nRows);
// Reads the grid of one picture, top row first. False (grid untouched) when the data is too
// short for the layout. With pColour, the same points' colours too, 24-bit blue-green-red: a
// small picture of the frame for the price of a few more reads.
bool ReadGrid(const CPixelLayout& layout, const BYTE* pData, size_t nSize, std::vector<BYTE>& grid,
              std::vector<BYTE>* pColour = nullptr);
bool IsBlackGrid(const std::vector<BYTE>& grid);
