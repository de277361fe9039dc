// The camera check's findings for one format, how they are reduced to a verdict, and the three
// ways they are written out: an aligned table, comma-separated values and tab-separated text.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Where the nominal frame rate came from.
enum class NominalSource { None, MediaType, Capability };
// Who counted the dropped frames.
enum class DropSource { None, Camera, Intervals };
// Whether the platform's video renderer takes the format.
enum class RendererAnswer { Unknown, Yes, No };
// Each way a format can fail, worst first: a verdict lists every one that fails, in this order.
enum class Finding { DidNotStart, Stopped, RateBelow, RateAbove, Drops, BadSamples, Black, Frozen };
// Why a stream ended before its window did.
enum class StopCause { None, Error, Removed, Silent };

// A small picture of one of a format's frames: 24-bit blue-green-red, top row first, rows of
// nWidth * 3 bytes with no padding; empty when there is none.
struct CThumbnail {
    enum class Kind { None, LastGood, Black, Frozen };
    Kind kind = Kind::None;
    LONG nWidth = 0;
    LONG nHeight = 0;
    std::vector<BYTE> pixels;
    // The frame's own size: the grid's points are spread over it, and a picture of them is
    // shown in its shape.
    LONG nFrameWidth = 0;
    LONG nFrameHeight = 0;
};

struct CFormatMeasurement {
    std::wstring strFormat;  // the format list's entry text
    std::wstring strFailure; // the step that failed, in words; empty when it started
    bool bStarted = false;
    bool bCancelled = false;
    double dFirstSampleMs = 0; // Run to the first sample
    long nSamples = 0;         // within the measuring window
    double dMeasuredFps = 0;
    double dNominalFps = 0;
    NominalSource nominalSource = NominalSource::None;
    double dMedianMs = 0;
    double dP95Ms = 0;
    double dLongestMs = 0;
    long nDropped = 0;
    DropSource dropSource = DropSource::None;
    long nShort = 0;
    long nEmpty = 0;
    long nOversized = 0;
    long nBlack = 0;
    long nFrozen = 0;
    RendererAnswer renderer = RendererAnswer::Unknown;
    std::wstring strNote;  // what else happened: the camera's error event, a cancel
    long nUndecodable = 0; // pictures that could not be decoded: bad samples too
    // Pictures whose grid was read (decoded first for MJPG): the black share is of these. 0 in
    // a row made by hand: the samples then.
    long nAnalysed = 0;

    // How the stream ended before the window did, and when: milliseconds from the first
    // picture to the last one it delivered. The rate is then over that time.
    StopCause stopCause = StopCause::None;
    double dStoppedAtMs = 0;
    // The measuring window, and every interval between pictures within it in order, the
    // silence after the last picture last when the stream stopped.
    double dWindowMs = 0;
    std::vector<float> intervalsMs;
    CThumbnail thumbnail;
};

// The intervals of a stream (milliseconds, in order, a trailing silence included): median,
// 95th percentile (nearest rank), longest, and the frames missing against the camera's own
// cadence: an interval longer than 1.5 medians counts round(interval / median) - 1.
struct CIntervalStats {
    double dMedianMs = 0;
    double dP95Ms = 0;
    double dLongestMs = 0;
    long nMissing = 0;
};
CIntervalStats ComputeIntervals(const std::vector<float>& intervalsMs);
// Intervals longer than this many medians are gaps.
constexpr double kGapMedians = 1.5;

// The verdict's limits, as shares of the samples received.
constexpr double kMinRateShare = 0.90; // measured against nominal
constexpr double kMaxRateShare = 1.10;
constexpr double kMaxDropShare = 0.05;  // dropped against samples + dropped
constexpr double kMaxBlackShare = 0.10; // black pictures
constexpr double kMaxFrozenShare = 0.10;

// Every finding that fails, worst first; none for a format that passed or was cancelled.
std::vector<Finding> GetFindings(const CFormatMeasurement& row);
// A finding in words: "did not start", "stopped", "rate below 90 % of nominal", "rate above
// 110 % of nominal", "drops", "bad samples", "black", "frozen".
std::wstring FindingText(Finding finding);
// "OK", "cancelled" for a format cut short, or every failing finding's text, worst first,
// joined by ", ".
std::wstring GetVerdict(const CFormatMeasurement& row);
inline bool IsOk(const CFormatMeasurement& row) {
    return GetVerdict(row) == L"OK";
}

// The aligned table: a header, one line per format, and "15 formats: 13 OK, 2 failed".
std::wstring FormatCheckTable(const std::vector<CFormatMeasurement>& rows);
// A header row and one row per format; fields with commas or quotes are quoted.
std::wstring FormatCheckCsv(const std::vector<CFormatMeasurement>& rows);
// The same columns separated by tabs, header first, for the clipboard.
std::wstring FormatCheckTabbed(const std::vector<CFormatMeasurement>& rows);
// "15 formats: 13 OK, 2 failed"
std::wstring FormatCheckSummary(const std::vector<CFormatMeasurement>& rows);

// Lookwell's version from the running executable's version resource; empty without one.
std::wstring LookwellVersion();

// What a report says besides the rows.
struct CCheckReportInfo {
    std::wstring strDevice;  // the device's name as the list shows it
    std::wstring strVersion; // Lookwell's version, from its version resource
    SYSTEMTIME when{};       // local time of the check
};
// The report a user can send: one self-contained HTML page (UTF-8, no script, nothing beside
// it): the device, the date, the version, the summary, the table, and per format its picture
// (an embedded PNG) and its interval plot (inline SVG).
std::string FormatCheckReportHtml(const CCheckReportInfo& info,
                                  const std::vector<CFormatMeasurement>& rows);
// Writes that page to the path, replacing a file there only once the new one is whole; false
// with the reason in `error` (a device name, a full disk, a folder that cannot be written).
bool WriteCheckReport(const std::wstring& path, const CCheckReportInfo& info,
                      const std::vector<CFormatMeasurement>& rows, std::wstring& error);
