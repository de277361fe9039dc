// The camera check: its figures, verdict and texts on made-up findings, the black and frozen
// grid on synthetic pictures, and the engine and its runner against real test cameras.
#include "check/camera_check.h"
#include "check/check_report.h"
#include "check/check_window.h"
#include "check/frame_grid.h"

#include "capture/capture_platform.h"

#include <commctrl.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include "support/camera.h"
#include "support/wait.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>

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

// The verdicts of a camera that delivered fewer frames than it promised.
bool IsRateFinding(const std::wstring& verdict) {
    return verdict == L"OK" || verdict == L"drops" || verdict == L"rate below 90 % of nominal";
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

TEST(CheckReport, IntervalStatisticsFromArrivalTimes) {
    struct {
        const char* pszName;
        std::vector<double> arrivals;
        double dNominalFps;
        double dMedian, dP95, dLongest;
        long nLong;
    } cases[] = {
        {"no interval", {}, 30, 0, 0, 0, 0},
        {"one sample", {5}, 30, 0, 0, 0, 0},
        {"even count: the middle two averaged", {0, 10, 30, 60, 100}, 0, 25, 40, 40, 0},
        {"odd count", {0, 10, 20, 50}, 0, 10, 30, 30, 0},
        // 20 intervals of 33 ms and one of 100: the 95th percentile by nearest rank is the
        // 20th of 21 sorted, still 33; one interval beyond 1.5 x 33.3 ms.
        {"one gap", {}, 30, 33, 33, 100, 1},
        {"no nominal: nothing counts as long", {0, 100, 400}, 0, 200, 300, 300, 0},
        {"exactly 1.5 intervals is not long", {0, 50, 100}, 30, 50, 50, 50, 0},
    };
    for (int i = 0; i <= 20; ++i) {
        cases[4].arrivals.push_back(33.0 * i);
    }
    cases[4].arrivals.push_back(33.0 * 20 + 100);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CIntervalStats stats = ComputeIntervals(c.arrivals, c.dNominalFps);
        EXPECT_DOUBLE_EQ(c.dMedian, stats.dMedianMs);
        EXPECT_DOUBLE_EQ(c.dP95, stats.dP95Ms);
        EXPECT_DOUBLE_EQ(c.dLongest, stats.dLongestMs);
        EXPECT_EQ(c.nLong, stats.nLong);
    }
}

TEST(CheckReport, VerdictIsTheFirstFindingThatFails) {
    struct {
        const char* pszName;
        void (*change)(CFormatMeasurement&);
        const wchar_t* pszVerdict;
    } cases[] = {
        {"good", [](CFormatMeasurement&) {}, L"OK"},
        {"not started", [](CFormatMeasurement& r) { r.bStarted = false; }, L"did not start"},
        {"cancelled wins", [](CFormatMeasurement& r) { r.bCancelled = true; }, L"cancelled"},
        {"just at 90 %", [](CFormatMeasurement& r) { r.dMeasuredFps = 27.0; }, L"OK"},
        {"below 90 %", [](CFormatMeasurement& r) { r.dMeasuredFps = 26.9; },
         L"rate below 90 % of nominal"},
        {"no nominal: any rate",
         [](CFormatMeasurement& r) { r.dNominalFps = 0, r.dMeasuredFps = 1; }, L"OK"},
        {"rate before drops", [](CFormatMeasurement& r) { r.dMeasuredFps = 10, r.nDropped = 50; },
         L"rate below 90 % of nominal"},
        // 5 % of samples + dropped: 4 of 95 pass, 5 of 96 fail.
        {"4 dropped", [](CFormatMeasurement& r) { r.nDropped = 4; }, L"OK"},
        {"6 dropped", [](CFormatMeasurement& r) { r.nDropped = 6; }, L"drops"},
        {"one short sample", [](CFormatMeasurement& r) { r.nShort = 1; }, L"bad samples"},
        {"one empty sample", [](CFormatMeasurement& r) { r.nEmpty = 1; }, L"bad samples"},
        {"one oversized", [](CFormatMeasurement& r) { r.nOversized = 1; }, L"bad samples"},
        {"drops before bad", [](CFormatMeasurement& r) { r.nDropped = 20, r.nShort = 3; },
         L"drops"},
        {"9 black of 91", [](CFormatMeasurement& r) { r.nBlack = 9; }, L"OK"},
        {"10 black of 91", [](CFormatMeasurement& r) { r.nBlack = 10; }, L"black"},
        {"bad before black", [](CFormatMeasurement& r) { r.nEmpty = 1, r.nBlack = 50; },
         L"bad samples"},
        {"10 frozen of 91", [](CFormatMeasurement& r) { r.nFrozen = 10; }, L"frozen"},
        {"black before frozen", [](CFormatMeasurement& r) { r.nFrozen = 30, r.nBlack = 30; },
         L"black"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        CFormatMeasurement row = GoodRow();
        c.change(row);
        EXPECT_EQ(Narrow(c.pszVerdict), Narrow(GetVerdict(row)));
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
        CGridLayout layout = GridLayoutOf(c.subtype, bmi);
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
    EXPECT_EQ(0u, GridLayoutOf(MEDIASUBTYPE_MJPG, mjpg).ImageBytes()) << "compressed: decoded";
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
            // A busy machine now and then starves the camera's thread, and it drops frames as a
            // sensor does, counting them itself: the check must measure the rate it delivered,
            // and may fail the format for its rate or its drops.
            if (row.nDropped == 0) {
                EXPECT_EQ("OK", Narrow(GetVerdict(row))) << Narrow(FormatCheckCsv({row}));
            } else {
                EXPECT_TRUE(IsRateFinding(GetVerdict(row))) << Narrow(FormatCheckCsv({row}));
            }
            EXPECT_EQ(NominalSource::MediaType, row.nominalSource);
            EXPECT_NEAR(row.dNominalFps - row.nDropped / 2.0, row.dMeasuredFps,
                        row.dNominalFps * 0.1);
            EXPECT_EQ(0, row.nBlack);
            EXPECT_EQ(0, row.nFrozen) << "the moving square is seen in every format";
            EXPECT_TRUE(row.strNote.empty()) << Narrow(row.strNote);
        }
        // Wine 8's renderer takes RGB only.
        EXPECT_EQ(RendererAnswer::Yes, collector.m_rows[0].renderer);
        EXPECT_EQ(RendererAnswer::No, collector.m_rows[1].renderer);
        EXPECT_EQ("the camera no longer offers the format", Narrow(collector.m_rows[4].strFailure));
        EXPECT_EQ("did not start", Narrow(GetVerdict(collector.m_rows[4])));
    }
    EXPECT_TRUE(CameraReleased()) << "the camera released after the check";

    // A long window cancelled while it measures: the runner ends within a second.
    {
        CCollector collector;
        CCheckRunner runner;
        ASSERT_TRUE(runner.Start(displayName, formats, 30, &collector));
        ASSERT_TRUE(testcam_test::FramesFlow(3)) << "measuring";
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

    // A device that is not there fails at the bind, in words.
    CFormatMeasurement missing = CheckFormat(L"@device:none", formats[0], 1, nullptr, nullptr);
    EXPECT_EQ("the camera is not there", Narrow(missing.strFailure));
    EXPECT_FALSE(missing.bStarted);
}

TEST(CheckWindow, FillsInRowByRowCopiesTheTableAndEscCancelsAndReleasesTheCamera) {
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
        // Both OK, but for a format the busy machine starved: the camera counted the frames it
        // could not deliver, and the check fails it for its rate or its drops.
        int nOk = 0;
        std::vector<std::wstring> lines = Lines(window.TabbedText());
        for (size_t i = 1; i < lines.size(); ++i) {
            std::vector<std::wstring> fields = Fields(lines[i], L'\t');
            ASSERT_EQ(20u, fields.size()) << Narrow(lines[i]);
            if (fields[1] == L"OK") {
                ++nOk;
            } else {
                EXPECT_TRUE(IsRateFinding(fields[1]) && fields[12] == L"camera" &&
                            std::stol(fields[11]) > 0)
                    << Narrow(lines[i]);
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

        // Ctrl+C puts the tab-separated table on the clipboard.
        ::SetFocus(window.Window());
        ::SendMessageW(window.Window(), WM_KEYDOWN, 'C', 0); // no Ctrl held: nothing copied
        BYTE keys[256];
        ::GetKeyboardState(keys);
        BYTE nControl = keys[VK_CONTROL];
        keys[VK_CONTROL] = 0x80;
        ::SetKeyboardState(keys);
        if (::OpenClipboard(nullptr)) {
            ::EmptyClipboard();
            ::CloseClipboard();
        }
        ::SendMessageW(window.Window(), WM_KEYDOWN, 'C', 0);
        keys[VK_CONTROL] = nControl;
        ::SetKeyboardState(keys);
        std::wstring copied;
        if (::OpenClipboard(nullptr)) {
            if (HANDLE hText = ::GetClipboardData(CF_UNICODETEXT)) {
                copied = static_cast<const wchar_t*>(::GlobalLock(hText));
                ::GlobalUnlock(hText);
            }
            ::EmptyClipboard();
            ::CloseClipboard();
        }
        std::wstring expected = window.TabbedText();
        expected = [&] {
            std::wstring crlf;
            for (wchar_t ch : expected) {
                crlf += ch == L'\n' ? L"\r\n" : std::wstring(1, ch);
            }
            return crlf;
        }();
        EXPECT_EQ(Narrow(expected), Narrow(copied));
        EXPECT_EQ("The table is on the clipboard: 2 formats, tab-separated, header first.",
                  Narrow(window.MessageText()));
        ::SendMessageW(window.Window(), WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_TRUE(PumpUntil(
            "Esc closes it", [&] { return !window.IsOpen(); }, 1000));
    }
    EXPECT_TRUE(CameraReleased());

    // Esc in the middle of a long window: closed and the camera released within a second.
    {
        CCheckWindow window;
        ASSERT_TRUE(window.Open(nullptr, displayName, camera.name(), formats, 30));
        ASSERT_TRUE(
            PumpUntil("streaming", [&] { return Stats().threads > 0 && Stats().delivered > 0; }));
        ULONGLONG nEscAt = ::GetTickCount64();
        ::SendMessageW(window.Window(), WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_TRUE(PumpUntil(
            "closed within a second", [&] { return !window.IsOpen(); }, 1000));
        // The window waits for nothing; the check's thread lets the camera go on its own.
        EXPECT_TRUE(PumpUntil(
            "the check's thread ended", [&] { return !window.IsChecking(); }, 1000));
        EXPECT_LE(::GetTickCount64() - nEscAt, 1000u);
        EXPECT_EQ(0, Stats().threads) << "streaming ended";
    }
    EXPECT_TRUE(CameraReleased());

    // The close box the same way, an owner that goes first, and a window destroyed while
    // checking.
    {
        CCheckWindow window;
        ASSERT_TRUE(window.Open(nullptr, displayName, camera.name(), formats, 30));
        ULONGLONG nCloseAt = ::GetTickCount64();
        ::SendMessageW(window.Window(), WM_CLOSE, 0, 0);
        EXPECT_FALSE(window.IsOpen());
        EXPECT_LT(::GetTickCount64() - nCloseAt, 250u) << "closed without waiting";
        // A new check waits until the last one has let the camera go.
        if (window.IsChecking()) {
            EXPECT_FALSE(window.Open(nullptr, displayName, camera.name(), formats, 30));
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

TEST(CheckWindow, OpensWholeOnTheWorkAreaWithTheIconAndKeepsTheFormatColumnInView) {
    ScopedCamera camera(L"RGB24:160x120@30");
    ASSERT_EQ(S_OK, camera.result());
    std::wstring displayName = DisplayNameOf(camera.name());
    std::vector<VideoFormat> formats{Format(160, 120, 30, MEDIASUBTYPE_RGB24, 24)};
    RECT rcWork{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    // Owners at the work area's corners and far beyond it: the window opens whole on it.
    for (POINT at : {POINT{rcWork.left, rcWork.top}, POINT{rcWork.right - 40, rcWork.bottom - 40},
                     POINT{rcWork.right + 500, rcWork.top - 300}}) {
        HWND hOwner = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, at.x, at.y, 320, 240, nullptr,
                                        nullptr, nullptr, nullptr);
        CCheckWindow window;
        ASSERT_TRUE(window.Open(hOwner, displayName, camera.name(), formats, 1));
        RECT rc{};
        ::GetWindowRect(window.Window(), &rc);
        RECT rcBoth{};
        ::UnionRect(&rcBoth, &rc, &rcWork);
        EXPECT_TRUE(::EqualRect(&rcBoth, &rcWork))
            << "owner at " << at.x << "," << at.y << ": " << rc.left << "," << rc.top << " - "
            << rc.right << "," << rc.bottom;
        EXPECT_EQ(hOwner, ::GetWindow(window.Window(), GW_OWNER));
        EXPECT_NE(0, ::SendMessageW(window.Window(), WM_GETICON, ICON_BIG, 0));
        EXPECT_NE(0, ::SendMessageW(window.Window(), WM_GETICON, ICON_SMALL, 0));
        EXPECT_NE(0, ::GetWindowLongW(window.Window(), GWL_STYLE) & WS_THICKFRAME) << "resizable";
        window.Close();
        ::DestroyWindow(hOwner);
        ASSERT_TRUE(PumpUntil("the check's thread ended", [&] { return !window.IsChecking(); }));
    }

    // Narrowed to its least, the row's columns still fit the list: the format stays in view
    // and keeps its width, the others give way.
    CCheckWindow window;
    ASSERT_TRUE(window.Open(nullptr, displayName, camera.name(), formats, 1));
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
