// The test picture: eight colour bars over the top three quarters, and below them a square
// that moves every frame next to the frame counter.
#pragma once

#include "testcam/config.h"

#include <vector>

namespace testcam {

struct Rgb {
    BYTE r, g, b;
};

// Full-intensity bars, left to right, so their colours can be checked by pixel value.
constexpr int kBarCount = 8;
extern const Rgb kBars[kBarCount];
extern const Rgb kBandColour;

// BT.601 studio range, as capture hardware delivers it.
void RgbToYuv(Rgb c, BYTE& y, BYTE& u, BYTE& v);

class Pattern {
public:
    // Draws the still part once; false when memory runs out. `topDown` asks for the rows of
    // a DIB with negative height.
    bool Init(const Format& format, bool topDown);
    const Format& format() const { return format_; }
    // Writes frame `frame` into `dst`, ImageSize(format) bytes.
    void Render(BYTE* dst, ULONGLONG frame) const;

    // Where the moving square's left edge is in frame `frame`.
    LONG SquareX(ULONGLONG frame) const;
    LONG BandTop() const { return bandTop_; }

private:
    LONG CounterScale() const;
    void Fill(BYTE* image, LONG x0, LONG y0, LONG x1, LONG y1, Rgb colour) const;
    BYTE* Row(BYTE* image, LONG y) const;

    Format format_;
    bool topDown_ = false;
    LONG bandTop_ = 0;
    LONG square_ = 0;
    std::vector<BYTE> still_;
};

} // namespace testcam
