// The frame as an image: a packed DIB checked for what the tools can use, and PNG bytes made
// from it with the platform's imaging component.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The DIB's header when it is uncompressed 24 or 32 bits per pixel with all its pixels there;
// null otherwise.
const BITMAPINFOHEADER* CheckedDib(const std::vector<BYTE>& dib);
// The PNG file's bytes for the DIB, top row first.
HRESULT EncodePng(const std::vector<BYTE>& dib, std::vector<BYTE>& png);

// Writes the bytes to the path, replacing a file there only once the new one is whole; on
// failure the old file is as it was, nothing of ours is left and `error` says why.
bool SaveFileReplacing(const std::wstring& path, const std::vector<BYTE>& bytes,
                       std::wstring& error);
