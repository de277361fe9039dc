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
    std::wstring strNote; // what else happened: the camera's error event, a cancel
};

// The intervals between arrivals (milliseconds, in order): median, 95th percentile (nearest
// rank), longest, and how many exceed 1.5 nominal intervals (none counted without a nominal).
struct CIntervalStats {
    double dMedianMs = 0;
    double dP95Ms = 0;
    double dLongestMs = 0;
    long nLong = 0;
};
CIntervalStats ComputeIntervals(const std::vector<double>& arrivalsMs, double dNominalFps);

// The verdict's limits, as shares of the samples received.
constexpr double kMinRateShare = 0.90;  // measured against nominal
constexpr double kMaxDropShare = 0.05;  // dropped against samples + dropped
constexpr double kMaxBlackShare = 0.10; // black pictures
constexpr double kMaxFrozenShare = 0.10;

// "OK", or the first finding that failed: "did not start", "rate below 90 % of nominal",
// "drops", "bad samples", "black", "frozen"; "cancelled" for a format cut short.
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
