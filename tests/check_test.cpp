// The camera check: its figures, verdict and texts on made-up findings, the black and frozen
// grid on synthetic pictures, and the engine and its runner against real test cameras.
#include "check/camera_check.h"
#include "check/check_report.h"
#include "check/check_window.h"
#include "check/frame_grid.h"

#include "capture/capture_platform.h"

#include <commctrl.h>
#include <uuids.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include "support/camera.h"
#include "support/wait.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

using testcam_test::CameraReleased;
using testcam_test::PumpUntil;
using testcam_test::ScopedCamera;
using testcam_test::Stats;

namespace {

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// A line's fields between separators.
std::vector<std::wstring> Fields(const std::wstring& line, wchar_t separator) {
    std::vector<std::wstring> fields(1);
    for (wchar_t ch : line) {
        if (ch == separator) {
            fields.emplace_back();
        } else {
            fields.back() += ch;
        }
    }
    return fields;
}

// A list control's cell, in this process.
std::wstring ListText(HWND hList, int nItem, int nColumn) {
    wchar_t sz[512] = L"";
    LVITEMW item{};
    item.iSubItem = nColumn;
    item.pszText = sz;
    item.cchTextMax = 512;
    ::SendMessageW(hList, LVM_GETITEMTEXTW, static_cast<WPARAM>(nItem),
                   reinterpret_cast<LPARAM>(&item));
    return sz;
}

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t nAt = 0;
    for (size_t nEnd; (nEnd = text.find(L'\n', nAt)) != std::wstring::npos; nAt = nEnd + 1) {
        lines.push_back(text.substr(nAt, nEnd - nAt));
    }
    return lines;
}

// The verdicts of a camera that delivered fewer frames than it promised: its rate, its drops
// or both.
bool IsRateFinding(const std::wstring& verdict) {
    return verdict == L"OK" || verdict == L"drops" || verdict == L"rate below 90 % of nominal" ||
           verdict == L"rate below 90 % of nominal, drops";
}

CFormatMeasurement GoodRow() {
    CFormatMeasurement row;
    row.strFormat = L"640x480  30.0 RGB24 221184000";
    row.bStarted = true;
    row.nSamples = 91;
    row.dMeasuredFps = 30.0;
    row.dNominalFps = 30.0;
    row.nominalSource = NominalSource::MediaType;
    row.dropSource = DropSource::Camera;
    return row;
}

} // namespace

TEST(CheckReport, IntervalStatisticsCountGapsAgainstTheCamerasOwnCadence) {
    auto steady = [](float fMs, int n) { return std::vector<float>(static_cast<size_t>(n), fMs); };
    struct {
        const char* pszName;
        std::vector<float> intervals;
        double dMedian, dP95, dLongest;
        long nMissing;
    } cases[] = {
        {"no interval", {}, 0, 0, 0, 0},
        {"even count: the middle two averaged", {10, 20, 30, 40}, 25, 40, 40, 1},
        {"odd count; a gap of three intervals", {10, 10, 30}, 10, 30, 30, 2},
        // 20 intervals of 33 ms and one of 100: the 95th percentile by nearest rank is the
        // 20th of 21 sorted, still 33; the gap is three intervals, two frames missing.
        {"one gap of three intervals", {}, 33, 33, 100, 2},
        {"exactly 1.5 medians is no gap", {50, 50, 75}, 50, 75, 75, 0},
        {"just over 1.5 medians: one missing", {50, 50, 76}, 50, 76, 76, 1},
        // A steady camera at 20 fps against a nominal 30: its own cadence has no gaps.
        {"steady but slower than nominal", steady(50, 40), 50, 50, 50, 0},
        // Stopped after a second of a three-second window: the silence is a gap too.
        {"the trailing silence of a stopped camera", {}, 33.3, 33.3, 2000, 59},
    };
    cases[3].intervals = steady(33, 20);
    cases[3].intervals.push_back(100);
    cases[7].intervals = steady(33.3f, 30);
    cases[7].intervals.push_back(2000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CIntervalStats stats = ComputeIntervals(c.intervals);
        EXPECT_NEAR(c.dMedian, stats.dMedianMs, 1e-4);
        EXPECT_NEAR(c.dP95, stats.dP95Ms, 1e-4);
        EXPECT_NEAR(c.dLongest, stats.dLongestMs, 1e-4);
        EXPECT_EQ(c.nMissing, stats.nMissing);
    }
}

TEST(CheckReport, EveryFindingHasItsOwnLimitAndAllAreListedWorstFirst) {
    struct {
        const char* pszName;
        void (*change)(CFormatMeasurement&);
        const wchar_t* pszVerdict;
    } cases[] = {
        {"good", [](CFormatMeasurement&) {}, L"OK"},
        {"not started: nothing else counts",
         [](CFormatMeasurement& r) { r.bStarted = false, r.nBlack = 91; }, L"did not start"},
        {"cancelled wins", [](CFormatMeasurement& r) { r.bCancelled = true, r.nEmpty = 3; },
         L"cancelled"},
        {"just at 90 %", [](CFormatMeasurement& r) { r.dMeasuredFps = 27.0; }, L"OK"},
        {"below 90 %", [](CFormatMeasurement& r) { r.dMeasuredFps = 26.9; },
         L"rate below 90 % of nominal"},
        {"just at 110 %", [](CFormatMeasurement& r) { r.dMeasuredFps = 33.0; }, L"OK"},
        {"three times nominal", [](CFormatMeasurement& r) { r.dMeasuredFps = 90; },
         L"rate above 110 % of nominal"},
        {"no nominal: any rate",
         [](CFormatMeasurement& r) { r.dNominalFps = 0, r.dMeasuredFps = 1; }, L"OK"},
        // An error, a removal and a silence each stop the stream; its rate over the time it
        // delivered can still be fine.
        {"stopped with an error", [](CFormatMeasurement& r) { r.stopCause = StopCause::Error; },
         L"stopped"},
        {"removed", [](CFormatMeasurement& r) { r.stopCause = StopCause::Removed; }, L"stopped"},
        {"silent", [](CFormatMeasurement& r) { r.stopCause = StopCause::Silent; }, L"stopped"},
        // 5 % of samples + dropped: 4 of 95 pass, 5 of 96 fail.
        {"4 dropped", [](CFormatMeasurement& r) { r.nDropped = 4; }, L"OK"},
        {"5 dropped", [](CFormatMeasurement& r) { r.nDropped = 5; }, L"drops"},
        {"one short sample", [](CFormatMeasurement& r) { r.nShort = 1; }, L"bad samples"},
        {"one empty sample", [](CFormatMeasurement& r) { r.nEmpty = 1; }, L"bad samples"},
        {"one oversized", [](CFormatMeasurement& r) { r.nOversized = 1; }, L"bad samples"},
        {"one undecodable picture", [](CFormatMeasurement& r) { r.nUndecodable = 1; },
         L"bad samples"},
        {"9 black of 91", [](CFormatMeasurement& r) { r.nBlack = 9; }, L"OK"},
        {"10 black of 91", [](CFormatMeasurement& r) { r.nBlack = 10; }, L"black"},
        // Of the pictures analysed, when a decoder saw only some of them.
        {"5 black of 40 analysed", [](CFormatMeasurement& r) { r.nBlack = 5, r.nAnalysed = 40; },
         L"black"},
        {"9 frozen of 91", [](CFormatMeasurement& r) { r.nFrozen = 9; }, L"OK"},
        {"10 frozen of 91", [](CFormatMeasurement& r) { r.nFrozen = 10; }, L"frozen"},
        // A slow camera with every fourth picture black: both, the rate first.
        {"slow and black",
         [](CFormatMeasurement& r) { r.dMeasuredFps = 12, r.nSamples = 37, r.nBlack = 9; },
         L"rate below 90 % of nominal, black"},
        {"everything at once, worst first",
         [](CFormatMeasurement& r) {
             r.stopCause = StopCause::Silent, r.dMeasuredFps = 10, r.nDropped = 50, r.nShort = 1;
             r.nBlack = 30, r.nFrozen = 30;
         },
         L"stopped, rate below 90 % of nominal, drops, bad samples, black, frozen"},
        {"undecodable stream above nominal",
         [](CFormatMeasurement& r) { r.dMeasuredFps = 40, r.nUndecodable = 91; },
         L"rate above 110 % of nominal, bad samples"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CFormatMeasurement row = GoodRow();
        c.change(row);
        EXPECT_EQ(Narrow(c.pszVerdict), Narrow(GetVerdict(row)));
        EXPECT_EQ(GetVerdict(row) == L"OK", IsOk(row));
    }
}

TEST(CheckReport, TableCsvAndTabbedTextCarryTheSameRows) {
    CFormatMeasurement good = GoodRow();
    good.dFirstSampleMs = 12.26;
    good.dMedianMs = 33.3;
    good.dP95Ms = 38.04;
    good.dLongestMs = 40;
    good.renderer = RendererAnswer::Yes;
    CFormatMeasurement refused;
    refused.strFormat = L"320x240  60.0 YUY2 73728000";
    refused.strFailure = L"the camera refused the format";
    refused.dNominalFps = 60;
    refused.nominalSource = NominalSource::Capability;
    refused.renderer = RendererAnswer::No;
    CFormatMeasurement noted = GoodRow();
    noted.strFormat = L"a,\"quoted\"\tname";
    noted.nBlack = 91;
    noted.dropSource = DropSource::Intervals;
    noted.nDropped = 2;
    noted.strNote = L"one, two";
    std::vector<CFormatMeasurement> rows{good, refused, noted};

    const char* const expected[] = {
        "format,verdict,start,first ms,samples,fps,nominal,from,median ms,p95 ms,longest ms,"
        "dropped,counted by,short,empty,oversized,black,frozen,renderer,note",
        "640x480  30.0 RGB24 221184000,OK,yes,12.3,91,30.00,30.00,media type,33.3,38.0,40.0,0,"
        "camera,0,0,0,0,0,yes,",
        "320x240  60.0 YUY2 73728000,did not start,the camera refused the format,-,-,-,60.00,"
        "capability,-,-,-,-,-,-,-,-,-,-,no,",
        "\"a,\"\"quoted\"\"\tname\",black,yes,0.0,91,30.00,30.00,media type,0.0,0.0,0.0,2,"
        "intervals,0,0,0,91,0,-,\"one, two\""};
    std::vector<std::wstring> csv = Lines(FormatCheckCsv(rows));
    ASSERT_EQ(std::size(expected), csv.size());
    for (size_t i = 0; i < csv.size(); ++i) {
        EXPECT_EQ(expected[i], Narrow(csv[i])) << "line " << i;
    }

    // Tab-separated: the same fields, tabs inside a field turned into spaces.
    std::vector<std::wstring> tabbed = Lines(FormatCheckTabbed(rows));
    ASSERT_EQ(4u, tabbed.size());
    for (const std::wstring& line : tabbed) {
        EXPECT_EQ(19u, static_cast<size_t>(std::count(line.begin(), line.end(), L'\t')))
            << Narrow(line);
    }
    EXPECT_EQ(0u, tabbed[3].find(L"a,\"quoted\" name\tblack\t"));

    // The table: the header, a line per row, every column starting where the header's does,
    // and the summary line last.
    std::vector<std::wstring> table = Lines(FormatCheckTable(rows));
    ASSERT_EQ(5u, table.size());
    EXPECT_EQ("3 formats: 1 OK, 2 failed", Narrow(table[4]));
    size_t nVerdictColumn = table[0].find(L"verdict");
    size_t nStartColumn = table[0].find(L"start");
    EXPECT_EQ(nVerdictColumn, table[1].find(L"OK"));
    EXPECT_EQ(nVerdictColumn, table[2].find(L"did not start"));
    EXPECT_EQ(nStartColumn, table[2].find(L"the camera refused"));
    EXPECT_EQ(table[0].find(L"samples") + 7, table[1].find(L" 91 ") + 3)
        << "figures are right-aligned under their header";
    EXPECT_EQ("1 format: 1 OK, 0 failed", Narrow(FormatCheckSummary({good})));
    EXPECT_EQ("0 formats: 0 OK, 0 failed", Narrow(Lines(FormatCheckTable({})).back()));
}

TEST(FrameGrid, ReadsEveryLayoutTheRightWayUpAndTellsBlackAndRepeatedPictures) {
    struct {
        const char* pszName;
        GUID subtype;
        LONG nWidth, nHeight; // the header's; a negative RGB height is top-down
        WORD nBits;
        size_t nBytes;
    } cases[] = {
        {"RGB24 bottom-up, rows padded", MEDIASUBTYPE_RGB24, 161, 120, 24, 484 * 120},
        {"RGB24 top-down", MEDIASUBTYPE_RGB24, 320, -240, 24, 960 * 240},
        {"RGB32 bottom-up", MEDIASUBTYPE_RGB32, 640, 480, 32, 2560 * 480},
        {"YUY2, top-down whatever the sign", MEDIASUBTYPE_YUY2, 320, 240, 16, 640 * 240},
        {"NV12", MEDIASUBTYPE_NV12, 1920, 1080, 12, 1920 * 1080 * 3 / 2},
        {"a grid as large as the picture", MEDIASUBTYPE_RGB24, 8, 4, 24, 24 * 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        BITMAPINFOHEADER bmi{};
        bmi.biSize = sizeof(bmi);
        bmi.biWidth = c.nWidth;
        bmi.biHeight = c.nHeight;
        bmi.biBitCount = c.nBits;
        CPixelLayout layout = PixelLayoutOf(c.subtype, bmi);
        ASSERT_EQ(c.nBytes, layout.ImageBytes());
        LONG nHeight = c.nHeight < 0 ? -c.nHeight : c.nHeight;
        bool bYuv = c.subtype == MEDIASUBTYPE_YUY2 || c.subtype == MEDIASUBTYPE_NV12;
        size_t nPixel = c.subtype == MEDIASUBTYPE_RGB32  ? 4
                        : c.subtype == MEDIASUBTYPE_YUY2 ? 2
                        : bYuv                           ? 1
                                                         : 3;
        // Black in the format's own terms: studio black for YUV.
        std::vector<BYTE> image(c.nBytes, bYuv ? 16 : 0);
        if (bYuv) {
            std::fill(image.begin() + static_cast<std::ptrdiff_t>(layout.nStride) * nHeight,
                      image.end(),
                      128); // chroma
        }
        std::vector<BYTE> grid;
        ASSERT_TRUE(ReadGrid(layout, image.data(), image.size(), grid));
        LONG nColumns = std::min<LONG>(c.nWidth, kGridColumns);
        ASSERT_EQ(static_cast<size_t>(nColumns) *
                      static_cast<size_t>(std::min<LONG>(nHeight, kGridRows)),
                  grid.size());
        EXPECT_TRUE(IsBlackGrid(grid));

        // A white block over the picture's top left cell lights the grid's first point and no
        // other: the picture's top is where the layout says it is.
        // The first point sits at half a cell; the next one a whole cell further.
        LONG nCellW = c.nWidth / (2 * nColumns) + 1;
        LONG nCellH = nHeight / (2 * std::min<LONG>(nHeight, kGridRows)) + 1;
        for (LONG y = 0; y < nCellH; ++y) {
            LONG nRow = layout.bBottomUp ? nHeight - 1 - y : y;
            for (LONG x = 0; x < nCellW; ++x) {
                std::memset(&image[static_cast<size_t>(nRow) * static_cast<size_t>(layout.nStride) +
                                   static_cast<size_t>(x) * nPixel],
                            235, c.subtype == MEDIASUBTYPE_YUY2 ? 1 : nPixel);
            }
        }
        std::vector<BYTE> lit;
        ASSERT_TRUE(ReadGrid(layout, image.data(), image.size(), lit));
        EXPECT_GT(lit[0], kBlackLevel);
        EXPECT_EQ(lit.size() - 1,
                  static_cast<size_t>(std::count_if(lit.begin(), lit.end(),
                                                    [](BYTE n) { return n <= kBlackLevel; })));
        EXPECT_FALSE(IsBlackGrid(lit));
        EXPECT_NE(grid, lit) << "a changed picture is not frozen";
        std::vector<BYTE> again;
        ASSERT_TRUE(ReadGrid(layout, image.data(), image.size(), again));
        EXPECT_EQ(lit, again) << "the same picture gives the same grid";

        // A sample one byte short is not read.
        std::vector<BYTE> untouched = lit;
        EXPECT_FALSE(ReadGrid(layout, image.data(), image.size() - 1, untouched));
        EXPECT_EQ(lit, untouched);
    }
    BITMAPINFOHEADER mjpg{};
    mjpg.biWidth = 640;
    mjpg.biHeight = 480;
    EXPECT_EQ(0u, PixelLayoutOf(MEDIASUBTYPE_MJPG, mjpg).ImageBytes()) << "compressed: decoded";
    std::vector<BYTE> grid;
    EXPECT_FALSE(IsBlackGrid(grid)) << "no picture is no black picture";
}

namespace {

// Collects what the runner reports, from its thread.
class CCollector : public ICheckListener {
public:
    void OnFormatStarted(size_t, size_t, const std::wstring&, DWORD) override { ++m_nStarted; }
    void OnRowDone(size_t, const CFormatMeasurement& row) override {
        ::EnterCriticalSection(&m_lock);
        m_rows.push_back(row);
        ::LeaveCriticalSection(&m_lock);
    }
    void OnCheckFinished(bool bCancelled) override {
        m_bCancelled = bCancelled;
        m_bFinished = true;
    }
    CCollector() { ::InitializeCriticalSection(&m_lock); }
    ~CCollector() { ::DeleteCriticalSection(&m_lock); }

    CRITICAL_SECTION m_lock;
    std::vector<CFormatMeasurement> m_rows;
    std::atomic<int> m_nStarted{0};
    std::atomic<bool> m_bFinished{false};
    std::atomic<bool> m_bCancelled{false};
};

std::wstring DisplayNameOf(const std::wstring& friendlyName) {
    CComRef<IMoniker> pMoniker;
    *pMoniker.Out() = testcam_test::FindDevice(friendlyName);
    return pMoniker != nullptr ? std::wstring(GetMonikerName(pMoniker)) : std::wstring();
}

VideoFormat Format(LONG nWidth, LONG nHeight, double dFps, const GUID& subtype, WORD nBits) {
    LONGLONG nFrameTime = static_cast<LONGLONG>(1e7 / dFps + 0.5);
    auto nBitRate = static_cast<DWORD>(static_cast<double>(nWidth) * nHeight * nBits * dFps + 0.5);
    return VideoFormat{nWidth, nHeight, nFrameTime, nBitRate, subtype};
}

} // namespace

TEST(CameraCheck, RunnerMeasuresEachFormatCancelsWithinASecondAndReleasesTheCamera) {
    ScopedCamera camera(L"RGB24:320x240@30,YUY2:320x240@15,NV12:320x240@30,MJPG:320x240@30");
    ASSERT_EQ(S_OK, camera.result());
    std::wstring displayName = DisplayNameOf(camera.name());
    ASSERT_FALSE(displayName.empty());
    std::vector<VideoFormat> formats{
        Format(320, 240, 30, MEDIASUBTYPE_RGB24, 24), Format(320, 240, 15, MEDIASUBTYPE_YUY2, 16),
        Format(320, 240, 30, MEDIASUBTYPE_NV12, 12), Format(320, 240, 30, MEDIASUBTYPE_MJPG, 24),
        Format(640, 480, 30, MEDIASUBTYPE_RGB24, 24)};
    {
        CCollector collector;
        CCheckRunner runner;
        ASSERT_TRUE(runner.Start(displayName, formats, 2, &collector));
        EXPECT_FALSE(runner.Start(displayName, formats, 1, &collector)) << "one at a time";
        ASSERT_TRUE(runner.Wait(120000));
        ASSERT_TRUE(collector.m_bFinished);
        EXPECT_FALSE(collector.m_bCancelled);
        ASSERT_EQ(5u, collector.m_rows.size());
        EXPECT_EQ(5, collector.m_nStarted);
        for (size_t i = 0; i < 4; ++i) {
            const CFormatMeasurement& row = collector.m_rows[i];
            SCOPED_TRACE(Narrow(row.strFormat));
            EXPECT_EQ(DropSource::Camera, row.dropSource);
            // A busy machine now and then starves the camera's thread: it drops frames as a
            // sensor does, counting them, and delivers others late. The check may then fail the
            // format for its rate or its drops; what it measured lies between the nominal rate
            // and what a loaded machine still delivers of it, counting those dropped.
            EXPECT_TRUE(IsRateFinding(GetVerdict(row))) << Narrow(FormatCheckCsv({row}));
            EXPECT_EQ(NominalSource::MediaType, row.nominalSource);
            EXPECT_LE(row.dMeasuredFps, row.dNominalFps * 1.1);
            EXPECT_GE(row.dMeasuredFps + row.nDropped / 2.0, row.dNominalFps * 0.8)
                << Narrow(FormatCheckCsv({row}));
            EXPECT_EQ(0, row.nBlack);
            EXPECT_EQ(0, row.nFrozen) << "the moving square is seen in every format";
            EXPECT_EQ(StopCause::None, row.stopCause);
            if (i == 3) {
                EXPECT_NE(std::wstring::npos, row.strNote.find(L"new pictures decoded"))
                    << Narrow(row.strNote);
                EXPECT_GT(row.nAnalysed, 0);
            } else {
                EXPECT_TRUE(row.strNote.empty()) << Narrow(row.strNote);
                EXPECT_EQ(row.nSamples, row.nAnalysed) << "every picture analysed";
            }
            // The figures the window and the report need, once per format.
            EXPECT_EQ(static_cast<size_t>(row.nSamples - 1), row.intervalsMs.size());
            EXPECT_EQ(CThumbnail::Kind::LastGood, row.thumbnail.kind);
            EXPECT_EQ(320, row.thumbnail.nFrameWidth);
            EXPECT_EQ(static_cast<size_t>(row.thumbnail.nWidth * row.thumbnail.nHeight * 3),
                      row.thumbnail.pixels.size());
        }
        // Wine 8's renderer takes RGB only.
        EXPECT_EQ(RendererAnswer::Yes, collector.m_rows[0].renderer);
        EXPECT_EQ(RendererAnswer::No, collector.m_rows[1].renderer);
        EXPECT_EQ("the camera no longer offers the format", Narrow(collector.m_rows[4].strFailure));
        EXPECT_EQ("did not start", Narrow(GetVerdict(collector.m_rows[4])));
    }
    EXPECT_TRUE(CameraReleased()) << "the camera released after the check";

    // A long window cancelled while it measures: the runner ends within a second, also while a
    // picture larger than the decoder keeps up with is being decoded and more wait.
    ScopedCamera mjpgCamera(L"MJPG:1920x1080@30");
    ASSERT_EQ(S_OK, mjpgCamera.result());
    struct {
        std::wstring strDisplayName;
        std::vector<VideoFormat> formats;
    } cancels[] = {
        {displayName, formats},
        {DisplayNameOf(mjpgCamera.name()), {Format(1920, 1080, 30, MEDIASUBTYPE_MJPG, 24)}}};
    for (const auto& c : cancels) {
        SCOPED_TRACE(Narrow(c.strDisplayName));
        {
            CCollector collector;
            CCheckRunner runner;
            ASSERT_TRUE(runner.Start(c.strDisplayName, c.formats, 30, &collector));
            ASSERT_TRUE(testcam_test::FramesFlow(5)) << "measuring";
            ULONGLONG nCancelAt = ::GetTickCount64();
            runner.Cancel();
            EXPECT_TRUE(runner.Wait(1000)) << "cancelled within a second";
            EXPECT_LE(::GetTickCount64() - nCancelAt, 1000u);
            EXPECT_TRUE(collector.m_bCancelled);
            ASSERT_EQ(1u, collector.m_rows.size());
            EXPECT_EQ("cancelled", Narrow(GetVerdict(collector.m_rows[0])));
            EXPECT_EQ(0, Stats().threads) << "streaming ended";
        }
        EXPECT_TRUE(CameraReleased()) << "the camera released after a cancel";
    }

    // A device that is not there fails at the bind, in words.
    CFormatMeasurement missing = CheckFormat(L"@device:none", formats[0], 1, nullptr, nullptr);
    EXPECT_EQ("the camera is not there", Narrow(missing.strFailure));
    EXPECT_FALSE(missing.bStarted);
}

TEST(CheckWindow, FillsInRowByRowAndClosingCancelsAndReleasesTheCamera) {
    ScopedCamera camera(L"RGB24:160x120@30,YUY2:160x120@30");
    ASSERT_EQ(S_OK, camera.result());
    std::wstring displayName = DisplayNameOf(camera.name());
    std::vector<VideoFormat> formats{Format(160, 120, 30, MEDIASUBTYPE_RGB24, 24),
                                     Format(160, 120, 30, MEDIASUBTYPE_YUY2, 16)};
    {
        CCheckWindow window;
        ASSERT_TRUE(window.Open(nullptr, displayName, camera.name(), formats, 2));
        EXPECT_FALSE(window.Open(nullptr, displayName, camera.name(), formats, 2));
        ASSERT_TRUE(window.IsOpen());
        // The progress names the format being measured and the time left.
        EXPECT_TRUE(PumpUntil("the first format measured", [&] {
            return window.ProgressText().find(L"Measuring 160x120  30.0 RGB24") == 0;
        })) << Narrow(window.ProgressText());
        EXPECT_NE(std::wstring::npos, window.ProgressText().find(L"(format 1 of 2), about "));
        ASSERT_TRUE(
            PumpUntil("the first row", [&] { return Lines(window.TabbedText()).size() == 2; }));
        EXPECT_TRUE(window.IsChecking()) << "the second format is still to come";
        ASSERT_TRUE(PumpUntil("the check's end", [&] { return !window.IsChecking(); }));
        ASSERT_TRUE(
            PumpUntil("the summary", [&] { return window.ProgressText().find(L"Done: ") == 0; }));
        // Both OK, but for a format the busy machine starved: the check fails it for its rate or
        // its drops.
        int nOk = 0;
        std::vector<std::wstring> lines = Lines(window.TabbedText());
        for (size_t i = 1; i < lines.size(); ++i) {
            std::vector<std::wstring> fields = Fields(lines[i], L'\t');
            ASSERT_EQ(20u, fields.size()) << Narrow(lines[i]);
            if (fields[1] == L"OK") {
                ++nOk;
            } else {
                EXPECT_TRUE(IsRateFinding(fields[1])) << Narrow(lines[i]);
            }
        }
        EXPECT_EQ("Done: 2 formats: " + std::to_string(nOk) + " OK, " + std::to_string(2 - nOk) +
                      " failed",
                  Narrow(window.ProgressText()));
        // The list shows the same rows, format and verdict first; the details the newest row.
        HWND hList = ::GetDlgItem(window.Window(), kCheckListId);
        ASSERT_EQ(2, ::SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < 2; ++i) {
            std::vector<std::wstring> fields = Fields(lines[static_cast<size_t>(i) + 1], L'\t');
            EXPECT_EQ(Narrow(fields[0]), Narrow(ListText(hList, i, 0)));
            EXPECT_EQ(Narrow(fields[1]), Narrow(ListText(hList, i, 1)));
        }
        HWND hFigures = ::GetDlgItem(window.Window(), kCheckFiguresId);
        EXPECT_EQ("format", Narrow(ListText(hFigures, 0, 0)));
        EXPECT_EQ("160x120  30.0 YUY2 9216000", Narrow(ListText(hFigures, 0, 1)));

        ::SendMessageW(window.Window(), WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_TRUE(PumpUntil(
            "Esc closes it", [&] { return !window.IsOpen(); }, 1000));
    }
    EXPECT_TRUE(CameraReleased());

    // The close box in the middle of a long window, an owner that goes first, and a window
    // destroyed while checking.
    {
        CCheckWindow window;
        ASSERT_TRUE(window.Open(nullptr, displayName, camera.name(), formats, 30));
        ULONGLONG nCloseAt = ::GetTickCount64();
        ::SendMessageW(window.Window(), WM_CLOSE, 0, 0);
        EXPECT_FALSE(window.IsOpen());
        // Within the second the close box is allowed, not after the 30 s window.
        EXPECT_LT(::GetTickCount64() - nCloseAt, 1000u) << "closed without waiting";
        // A new check waits until the last one has let the camera go. The last one may end
        // between the two calls (a busy machine): then the new one starts, and is closed again.
        if (window.IsChecking() && window.Open(nullptr, displayName, camera.name(), formats, 30)) {
            ::SendMessageW(window.Window(), WM_CLOSE, 0, 0);
        }
        ASSERT_TRUE(PumpUntil(
            "the check's thread ended", [&] { return !window.IsChecking(); }, 1000));
        HWND hOwner = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                        nullptr, nullptr);
        ASSERT_TRUE(window.Open(hOwner, displayName, camera.name(), formats, 30));
        ASSERT_TRUE(
            PumpUntil("streaming", [&] { return Stats().delivered > 0 && Stats().threads > 0; }));
        ::DestroyWindow(hOwner);
        EXPECT_FALSE(window.IsOpen());
        EXPECT_TRUE(PumpUntil(
            "the check ended with its window", [&] { return !window.IsChecking(); }, 1000));
        // Its cancelled row and its end came after the window: freed, not posted.
        MSG msg;
        EXPECT_FALSE(::PeekMessageW(&msg, nullptr, WM_APP, WM_APP + 0x100, PM_NOREMOVE))
            << "nothing posted after the window went";
        ASSERT_TRUE(window.Open(nullptr, displayName, camera.name(), formats, 30));
    }
    EXPECT_TRUE(CameraReleased());
}

namespace {

// A colour of the thumbnail near the expected one: the YUV formats and JPEG round their
// colours a little.
bool NearColour(const BYTE* pBgr, BYTE r, BYTE g, BYTE b, int nTolerance) {
    return std::abs(pBgr[2] - r) <= nTolerance && std::abs(pBgr[1] - g) <= nTolerance &&
           std::abs(pBgr[0] - b) <= nTolerance;
}

// The test camera's bars, left to right: white, yellow, cyan, green, magenta, red, blue, black.
const BYTE kBarColours[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

// What of the bars along the thumbnail's top row is not where it belongs.
std::string MisplacedBars(const CThumbnail& thumbnail, int nTolerance) {
    std::string misplaced;
    if (thumbnail.nWidth < 8 || thumbnail.pixels.empty()) {
        return "no picture";
    }
    for (LONG i = 0; i < 8; ++i) {
        LONG x = thumbnail.nWidth * (2 * i + 1) / 16;
        const BYTE* p = &thumbnail.pixels[static_cast<size_t>(x) * 3];
        if (!NearColour(p, kBarColours[i][0], kBarColours[i][1], kBarColours[i][2], nTolerance)) {
            misplaced += "bar " + std::to_string(i) + " is " + std::to_string(p[2]) + "," +
                         std::to_string(p[1]) + "," + std::to_string(p[0]) + "; ";
        }
    }
    return misplaced;
}

} // namespace

// How a stream ends, each way told apart: the camera's error, a removal, a silence with no word
// (the stall of a driver whose read never completes); and the picture each format keeps, in
// its own colours whatever the pixel format.
TEST(CameraCheck, TellsEachWayAStreamEndsAndKeepsAPictureOfItsFinding) {
    enum class Act { None, Remove };
    struct {
        const char* pszName;
        const wchar_t* pszFormat;
        GUID subtype;
        WORD nBits;
        const wchar_t* pszOptions;
        Act act;
        StopCause cause;
        const wchar_t* pszNote; // a part of the note
        CThumbnail::Kind kind;
        int nColourTolerance; // for the bars; negative: the picture is black
    } cases[] = {
        {"an error event late in the window", L"RGB24:320x240@30", MEDIASUBTYPE_RGB24, 24,
         L"stopafter=45", Act::None, StopCause::Error, L"the camera stopped with an error after",
         CThumbnail::Kind::LastGood, 4},
        {"a silence with no word", L"YUY2:320x240@30", MEDIASUBTYPE_YUY2, 16, L"stallafter=45",
         Act::None, StopCause::Silent, L"no picture after", CThumbnail::Kind::LastGood, 12},
        {"unplugged late in the window", L"NV12:320x240@30", MEDIASUBTYPE_NV12, 12, L"",
         Act::Remove, StopCause::Removed, L"the camera was removed after",
         CThumbnail::Kind::LastGood, 12},
        {"a covered lens", L"RGB32:320x240@30", MEDIASUBTYPE_RGB32, 32, L"black=1", Act::None,
         StopCause::None, L"", CThumbnail::Kind::Black, -1},
        {"a JPEG camera", L"MJPG:320x240@30", MEDIASUBTYPE_MJPG, 24, L"", Act::None,
         StopCause::None, L"new pictures decoded", CThumbnail::Kind::LastGood, 24},
        {"a JPEG camera repeating its pictures", L"MJPG:320x240@30", MEDIASUBTYPE_MJPG, 24,
         L"frozen=4", Act::None, StopCause::None, L"new pictures decoded",
         CThumbnail::Kind::LastGood, 24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        auto pCamera = std::make_unique<ScopedCamera>(c.pszFormat, c.pszOptions);
        ASSERT_EQ(S_OK, pCamera->result());
        std::wstring displayName = DisplayNameOf(pCamera->name());
        CCollector collector;
        {
            CCheckRunner runner;
            ULONGLONG nStart = ::GetTickCount64();
            ASSERT_TRUE(runner.Start(displayName, {Format(320, 240, 30, c.subtype, c.nBits)}, 2,
                                     &collector));
            if (c.act == Act::Remove) {
                // Well into the window, counted in the camera's own frames, with time left for
                // its twice-a-second look at its entry under load.
                ASSERT_TRUE(testcam_test::FramesFlow(36));
                ASSERT_EQ(S_OK, testcam_test::CameraInstall(FALSE, pCamera->name()));
            }
            ASSERT_TRUE(runner.Wait(2000 + kFormatBoundMs)) << "the format ends within its bound";
            EXPECT_LE(::GetTickCount64() - nStart, 2000 + kFormatBoundMs);
        }
        pCamera.reset();
        EXPECT_TRUE(CameraReleased());
        ASSERT_EQ(1u, collector.m_rows.size());
        const CFormatMeasurement& row = collector.m_rows[0];
        std::string csv = Narrow(FormatCheckCsv({row}));
        EXPECT_EQ(c.cause, row.stopCause) << csv;
        EXPECT_NE(std::wstring::npos, row.strNote.find(c.pszNote)) << csv;
        std::vector<Finding> findings = GetFindings(row);
        if (c.cause != StopCause::None) {
            ASSERT_FALSE(findings.empty());
            EXPECT_EQ(Finding::Stopped, findings[0]) << csv;
            // The rate is over the time it delivered, not the whole window; the silence after
            // the last picture is the record's last interval.
            EXPECT_GT(row.dStoppedAtMs, 1000) << csv;
            EXPECT_LT(row.dStoppedAtMs, 2000) << csv; // later on a machine that starves it
            EXPECT_NEAR((row.nSamples - 1) * 1000.0 / row.dStoppedAtMs, row.dMeasuredFps, 0.01);
            ASSERT_EQ(static_cast<size_t>(row.nSamples), row.intervalsMs.size());
            EXPECT_NEAR(2000 - row.dStoppedAtMs, row.intervalsMs.back(), 1) << csv;
            EXPECT_GE(row.dLongestMs, row.intervalsMs.back() - 0.01);
        } else if (c.kind == CThumbnail::Kind::Black) {
            EXPECT_NE(findings.end(), std::find(findings.begin(), findings.end(), Finding::Black));
        }
        if (c.subtype == MEDIASUBTYPE_MJPG) {
            // Repeats told from their bytes; the decoder keeps up with 320 x 240 here.
            EXPECT_GT(row.nAnalysed, 0) << csv;
            EXPECT_EQ(0, row.nUndecodable) << csv;
            bool bFrozenCamera = std::wcsstr(c.pszOptions, L"frozen") != nullptr;
            if (bFrozenCamera) {
                EXPECT_NEAR(row.nSamples * 3 / 4, row.nFrozen, 6) << csv;
            } else {
                EXPECT_EQ(0, row.nFrozen) << csv;
            }
        }
        // One picture, once, in its frame's shape, of the kind the finding asks for.
        EXPECT_EQ(c.kind, row.thumbnail.kind);
        EXPECT_EQ(320, row.thumbnail.nFrameWidth);
        EXPECT_EQ(240, row.thumbnail.nFrameHeight);
        ASSERT_EQ(static_cast<size_t>(row.thumbnail.nWidth * row.thumbnail.nHeight * 3),
                  row.thumbnail.pixels.size());
        if (c.nColourTolerance < 0) {
            EXPECT_TRUE(std::all_of(row.thumbnail.pixels.begin(), row.thumbnail.pixels.end(),
                                    [](BYTE n) { return n <= kBlackLevel; }));
        } else {
            EXPECT_EQ("", MisplacedBars(row.thumbnail, c.nColourTolerance));
        }
    }
}

namespace {

// A thumbnail of the test camera's bars, as the sink keeps one.
CThumbnail BarsThumbnail(LONG nWidth, LONG nHeight) {
    CThumbnail thumbnail;
    thumbnail.kind = CThumbnail::Kind::LastGood;
    thumbnail.nWidth = nWidth;
    thumbnail.nHeight = nHeight;
    thumbnail.nFrameWidth = 640;
    thumbnail.nFrameHeight = 480;
    for (LONG y = 0; y < nHeight; ++y) {
        for (LONG x = 0; x < nWidth; ++x) {
            const BYTE* pRgb = kBarColours[x * 8 / nWidth];
            thumbnail.pixels.insert(thumbnail.pixels.end(), {pRgb[2], pRgb[1], pRgb[0]});
        }
    }
    return thumbnail;
}

size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

std::vector<BYTE> FromBase64(const std::string& text) {
    static const std::string kDigits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<BYTE> bytes;
    unsigned nBits = 0;
    int nHave = 0;
    for (char ch : text) {
        size_t n = kDigits.find(ch);
        if (n == std::string::npos) {
            break; // the padding
        }
        nBits = (nBits << 6) | static_cast<unsigned>(n);
        if ((nHave += 6) >= 8) {
            nHave -= 8;
            bytes.push_back(static_cast<BYTE>(nBits >> nHave));
        }
    }
    return bytes;
}

// A PNG decoded by the platform: its size and 24-bit rows, top first.
bool DecodePng(const std::vector<BYTE>& png, UINT& nWidth, UINT& nHeight, std::vector<BYTE>& bgr) {
    CComRef<IWICImagingFactory> pFactory;
    CComRef<IWICStream> pStream;
    CComRef<IWICBitmapDecoder> pDecoder;
    CComRef<IWICBitmapFrameDecode> pFrame;
    CComRef<IWICFormatConverter> pConverter;
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, pFactory.Out())) ||
        FAILED(pFactory->CreateStream(&pStream)) ||
        FAILED(pStream->InitializeFromMemory(const_cast<BYTE*>(png.data()),
                                             static_cast<DWORD>(png.size()))) ||
        FAILED(pFactory->CreateDecoder(GUID_ContainerFormatPng, nullptr, &pDecoder)) ||
        FAILED(pDecoder->Initialize(pStream, WICDecodeMetadataCacheOnDemand)) ||
        FAILED(pDecoder->GetFrame(0, &pFrame)) ||
        FAILED(pFactory->CreateFormatConverter(&pConverter)) ||
        FAILED(pConverter->Initialize(pFrame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                      nullptr, 0, WICBitmapPaletteTypeCustom)) ||
        FAILED(pConverter->GetSize(&nWidth, &nHeight))) {
        return false;
    }
    bgr.resize(static_cast<size_t>(nWidth) * nHeight * 3);
    return SUCCEEDED(
        pConverter->CopyPixels(nullptr, nWidth * 3, static_cast<UINT>(bgr.size()), bgr.data()));
}

// Rows for a report: a good format, one that stopped, one that never started.
std::vector<CFormatMeasurement> ReportRows() {
    CFormatMeasurement good = GoodRow();
    good.dWindowMs = 3000;
    good.intervalsMs.assign(89, 33.3f);
    good.intervalsMs.insert(good.intervalsMs.begin() + 40, 100.0f); // a gap of two frames
    good.dMedianMs = 33.3;
    good.thumbnail = BarsThumbnail(128, 72);
    CFormatMeasurement stopped = GoodRow();
    stopped.strFormat = L"320x240  30.0 YUY2 36864000";
    stopped.stopCause = StopCause::Removed;
    stopped.dStoppedAtMs = 1000;
    stopped.dWindowMs = 3000;
    stopped.nSamples = 31;
    stopped.intervalsMs.assign(30, 33.3f);
    stopped.intervalsMs.push_back(2000);
    stopped.dMedianMs = 33.3;
    stopped.thumbnail = BarsThumbnail(128, 72);
    stopped.strNote = L"the camera was removed after 1.00 s";
    CFormatMeasurement refused;
    refused.strFormat = L"1920x1080  30.0 RGB24 1492992000";
    refused.strFailure = L"the camera refused the format";
    return {good, stopped, refused};
}

CCheckReportInfo ReportInfo() {
    CCheckReportInfo info;
    info.strDevice = L"Cam <A> & \"B\" \x00E9t\x00E9";
    info.strVersion = L"1.2.3";
    info.when = SYSTEMTIME{2026, 12, 2, 8, 14, 30, 5, 0};
    return info;
}

} // namespace

// The report: one page with nothing beside it: no script, no file or address it loads, the
// device's name as text, and per format a table row, and for each that started its picture (a
// PNG that decodes to the thumbnail) and its interval plot with the nominal line, the gaps and
// the stop.
TEST(CheckReport, IsOneSelfContainedPageWithARowAPictureAndAPlotPerFormat) {
    std::vector<CFormatMeasurement> rows = ReportRows();
    std::string html = FormatCheckReportHtml(ReportInfo(), rows);
    EXPECT_EQ(0u, html.find("<!DOCTYPE html>"));
    EXPECT_NE(std::string::npos, html.find("<meta charset=\"utf-8\">"));
    EXPECT_EQ(std::string::npos, html.find("<script"));
    EXPECT_EQ(std::string::npos, html.find("href="));
    EXPECT_EQ(CountOf(html, " src=\""), CountOf(html, " src=\"data:image/png;base64,"));
    EXPECT_EQ(std::string::npos, html.find("<A>")) << "the name is text, not markup";
    EXPECT_NE(std::string::npos, html.find("Cam &lt;A&gt; &amp; &quot;B&quot; \xC3\xA9t\xC3\xA9"));
    EXPECT_NE(std::string::npos, html.find("2026-12-08 14:30"));
    EXPECT_NE(std::string::npos, html.find("Lookwell 1.2.3"));
    EXPECT_NE(std::string::npos, html.find("3 formats: 1 OK, 2 failed"));

    // The table: a header and a row per format, every column, the verdicts marked.
    EXPECT_EQ(rows.size() + 1, CountOf(html, "<tr>"));
    EXPECT_EQ(20u, CountOf(html, "<th"));
    EXPECT_EQ(20 * rows.size(), CountOf(html, "<td"));
    EXPECT_EQ(1u, CountOf(html, "class=\"t pass\">OK<"));
    EXPECT_EQ(1u, CountOf(html, "class=\"t fail\">stopped<"));
    EXPECT_EQ(1u, CountOf(html, "class=\"t fail\">did not start<"));

    // A picture and a plot for each format that started.
    EXPECT_EQ(3u, CountOf(html, "<section class=\"format\""));
    EXPECT_EQ(2u, CountOf(html, "<img class=\"picture\""));
    EXPECT_EQ(2u, CountOf(html, "<svg class=\"plot\""));
    EXPECT_EQ(2u, CountOf(html, "class=\"nominal\""));
    EXPECT_EQ(1u, CountOf(html, "class=\"stopped\""));
    EXPECT_NE(std::string::npos, html.find(">removed</text>"));
    // The gap of the first format and the silence of the second.
    EXPECT_EQ(2u, CountOf(html, "class=\"gap\""));
    // In the frame's shape: 640 x 480 shown 192 x 144.
    EXPECT_EQ(2u, CountOf(html, "width=\"192\" height=\"144\""));
    for (size_t at = html.find("base64,"); at != std::string::npos;
         at = html.find("base64,", at + 1)) {
        size_t end = html.find('"', at);
        UINT nWidth = 0;
        UINT nHeight = 0;
        std::vector<BYTE> bgr;
        ASSERT_TRUE(DecodePng(FromBase64(html.substr(at + 7, end - at - 7)), nWidth, nHeight, bgr));
        EXPECT_EQ(128u, nWidth);
        EXPECT_EQ(72u, nHeight);
        CThumbnail decoded = BarsThumbnail(128, 72);
        decoded.pixels = bgr;
        EXPECT_EQ("", MisplacedBars(decoded, 0));
    }
}

TEST(CheckReport, IsWrittenAsideAndSwappedInAndNeverToADevice) {
    std::vector<CFormatMeasurement> rows = ReportRows();
    wchar_t szFolder[MAX_PATH];
    ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, szFolder));
    std::wstring path = std::wstring(szFolder) + L"lookwell-report-" +
                        std::to_wstring(::GetCurrentProcessId()) + L".html";
    auto read = [&] {
        std::string text;
        HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        if (hFile != INVALID_HANDLE_VALUE) {
            char buffer[65536];
            DWORD nRead = 0;
            while (::ReadFile(hFile, buffer, sizeof(buffer), &nRead, nullptr) && nRead > 0) {
                text.append(buffer, nRead);
            }
            ::CloseHandle(hFile);
        }
        return text;
    };
    std::wstring error;
    // An older file of that name is replaced whole.
    ASSERT_TRUE(WriteCheckReport(path, ReportInfo(), {rows[2]}, error)) << Narrow(error);
    ASSERT_TRUE(WriteCheckReport(path, ReportInfo(), rows, error)) << Narrow(error);
    EXPECT_EQ(FormatCheckReportHtml(ReportInfo(), rows), read());
    ::DeleteFileW(path.c_str());

    for (const wchar_t* pszPath : {L"NUL.html", L"C:\\no such folder\\report.html"}) {
        SCOPED_TRACE(Narrow(pszPath));
        error.clear();
        EXPECT_FALSE(WriteCheckReport(pszPath, ReportInfo(), rows, error));
        EXPECT_FALSE(error.empty());
    }
}

// The report opened in a real browser, by tests/check_report_browser.sh (which skips without
// Chromium): one case writes a report of real checks where the script says, Chromium
// photographs it, the other reads the photograph back.
namespace {

std::wstring ReportFolder() {
    wchar_t szFolder[MAX_PATH] = L"";
    DWORD n = ::GetEnvironmentVariableW(L"LOOKWELL_REPORT_DIR", szFolder, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(szFolder) + L"\\" : std::wstring();
}

// Formats checked one after the other into one list of rows.
void CheckInto(const std::wstring& formats, const std::wstring& options,
               const std::vector<VideoFormat>& records, std::vector<CFormatMeasurement>& rows) {
    ScopedCamera camera(formats, options);
    ASSERT_EQ(S_OK, camera.result());
    CCollector collector;
    {
        CCheckRunner runner;
        ASSERT_TRUE(runner.Start(DisplayNameOf(camera.name()), records, 2, &collector));
        ASSERT_TRUE(runner.Wait(static_cast<DWORD>(records.size()) * (2000 + kFormatBoundMs)));
    }
    rows.insert(rows.end(), collector.m_rows.begin(), collector.m_rows.end());
}

// A run of the bars left to right from (x, y), each bar at least nBar pixels wide.
bool BarsStartAt(const std::vector<BYTE>& bgr, UINT nWidth, UINT x, UINT y, UINT nBar) {
    for (UINT i = 0; i < 8; ++i) {
        for (UINT dx = 2; dx + 2 < nBar; dx += 4) {
            UINT px = x + i * nBar + dx;
            if (px >= nWidth) {
                return false;
            }
            const BYTE* p = &bgr[(static_cast<size_t>(y) * nWidth + px) * 3];
            if (!NearColour(p, kBarColours[i][0], kBarColours[i][1], kBarColours[i][2], 40)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

TEST(ReportInBrowser, WritesAReportOfRealChecks) {
    std::wstring folder = ReportFolder();
    if (folder.empty()) {
        GTEST_SKIP() << "run by tests/check_report_browser.sh";
    }
    std::vector<CFormatMeasurement> rows;
    CheckInto(L"RGB24:640x480@30,YUY2:320x240@30,MJPG:320x240@30", L"",
              {Format(640, 480, 30, MEDIASUBTYPE_RGB24, 24),
               Format(320, 240, 30, MEDIASUBTYPE_YUY2, 16),
               Format(320, 240, 30, MEDIASUBTYPE_MJPG, 24)},
              rows);
    CheckInto(L"NV12:320x240@30", L"stallafter=35", {Format(320, 240, 30, MEDIASUBTYPE_NV12, 12)},
              rows);
    EXPECT_TRUE(CameraReleased());
    ASSERT_EQ(4u, rows.size());
    EXPECT_EQ(StopCause::Silent, rows[3].stopCause);
    CCheckReportInfo info;
    info.strDevice = L"Lookwell Test Camera";
    info.strVersion = LookwellVersion();
    ::GetLocalTime(&info.when);
    std::wstring error;
    ASSERT_TRUE(WriteCheckReport(folder + L"report.html", info, rows, error)) << Narrow(error);
}

TEST(ReportInBrowser, ShowsEveryPictureAndEveryPlotWithItsNominalLineAndTheStop) {
    std::wstring folder = ReportFolder();
    if (folder.empty()) {
        GTEST_SKIP() << "run by tests/check_report_browser.sh";
    }
    std::vector<BYTE> png;
    {
        HANDLE hFile = ::CreateFileW((folder + L"page.png").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hFile) << "no screenshot";
        png.resize(::GetFileSize(hFile, nullptr));
        DWORD nRead = 0;
        ::ReadFile(hFile, png.data(), static_cast<DWORD>(png.size()), &nRead, nullptr);
        ::CloseHandle(hFile);
    }
    UINT nWidth = 0;
    UINT nHeight = 0;
    std::vector<BYTE> bgr;
    ASSERT_TRUE(DecodePng(png, nWidth, nHeight, bgr));
    auto at = [&](UINT x, UINT y) { return &bgr[(static_cast<size_t>(y) * nWidth + x) * 3]; };
    // The pictures: 192 pixels wide, so bars of 24; each found once, at its top left.
    std::vector<POINT> pictures;
    for (UINT y = 0; y < nHeight; ++y) {
        for (UINT x = 0; x + 192 <= nWidth; ++x) {
            bool bKnown = std::any_of(pictures.begin(), pictures.end(), [&](const POINT& pt) {
                return x + 200 > static_cast<UINT>(pt.x) && x < static_cast<UINT>(pt.x) + 200 &&
                       y + 200 > static_cast<UINT>(pt.y) && y < static_cast<UINT>(pt.y) + 200;
            });
            if (!bKnown && BarsStartAt(bgr, nWidth, x, y, 24)) {
                pictures.push_back(POINT{static_cast<LONG>(x), static_cast<LONG>(y)});
            }
        }
    }
    EXPECT_EQ(4u, pictures.size()) << "the bars of every format's picture";
    // The plots' nominal lines: rows with much of their colour, three a plot (a stop's line may
    // cross them); the stop's line standing across the stalled format's plot.
    // Lines (rows, or columns) with at least nLeast pixels of that colour.
    auto lines = [&](bool bRows, BYTE r, BYTE g, BYTE b, UINT nLeast) {
        size_t nLines = 0;
        for (UINT i = 0; i < (bRows ? nHeight : nWidth); ++i) {
            UINT nCount = 0;
            for (UINT j = 0; j < (bRows ? nWidth : nHeight); ++j) {
                nCount += NearColour(bRows ? at(j, i) : at(i, j), r, g, b, 6) ? 1u : 0u;
            }
            nLines += nCount >= nLeast ? 1u : 0u;
        }
        return nLines;
    };
    EXPECT_EQ(4u * 3, lines(true, 0x00, 0x66, 0xcc, 300)) << "a nominal line in every plot";
    EXPECT_EQ(3u, lines(false, 0xe0, 0x70, 0x00, 100)) << "the stop of the stalled format";
}

TEST(CheckWindow, HasTheIconAndKeepsTheFormatColumnInView) {
    ScopedCamera camera(L"RGB24:160x120@30");
    ASSERT_EQ(S_OK, camera.result());
    std::wstring displayName = DisplayNameOf(camera.name());
    std::vector<VideoFormat> formats{Format(160, 120, 30, MEDIASUBTYPE_RGB24, 24)};
    // Where it opens beside its owner is pinned end to end.
    CCheckWindow window;
    ASSERT_TRUE(window.Open(nullptr, displayName, camera.name(), formats, 1));
    EXPECT_NE(0, ::SendMessageW(window.Window(), WM_GETICON, ICON_BIG, 0));
    EXPECT_NE(0, ::SendMessageW(window.Window(), WM_GETICON, ICON_SMALL, 0));
    EXPECT_NE(0, ::GetWindowLongW(window.Window(), GWL_STYLE) & WS_THICKFRAME) << "resizable";
    // Narrowed to its least, the row's columns still fit the list: the format stays in view
    // and keeps its width, the others give way.
    HWND hList = ::GetDlgItem(window.Window(), kCheckListId);
    ASSERT_TRUE(
        PumpUntil("the row", [&] { return ::SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0); }));
    auto widths = [&] {
        std::vector<int> all;
        for (WPARAM i = 0; ::SendMessageW(hList, LVM_GETCOLUMNWIDTH, i, 0) > 0; ++i) {
            all.push_back(static_cast<int>(::SendMessageW(hList, LVM_GETCOLUMNWIDTH, i, 0)));
        }
        return all;
    };
    int nFormatText = static_cast<int>(::SendMessageW(
        hList, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(L"160x120  30.0 RGB24 13824000")));
    for (int nWidth : {2000, 900, 560}) {
        ::SetWindowPos(window.Window(), nullptr, 0, 0, nWidth, 500, SWP_NOMOVE | SWP_NOZORDER);
        RECT rcList{};
        ::GetClientRect(hList, &rcList);
        std::vector<int> columns = widths();
        ASSERT_EQ(9u, columns.size());
        int nSum = 0;
        for (int nColumn : columns) {
            nSum += nColumn;
        }
        EXPECT_LE(nSum, rcList.right) << "window " << nWidth << " wide";
        EXPECT_GT(columns[0], nFormatText) << "window " << nWidth << " wide";
        EXPECT_EQ(0, ::GetWindowLongW(hList, GWL_STYLE) & WS_HSCROLL) << "no scrolling sideways";
    }
}
