// A picture made into PNG bytes through the platform's imaging component: the snapshot's file
// and the check report's embedded pictures.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

// Rows of 24- or 32-bit blue-green-red pixels (the fourth byte ignored) as a 24-bit PNG. The
// rows are read from pTopRow on, nRowStep bytes apart (negative for a bottom-up picture).
HRESULT EncodePng24(UINT nWidth, UINT nHeight, const BYTE* pTopRow, std::ptrdiff_t nRowStep,
                    UINT nBytesPerPixel, std::vector<BYTE>& png);
