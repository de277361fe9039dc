#include "v4l2cam.h"

#include <string.h>

static const uint8_t kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                    {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
static const uint8_t kBand[3] = {64, 64, 64};
static const uint8_t kWhite[3] = {255, 255, 255};

static void Fill(uint8_t* rgb, unsigned width, unsigned x0, unsigned y0, unsigned x1, unsigned y1,
                 const uint8_t colour[3]) {
    for (unsigned y = y0; y < y1; ++y) {
        uint8_t* p = rgb + ((size_t)y * width + x0) * 3;
        for (unsigned x = x0; x < x1; ++x, p += 3) {
            memcpy(p, colour, 3);
        }
    }
}

void DrawPicture(uint8_t* rgb, unsigned width, unsigned height, uint64_t frame) {
    unsigned bandTop = height * 3 / 4;
    for (unsigned i = 0; i < 8; ++i) {
        Fill(rgb, width, width * i / 8, 0, width * (i + 1) / 8, bandTop, kBars[i]);
    }
    Fill(rgb, width, 0, bandTop, width, height, kBand);
    unsigned side = (height - bandTop) / 2;
    if (side == 0 || side >= width) {
        return;
    }
    /* Steps of 8 pixels keep the square's edges on the JPEG's block grid. */
    unsigned step = width / 64 < 8 ? 8 : width / 64 / 8 * 8;
    unsigned x = (unsigned)(frame * step % (width - side));
    unsigned top = bandTop + (height - bandTop - side) / 2;
    Fill(rgb, width, x, top, x + side, top + side, kWhite);
}

static uint8_t Clamp(int v) {
    return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
}

/* Offsets of 128 << 8 keep the sums non-negative before the shift. */
static uint8_t Luma(const uint8_t* p) {
    return Clamp((77 * p[0] + 150 * p[1] + 29 * p[2] + 128) >> 8);
}
static uint8_t BlueDiff(const uint8_t* p) {
    return Clamp((-43 * p[0] - 85 * p[1] + 128 * p[2] + 32768 + 128) >> 8);
}
static uint8_t RedDiff(const uint8_t* p) {
    return Clamp((128 * p[0] - 107 * p[1] - 21 * p[2] + 32768 + 128) >> 8);
}

void RgbToYuyv(const uint8_t* rgb, unsigned width, unsigned height, uint8_t* yuyv) {
    size_t pairs = (size_t)width * height / 2;
    for (size_t i = 0; i < pairs; ++i, rgb += 6, yuyv += 4) {
        yuyv[0] = Luma(rgb);
        yuyv[1] = (uint8_t)((BlueDiff(rgb) + BlueDiff(rgb + 3) + 1) / 2);
        yuyv[2] = Luma(rgb + 3);
        yuyv[3] = (uint8_t)((RedDiff(rgb) + RedDiff(rgb + 3) + 1) / 2);
    }
}

struct BitWriter {
    uint8_t* out;
    size_t size;
    size_t capacity;
    uint32_t bits;
    int count;
    int overflow;
};

static void PutByte(struct BitWriter* w, uint8_t b) {
    if (w->size >= w->capacity) {
        w->overflow = 1;
        return;
    }
    w->out[w->size++] = b;
}

static void PutBits(struct BitWriter* w, uint32_t value, int length) {
    for (int i = length - 1; i >= 0; --i) {
        w->bits = w->bits << 1 | ((value >> i) & 1);
        if (++w->count == 8) {
            uint8_t b = (uint8_t)w->bits;
            PutByte(w, b);
            if (b == 0xFF) {
                PutByte(w, 0); /* stuffing */
            }
            w->bits = 0;
            w->count = 0;
        }
    }
}

static void PutBytes(struct BitWriter* w, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        PutByte(w, p[i]);
    }
}

/* The standard luminance DC table serves every component; the AC table holds end-of-block
   only, a one-bit code. */
static const uint8_t kDcBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};

static void PutDc(struct BitWriter* w, int diff) {
    static uint16_t codes[12];
    static uint8_t lengths[12];
    if (lengths[0] == 0) {
        uint16_t code = 0;
        int symbol = 0;
        for (int len = 1; len <= 16; ++len, code = (uint16_t)(code << 1)) {
            for (int n = 0; n < kDcBits[len - 1]; ++n, ++code, ++symbol) {
                codes[symbol] = code;
                lengths[symbol] = (uint8_t)len;
            }
        }
    }
    int magnitude = diff < 0 ? -diff : diff;
    int category = 0;
    while (magnitude >> category) {
        ++category;
    }
    PutBits(w, codes[category], lengths[category]);
    if (category > 0) {
        int extra = diff < 0 ? diff + (1 << category) - 1 : diff;
        PutBits(w, (uint32_t)extra, category);
    }
}

size_t EncodeJpeg(const uint8_t* rgb, unsigned width, unsigned height, uint8_t* out,
                  size_t capacity) {
    struct BitWriter w = {out, 0, capacity, 0, 0, 0};
    static const uint8_t kHead[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F',
                                    0,    1,    1,    0,    0, 1,  0,   1,   0,   0};
    PutBytes(&w, kHead, sizeof kHead);
    /* One quantisation table of ones: the block means keep their precision. */
    static const uint8_t kDqt[] = {0xFF, 0xDB, 0, 67, 0};
    PutBytes(&w, kDqt, sizeof kDqt);
    for (int i = 0; i < 64; ++i) {
        PutByte(&w, 1);
    }
    uint8_t sof[] = {0xFF,
                     0xC0,
                     0,
                     17,
                     8,
                     (uint8_t)(height >> 8),
                     (uint8_t)height,
                     (uint8_t)(width >> 8),
                     (uint8_t)width,
                     3,
                     1,
                     0x11,
                     0,
                     2,
                     0x11,
                     0,
                     3,
                     0x11,
                     0};
    PutBytes(&w, sof, sizeof sof);
    static const uint8_t kDhtDc[] = {0xFF, 0xC4, 0, 31, 0x00};
    PutBytes(&w, kDhtDc, sizeof kDhtDc);
    PutBytes(&w, kDcBits, sizeof kDcBits);
    for (uint8_t v = 0; v < 12; ++v) {
        PutByte(&w, v);
    }
    static const uint8_t kDhtAc[] = {0xFF, 0xC4, 0, 20, 0x10, 1, 0, 0, 0, 0, 0,   0,
                                     0,    0,    0, 0,  0,    0, 0, 0, 0, 0, 0x00};
    PutBytes(&w, kDhtAc, sizeof kDhtAc);
    static const uint8_t kSos[] = {0xFF, 0xDA, 0, 12, 3, 1, 0, 2, 0, 3, 0, 0, 63, 0};
    PutBytes(&w, kSos, sizeof kSos);

    int predictions[3] = {0, 0, 0};
    for (unsigned by = 0; by < height; by += 8) {
        for (unsigned bx = 0; bx < width; bx += 8) {
            int sums[3] = {0, 0, 0};
            int n = 0;
            for (unsigned y = by; y < by + 8 && y < height; ++y) {
                for (unsigned x = bx; x < bx + 8 && x < width; ++x, ++n) {
                    const uint8_t* p = rgb + ((size_t)y * width + x) * 3;
                    sums[0] += Luma(p);
                    sums[1] += BlueDiff(p);
                    sums[2] += RedDiff(p);
                }
            }
            for (int c = 0; c < 3; ++c) {
                /* The DC coefficient of level-shifted samples is 8 times their mean. */
                int dc = (8 * sums[c] + n / 2) / n - 1024;
                PutDc(&w, dc - predictions[c]);
                predictions[c] = dc;
                PutBits(&w, 0, 1);
            }
        }
    }
    if (w.count > 0) {
        PutBits(&w, 0x7F, 8 - w.count); /* pad with ones */
    }
    PutByte(&w, 0xFF);
    PutByte(&w, 0xD9);
    return w.overflow ? 0 : w.size;
}
