#include "testcam/pattern.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace testcam {

const Rgb kBars[kBarCount] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                              {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
const Rgb kBandColour = {64, 64, 64};

namespace {

const Rgb kWhite = {255, 255, 255};

// Digits of a 3 x 5 font, one row of three bits per entry, top row first.
const BYTE kDigits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
                             {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 2, 2, 2},
                             {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
constexpr int kCounterDigits = 8;

BYTE Clamp(int v) {
    return static_cast<BYTE>(std::min(255, std::max(0, v)));
}

} // namespace

void RgbToYuv(Rgb c, BYTE& y, BYTE& u, BYTE& v) {
    y = Clamp(((66 * c.r + 129 * c.g + 25 * c.b + 128) >> 8) + 16);
    u = Clamp(((-38 * c.r - 74 * c.g + 112 * c.b + 128) >> 8) + 128);
    v = Clamp(((112 * c.r - 94 * c.g - 18 * c.b + 128) >> 8) + 128);
}

bool operator==(const Look& a, const Look& b) {
    return a.brightness == b.brightness && a.contrast == b.contrast && a.mirror == b.mirror &&
           a.flip == b.flip;
}

Rgb Adjust(Rgb c, const Look& look) {
    auto level = [&look](BYTE v) {
        return Clamp((v - 128) * look.contrast / 100 + 128 + look.brightness);
    };
    return {level(c.r), level(c.g), level(c.b)};
}

bool Pattern::Init(const Format& format, bool topDown, const Look& look) {
    format_ = format;
    look_ = look;
    // YUY2 and NV12 are top-down whatever the sign of their height.
    topDown_ = topDown || format.subtype == Subtype::YUY2 || format.subtype == Subtype::NV12;
    LONG w = format.width;
    LONG h = format.height;
    bandTop_ = std::max<LONG>(1, h * 3 / 4);
    square_ = std::max<LONG>(2, (h - bandTop_) / 2);
    try {
        still_.assign(ImageSize(format), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int i = 0; i < kBarCount; ++i) {
        Fill(still_.data(), w * i / kBarCount, 0, w * (i + 1) / kBarCount, bandTop_, kBars[i]);
    }
    Fill(still_.data(), 0, bandTop_, w, h, kBandColour);
    return true;
}

LONG Pattern::CounterScale() const {
    return std::max<LONG>(1, (format_.height - bandTop_) / 12);
}

LONG Pattern::SquareX(ULONGLONG frame) const {
    // The square runs right of the counter, or across the whole band when there is no room.
    LONG lane = CounterScale() * (2 + 4 * kCounterDigits);
    if (format_.width - lane - square_ <= 0) {
        lane = 0;
    }
    LONG travel = format_.width - lane - square_;
    if (travel <= 0) {
        return 0;
    }
    // At least two pixels a frame, so that even a YUY2 macropixel sees the move.
    ULONGLONG step = static_cast<ULONGLONG>(std::max<LONG>(2, format_.width / 64));
    return lane + static_cast<LONG>(frame * step % static_cast<ULONGLONG>(travel));
}

void Pattern::Render(BYTE* dst, ULONGLONG frame) const {
    memcpy(dst, still_.data(), still_.size());
    LONG bandHeight = format_.height - bandTop_;
    LONG top = bandTop_ + (bandHeight - square_) / 2;
    LONG x = SquareX(frame);
    Fill(dst, x, top, x + square_, top + square_, kWhite);

    // The counter's pixels are `scale` wide, with one blank column between digits.
    LONG scale = CounterScale();
    LONG digitTop = bandTop_ + (bandHeight - 5 * scale) / 2;
    ULONGLONG value = frame;
    for (int d = kCounterDigits - 1; d >= 0; --d) {
        const BYTE* glyph = kDigits[value % 10];
        value /= 10;
        LONG left = scale * (1 + 4 * d);
        for (LONG row = 0; row < 5; ++row) {
            for (LONG col = 0; col < 3; ++col) {
                if (glyph[row] & (4 >> col)) {
                    Fill(dst, left + col * scale, digitTop + row * scale, left + (col + 1) * scale,
                         digitTop + (row + 1) * scale, kWhite);
                }
            }
        }
    }
}

void Pattern::RenderBlack(BYTE* dst) const {
    const size_t size = ImageSize(format_);
    BYTE y, u, v;
    RgbToYuv({0, 0, 0}, y, u, v);
    switch (format_.subtype) {
    case Subtype::YUY2:
        // Rows of whole macropixels: an even width leaves no padding.
        for (size_t i = 0; i + 4 <= size; i += 4) {
            dst[i] = y;
            dst[i + 1] = u;
            dst[i + 2] = y;
            dst[i + 3] = v;
        }
        break;
    case Subtype::NV12: {
        const size_t luma =
            static_cast<size_t>(Stride(format_)) * static_cast<size_t>(format_.height);
        memset(dst, y, luma);
        for (size_t i = luma; i + 2 <= size; i += 2) {
            dst[i] = u;
            dst[i + 1] = v;
        }
        break;
    }
    default:
        memset(dst, 0, size);
        break;
    }
}

BYTE* Pattern::Row(BYTE* image, LONG y) const {
    LONG row = topDown_ ? y : format_.height - 1 - y;
    return image + static_cast<size_t>(row) * Stride(format_);
}

void Pattern::Fill(BYTE* image, LONG x0, LONG y0, LONG x1, LONG y1, Rgb colour) const {
    colour = Adjust(colour, look_);
    if (look_.mirror) {
        std::swap(x0, x1);
        x0 = format_.width - x0;
        x1 = format_.width - x1;
    }
    if (look_.flip) {
        std::swap(y0, y1);
        y0 = format_.height - y0;
        y1 = format_.height - y1;
    }
    x0 = std::max<LONG>(0, x0);
    y0 = std::max<LONG>(0, y0);
    x1 = std::min(format_.width, x1);
    y1 = std::min(format_.height, y1);
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    switch (format_.subtype) {
    case Subtype::RGB24:
        for (LONG y = y0; y < y1; ++y) {
            BYTE* p = Row(image, y) + x0 * 3;
            for (LONG x = x0; x < x1; ++x, p += 3) {
                p[0] = colour.b;
                p[1] = colour.g;
                p[2] = colour.r;
            }
        }
        break;
    case Subtype::RGB32: {
        DWORD pixel =
            colour.b | static_cast<DWORD>(colour.g) << 8 | static_cast<DWORD>(colour.r) << 16;
        for (LONG y = y0; y < y1; ++y) {
            BYTE* p = Row(image, y) + x0 * 4;
            for (LONG x = x0; x < x1; ++x, p += 4) {
                memcpy(p, &pixel, 4);
            }
        }
        break;
    }
    case Subtype::YUY2: {
        // Whole macropixels only: a shape edge snaps to an even column.
        x0 &= ~1L;
        x1 = std::min(format_.width, (x1 + 1) & ~1L);
        BYTE yy, u, v;
        RgbToYuv(colour, yy, u, v);
        const BYTE macro[4] = {yy, u, yy, v};
        for (LONG y = y0; y < y1; ++y) {
            BYTE* p = Row(image, y) + x0 * 2;
            for (LONG x = x0; x < x1; x += 2, p += 4) {
                memcpy(p, macro, 4);
            }
        }
        break;
    }
    case Subtype::NV12: {
        // The luma plane, then the interleaved chroma of each 2 x 2 block.
        x0 &= ~1L;
        y0 &= ~1L;
        x1 = std::min(format_.width, (x1 + 1) & ~1L);
        y1 = std::min(format_.height, (y1 + 1) & ~1L);
        BYTE yy, u, v;
        RgbToYuv(colour, yy, u, v);
        const size_t w = static_cast<size_t>(format_.width);
        for (LONG y = y0; y < y1; ++y) {
            memset(image + static_cast<size_t>(y) * w + static_cast<size_t>(x0), yy,
                   static_cast<size_t>(x1 - x0));
        }
        BYTE* chroma = image + w * static_cast<size_t>(format_.height);
        for (LONG y = y0 / 2; y < y1 / 2; ++y) {
            BYTE* p = chroma + static_cast<size_t>(y) * w + static_cast<size_t>(x0);
            for (LONG x = x0; x < x1; x += 2, p += 2) {
                p[0] = u;
                p[1] = v;
            }
        }
        break;
    }
    case Subtype::MJPG:
        // Drawn as RGB24 and encoded by the pin.
        break;
    }
}

} // namespace testcam
