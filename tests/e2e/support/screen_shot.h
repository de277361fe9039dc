// Pictures of the screen as a person sees it, read back from the display.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CScreenShot {
public:
    CScreenShot() = default;
    // That rectangle of the screen, in screen coordinates. Another process's window DC does
    // not do under Wine: its video renderer paints into a surface of its own process, and a
    // window DC from outside reads black.
    static CScreenShot Of(const RECT& rcScreen);
    static CScreenShot OfScreen();
    // An uncompressed 24- or 32-bit packed DIB, as the clipboard holds it; empty for others.
    static CScreenShot OfDib(const BYTE* pDib, size_t nSize);
    // Left and right exchanged.
    CScreenShot Mirrored() const;

    LONG Width() const { return m_nWidth; }
    LONG Height() const { return m_nHeight; }
    bool IsEmpty() const { return m_pixels.empty(); }
    // 0x00RRGGBB.
    DWORD At(LONG x, LONG y) const { return m_pixels[static_cast<size_t>(y * m_nWidth + x)]; }
    bool operator==(const CScreenShot& other) const {
        return m_nWidth == other.m_nWidth && m_pixels == other.m_pixels;
    }
    bool operator!=(const CScreenShot& other) const { return !(*this == other); }
    // Whether every pixel has the colour of the first.
    bool IsUniform() const;

    // A 24-bit BMP.
    bool Save(const std::wstring& path) const;

private:
    LONG m_nWidth = 0;
    LONG m_nHeight = 0;
    std::vector<DWORD> m_pixels;
};

// The test camera's eight colour bars, white to black, across the top three quarters of a
// picture that fills the shot: empty when each is where it belongs, else what was seen instead.
std::string MisplacedBars(const CScreenShot& shot);
