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

// The picture controls a user sets: brightness is added to every channel, contrast scales the
// distance from mid grey in percent; `mirror` flips left and right, `flip` top and bottom.
struct Look {
    LONG brightness = 0;
    LONG contrast = 100;
    bool mirror = false;
    bool flip = false;
};
bool operator==(const Look& a, const Look& b);
// What IAMVideoProcAmp offers: the default look is the plain picture.
constexpr LONG kBrightnessMin = -100;
constexpr LONG kBrightnessMax = 100;
constexpr LONG kContrastMin = 0;
constexpr LONG kContrastMax = 200;
Rgb Adjust(Rgb c, const Look& look);

class Pattern {
public:
    // Draws the still part once, with the picture controls applied: a frame costs the same
    // whatever they are. False when memory runs out. `topDown` asks for the rows of a DIB with
    // negative height.
    bool Init(const Format& format, bool topDown, const Look& look = Look());
    const Look& look() const { return look_; }
    bool topDown() const { return topDown_; }
    const Format& format() const { return format_; }
    // Writes frame `frame` into `dst`, ImageSize(format) bytes.
    void Render(BYTE* dst, ULONGLONG frame) const;
    // Writes an all black frame, as a sensor with its lens covered sends: no controls applied.
    void RenderBlack(BYTE* dst) const;

    // Where the moving square's left edge is in frame `frame`.
    LONG SquareX(ULONGLONG frame) const;
    LONG BandTop() const { return bandTop_; }

private:
    LONG CounterScale() const;
    void Fill(BYTE* image, LONG x0, LONG y0, LONG x1, LONG y1, Rgb colour) const;
    BYTE* Row(BYTE* image, LONG y) const;

    Format format_;
    Look look_;
    bool topDown_ = false;
    LONG bandTop_ = 0;
    LONG square_ = 0;
    std::vector<BYTE> still_;
};

} // namespace testcam
