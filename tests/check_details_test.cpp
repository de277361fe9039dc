// The results window's details drawn on made-up rows, read back from the pixels: a malformed
// picture, and the interval plot's stems, gaps, nominal line and stop (where the picture lands
// in its window is pinned end to end).
#include "check/check_details.h"
#include "framework/dib.h"
#include "framework/object.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

// A 32-bit drawing surface whose pixels can be read back, with the windows' font in it.
class CCanvas : private CNoCopy {
public:
    CCanvas(LONG nWidth, LONG nHeight) : m_nWidth(nWidth), m_nHeight(nHeight) {
        BITMAPINFO bmi{};
        bmi.bmiHeader = AfxRgbBitmapHeader(nWidth, -nHeight, 32);
        m_hdc = ::CreateCompatibleDC(nullptr);
        m_hBitmap = ::CreateDIBSection(m_hdc, &bmi, DIB_RGB_COLORS,
                                       reinterpret_cast<void**>(&m_pBits), nullptr, 0);
        m_hOldBitmap = ::SelectObject(m_hdc, m_hBitmap);
        m_hOldFont = ::SelectObject(m_hdc, ::GetStockObject(DEFAULT_GUI_FONT));
    }
    ~CCanvas() {
        ::SelectObject(m_hdc, m_hOldFont);
        ::SelectObject(m_hdc, m_hOldBitmap);
        ::DeleteObject(m_hBitmap);
        ::DeleteDC(m_hdc);
    }

    HDC Dc() const { return m_hdc; }
    RECT Rect() const { return RECT{0, 0, m_nWidth, m_nHeight}; }
    COLORREF At(LONG x, LONG y) const {
        ::GdiFlush();
        return Pixel(x, y);
    }
    // The pixels of that colour within the columns from x0 to x1.
    int Count(COLORREF colour, LONG x0 = 0, LONG x1 = -1) const {
        ::GdiFlush();
        int n = 0;
        for (LONG y = 0; y < m_nHeight; ++y) {
            for (LONG x = x0; x < (x1 < 0 ? m_nWidth : x1); ++x) {
                n += Pixel(x, y) == colour ? 1 : 0;
            }
        }
        return n;
    }

private:
    COLORREF Pixel(LONG x, LONG y) const {
        DWORD c = m_pBits[y * m_nWidth + x];
        return RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
    }

    LONG m_nWidth;
    LONG m_nHeight;
    HDC m_hdc = nullptr;
    HBITMAP m_hBitmap = nullptr;
    HGDIOBJ m_hOldBitmap = nullptr;
    HGDIOBJ m_hOldFont = nullptr;
    DWORD* m_pBits = nullptr;
};

// A picture of blocks of these colours, nColumns wide, top row first.
CThumbnail Picture(LONG nColumns, const std::vector<COLORREF>& colours) {
    CThumbnail thumbnail;
    thumbnail.kind = CThumbnail::Kind::LastGood;
    thumbnail.nWidth = nColumns;
    thumbnail.nHeight = static_cast<LONG>(colours.size()) / nColumns;
    for (COLORREF c : colours) {
        thumbnail.pixels.insert(thumbnail.pixels.end(), {GetBValue(c), GetGValue(c), GetRValue(c)});
    }
    return thumbnail;
}

constexpr COLORREF kRed = RGB(255, 0, 0);

CFormatMeasurement Measured(std::vector<float> intervals, double dNominalFps) {
    CFormatMeasurement row;
    row.strFormat = L"320x240  30.0 RGB24 55296000";
    row.bStarted = true;
    row.dNominalFps = dNominalFps;
    row.dWindowMs = 3000;
    row.intervalsMs = std::move(intervals);
    return row;
}

} // namespace

TEST(CheckDetails, NoOrMalformedPictureDrawsNothingOfIt) {
    CThumbnail shortOne = Picture(2, {kRed, kRed, kRed, kRed});
    shortOne.pixels.pop_back();
    CThumbnail tooLarge = Picture(1, {kRed});
    tooLarge.nWidth = 100000; // a size its pixels do not have
    CThumbnail negative = Picture(1, {kRed});
    negative.nHeight = -1;
    for (const CThumbnail& thumbnail : {CThumbnail(), shortOne, tooLarge, negative}) {
        CCanvas canvas(120, 80);
        DrawThumbnail(canvas.Dc(), canvas.Rect(), thumbnail);
        EXPECT_EQ(0, canvas.Count(kRed));
        EXPECT_GT(canvas.Count(::GetSysColor(COLOR_BTNFACE)), 120 * 80 / 2);
        EXPECT_LT(canvas.Count(::GetSysColor(COLOR_BTNFACE)), 120 * 80) << "says there is none";
    }
}

TEST(CheckDetails, PlotShowsIntervalsGapsTheNominalLineAndTheStop) {
    std::vector<float> steady(90, 33.3f);
    std::vector<float> oneGap = steady;
    oneGap[45] = 150;
    std::vector<float> stopped(60, 33.3f);
    stopped.push_back(1000); // the silence after the last picture
    std::vector<float> clipped = steady;
    clipped[30] = 2000;
    struct {
        const char* pszName;
        CFormatMeasurement row;
        bool bIntervals, bGap, bNominal, bStopped;
        // The gap colour only within these columns (of 400), when there is one.
        LONG x0, x1;
    } cases[] = {
        {"steady at nominal", Measured(steady, 30), true, false, true, false, 0, 400},
        {"one gap halfway", Measured(oneGap, 30), true, true, true, false, 150, 300},
        {"a steady 20 fps against 30: slow, not gappy", Measured(std::vector<float>(60, 50), 30),
         true, false, true, false, 0, 400},
        {"no nominal rate", Measured(steady, 0), true, false, false, false, 0, 400},
        {"a gap far beyond the scale", Measured(clipped, 30), true, true, true, false, 0, 400},
        {"stopped two thirds in", Measured(stopped, 30), true, true, true, true, 220, 400},
        {"did not start", CFormatMeasurement(), false, false, false, false, 0, 400},
    };
    cases[5].row.stopCause = StopCause::Error;
    cases[5].row.dStoppedAtMs = 60 * 33.3;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CCanvas canvas(400, 160);
        DrawIntervalPlot(canvas.Dc(), canvas.Rect(), c.row);
        EXPECT_EQ(c.bIntervals, canvas.Count(kPlotIntervalColour) > 0);
        EXPECT_EQ(c.bGap, canvas.Count(kPlotGapColour) > 0);
        EXPECT_EQ(c.bNominal, canvas.Count(kPlotNominalColour) > 20) << "a line, not a label";
        EXPECT_EQ(c.bStopped, canvas.Count(kPlotStoppedColour) > 0);
        if (c.bGap) {
            EXPECT_EQ(canvas.Count(kPlotGapColour), canvas.Count(kPlotGapColour, c.x0, c.x1))
                << "where in the window";
        }
        if (c.bStopped) {
            EXPECT_EQ(0, canvas.Count(kPlotStoppedColour, 0, 220)) << "before the stop";
            EXPECT_EQ(0, canvas.Count(kPlotIntervalColour, 330, 400)) << "no stem after it";
        }
    }
}
