#include "support/named_case.h"
#include "testcam/pattern.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace testcam;
using testcam_test::CaseName;
using testcam_test::NamedCase;

namespace {

Format Make(Subtype subtype, LONG width, LONG height) {
    Format f;
    f.subtype = subtype;
    f.width = width;
    f.height = height;
    f.frameTime = 333333;
    return f;
}

// The colour at (x, y), y counted from the top of the picture.
Rgb YuvToRgb(BYTE luma, BYTE cb, BYTE cr) {
    double yy = 1.164 * (luma - 16);
    double u = cb - 128.0;
    double v = cr - 128.0;
    auto clamp = [](double c) { return static_cast<BYTE>(c < 0 ? 0 : c > 255 ? 255 : c); };
    return {clamp(yy + 1.596 * v + 0.5), clamp(yy - 0.392 * u - 0.813 * v + 0.5),
            clamp(yy + 2.017 * u + 0.5)};
}

Rgb PixelAt(const Format& f, bool topDown, const std::vector<BYTE>& image, LONG x, LONG y) {
    bool yuv = f.subtype == Subtype::YUY2 || f.subtype == Subtype::NV12;
    LONG row = topDown || yuv ? y : f.height - 1 - y;
    const BYTE* p = image.data() + static_cast<size_t>(row) * Stride(f);
    switch (f.subtype) {
    case Subtype::MJPG:
        return {};
    case Subtype::NV12: {
        const BYTE* chroma = image.data() + Stride(f) * static_cast<size_t>(f.height) +
                             static_cast<size_t>(y / 2) * Stride(f) + (x & ~1L);
        return YuvToRgb(p[x], chroma[0], chroma[1]);
    }
    case Subtype::RGB24:
        p += x * 3;
        return {p[2], p[1], p[0]};
    case Subtype::RGB32:
        p += x * 4;
        return {p[2], p[1], p[0]};
    case Subtype::YUY2: {
        p += (x & ~1L) * 2;
        return YuvToRgb(p[x & 1 ? 2 : 0], p[1], p[3]);
    }
    }
    return {};
}

bool Near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::vector<BYTE> Draw(const Pattern& pattern, ULONGLONG frame) {
    std::vector<BYTE> image(ImageSize(pattern.format()));
    pattern.Render(image.data(), frame);
    return image;
}

struct Case : NamedCase<Case> {
    Subtype subtype;
    bool topDown;
    int tolerance;
};

class PatternBars : public ::testing::TestWithParam<Case> {};

} // namespace

TEST_P(PatternBars, ColoursSitAtTheirPlaces) {
    Format f = Make(GetParam().subtype, 320, 240);
    Pattern pattern;
    ASSERT_TRUE(pattern.Init(f, GetParam().topDown));
    std::vector<BYTE> image = Draw(pattern, 12345);
    for (int i = 0; i < kBarCount; ++i) {
        LONG x = (2 * i + 1) * f.width / (2 * kBarCount);
        Rgb seen = PixelAt(f, GetParam().topDown, image, x, f.height / 3);
        EXPECT_TRUE(Near(kBars[i], seen, GetParam().tolerance))
            << "bar " << i << ": " << int(seen.r) << "," << int(seen.g) << "," << int(seen.b);
    }
    // Under the bars, the band.
    Rgb band = PixelAt(f, GetParam().topDown, image, f.width - 2, f.height - 2);
    EXPECT_TRUE(Near(kBandColour, band, GetParam().tolerance));
}

INSTANTIATE_TEST_SUITE_P(Subtypes, PatternBars,
                         ::testing::Values(Case{{"Rgb24BottomUp"}, Subtype::RGB24, false, 0},
                                           Case{{"Rgb24TopDown"}, Subtype::RGB24, true, 0},
                                           Case{{"Rgb32"}, Subtype::RGB32, false, 0},
                                           Case{{"Yuy2"}, Subtype::YUY2, false, 3},
                                           Case{{"Nv12"}, Subtype::NV12, false, 3}),
                         CaseName());

TEST(Pattern, BottomUpRgbStartsWithTheBottomRow) {
    Format f = Make(Subtype::RGB24, 64, 48);
    Pattern pattern;
    ASSERT_TRUE(pattern.Init(f, false));
    std::vector<BYTE> image = Draw(pattern, 0);
    // The last pixel of the first row in memory is in the band; of the last row, in black.
    const BYTE* first = image.data() + 63 * 3;
    const BYTE* last = image.data() + 47 * Stride(f) + 63 * 3;
    EXPECT_EQ(kBandColour.r, first[2]);
    EXPECT_EQ(0, last[0] | last[1] | last[2]);
}

TEST(Pattern, ConsecutiveFramesDifferBelowTheBarsOnly) {
    for (Subtype s : {Subtype::RGB24, Subtype::RGB32, Subtype::YUY2}) {
        Format f = Make(s, 160, 120);
        Pattern pattern;
        ASSERT_TRUE(pattern.Init(f, true));
        std::vector<BYTE> a = Draw(pattern, 41);
        std::vector<BYTE> b = Draw(pattern, 42);
        size_t barsBytes = static_cast<size_t>(pattern.BandTop()) * Stride(f);
        EXPECT_EQ(0, memcmp(a.data(), b.data(), barsBytes));
        EXPECT_NE(0, memcmp(a.data() + barsBytes, b.data() + barsBytes, a.size() - barsBytes));
    }
}

TEST(Pattern, SquareMovesEveryFrameAndWraps) {
    Pattern pattern;
    ASSERT_TRUE(pattern.Init(Make(Subtype::YUY2, 160, 120), false));
    for (ULONGLONG frame = 0; frame < 200; ++frame) {
        LONG x = pattern.SquareX(frame);
        EXPECT_GE(x, 0);
        EXPECT_LE(x, 160);
        if (pattern.SquareX(frame + 1) > x) {
            EXPECT_GE(pattern.SquareX(frame + 1) - x, 2);
        } else {
            EXPECT_NE(pattern.SquareX(frame + 1), x);
        }
    }
}

TEST(Pattern, OddSizesStayInsideTheImage) {
    const Format formats[] = {Make(Subtype::RGB24, 161, 121),  Make(Subtype::RGB32, 1, 1),
                              Make(Subtype::YUY2, 2, 3),       Make(Subtype::RGB24, 7, 2),
                              Make(Subtype::YUY2, 1922, 1081), Make(Subtype::NV12, 2, 2),
                              Make(Subtype::NV12, 642, 482)};
    for (const Format& f : formats) {
        Pattern pattern;
        ASSERT_TRUE(pattern.Init(f, false));
        const size_t size = ImageSize(f);
        std::vector<BYTE> image(size + 64, 0xA5);
        for (ULONGLONG frame : {0ull, 7ull, 99999999ull}) {
            pattern.Render(image.data(), frame);
        }
        for (size_t i = size; i < image.size(); ++i) {
            ASSERT_EQ(0xA5, image[i]) << f.width << "x" << f.height;
        }
    }
}
