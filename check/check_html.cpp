// The check's report: one HTML page with nothing beside it, its pictures as embedded PNG and its
// plots as inline SVG, so that a user can send one file.
#include "check/check_report.h"

#include "framework/files.h"
#include "framework/version_info.h"
#include "media/image_encoder.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    int nBytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(nBytes, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                          nBytes, nullptr, nullptr);
    return out;
}

// Text as HTML takes it, in content and in quoted attributes alike.
std::string Html(const std::wstring& text) {
    std::string out;
    for (char ch : Utf8(text)) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += ch;
        }
    }
    return out;
}

std::string Base64(const std::vector<BYTE>& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned n = static_cast<unsigned>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) {
            n |= static_cast<unsigned>(bytes[i + 1]) << 8;
        }
        if (i + 2 < bytes.size()) {
            n |= bytes[i + 2];
        }
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

std::string Number(double dValue, int nDecimals) {
    char sz[64];
    std::snprintf(sz, sizeof(sz), "%.*f", nDecimals, dValue);
    return sz;
}

// The plot's colours, which the report's own test reads back from a screenshot.
constexpr const char* kNominalColour = "#0066cc";
constexpr const char* kGapColour = "#d40000";
constexpr const char* kStopColour = "#e07000";
constexpr int kPlotWidth = 480;
constexpr int kPlotHeight = 160;
constexpr int kPlotLeft = 48; // room for the axis's figures
constexpr int kPlotBottom = 20;

// A coordinate on a pixel's centre: a line three pixels wide then covers three whole pixels.
double Crisp(double d) {
    return std::floor(d) + 0.5;
}

// The frame intervals over the window: each interval a point at the time it ended, the
// nominal interval a line, gaps (longer than 1.5 medians) in red, and where the stream stopped
// a line and the rest of the window shaded.
std::string IntervalPlot(const CFormatMeasurement& row) {
    const double dNominalMs = row.dNominalFps > 0 ? 1000.0 / row.dNominalFps : 0;
    const double dReference = dNominalMs > 0 ? dNominalMs : row.dMedianMs;
    double dLongest = 0;
    double dTotal = 0;
    for (float f : row.intervalsMs) {
        dLongest = std::max<double>(dLongest, f);
        dTotal += f;
    }
    const double dWindow = std::max(row.dWindowMs, dTotal);
    // Tall enough for three nominal intervals; anything longer stands at the top with its
    // figure.
    double dTop = std::max({3 * dReference, std::min(dLongest, 8 * dReference), 1.0});
    const int nW = kPlotWidth - kPlotLeft - 8;
    const int nH = kPlotHeight - kPlotBottom - 8;
    auto x = [&](double dMs) { return kPlotLeft + (dWindow > 0 ? dMs / dWindow : 0) * nW; };
    auto y = [&](double dMs) { return 8 + nH - std::min(dMs, dTop) / dTop * nH; };
    std::string svg = "<svg class=\"plot\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      std::to_string(kPlotWidth) + "\" height=\"" + std::to_string(kPlotHeight) +
                      "\" role=\"img\" aria-label=\"frame intervals over the window\">";
    svg += "<rect x=\"" + std::to_string(kPlotLeft) + "\" y=\"8\" width=\"" + std::to_string(nW) +
           "\" height=\"" + std::to_string(nH) + "\" fill=\"#ffffff\" stroke=\"#999999\"/>";
    if (row.stopCause != StopCause::None) {
        double dStop = x(row.dStoppedAtMs);
        svg += "<rect class=\"stopped\" x=\"" + Number(dStop, 1) + "\" y=\"8\" width=\"" +
               Number(kPlotLeft + nW - dStop, 1) + "\" height=\"" + std::to_string(nH) +
               "\" fill=\"#fbe3cf\"/>";
    }
    std::string points;
    std::string gaps;
    double dAt = 0;
    for (float f : row.intervalsMs) {
        dAt += f;
        std::string point = Number(x(dAt), 1) + "," + Number(y(f), 1);
        points += point + " ";
        if (row.dMedianMs > 0 && f > kGapMedians * row.dMedianMs) {
            gaps += "<line class=\"gap\" x1=\"" + Number(x(dAt), 1) + "\" y1=\"" +
                    std::to_string(8 + nH) + "\" x2=\"" + Number(x(dAt), 1) + "\" y2=\"" +
                    Number(y(f), 1) + "\" stroke=\"" + kGapColour + "\" stroke-width=\"3\"/>";
            if (f > dTop) {
                gaps += "<text x=\"" + Number(x(dAt) - 3, 1) + "\" y=\"20\" font-size=\"11\" " +
                        "text-anchor=\"end\" fill=\"" + kGapColour + "\">" + Number(f, 0) +
                        " ms</text>";
            }
        }
    }
    svg += gaps;
    if (!points.empty()) {
        svg += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"#333333\" " +
               "stroke-width=\"1\"/>";
    }
    if (dNominalMs > 0) {
        // Over the intervals, which lie on it when the camera keeps its rate.
        double dLine = Crisp(y(dNominalMs));
        svg += "<line class=\"nominal\" x1=\"" + std::to_string(kPlotLeft) + "\" y1=\"" +
               Number(dLine, 1) + "\" x2=\"" + std::to_string(kPlotLeft + nW) + "\" y2=\"" +
               Number(dLine, 1) + "\" stroke=\"" + kNominalColour + "\" stroke-width=\"3\"/>";
        svg += "<text x=\"" + std::to_string(kPlotLeft + nW - 4) + "\" y=\"" +
               Number(y(dNominalMs) - 4, 1) + "\" font-size=\"11\" text-anchor=\"end\" fill=\"" +
               kNominalColour + "\">nominal " + Number(dNominalMs, 1) + " ms</text>";
    }
    if (row.stopCause != StopCause::None) {
        double dStop = Crisp(x(row.dStoppedAtMs));
        svg += "<line x1=\"" + Number(dStop, 1) + "\" y1=\"8\" x2=\"" + Number(dStop, 1) +
               "\" y2=\"" + std::to_string(8 + nH) + "\" stroke=\"" + kStopColour +
               "\" stroke-width=\"3\"/>";
        const char* pszWord = row.stopCause == StopCause::Removed ? "removed" : "stopped";
        svg += "<text x=\"" + Number(dStop + 4, 1) + "\" y=\"22\" font-size=\"11\" fill=\"" +
               kStopColour + "\">" + pszWord + "</text>";
    }
    // The axes' figures: milliseconds up, seconds along.
    svg += "<text x=\"" + std::to_string(kPlotLeft - 4) + "\" y=\"" + std::to_string(8 + nH) +
           "\" font-size=\"11\" text-anchor=\"end\">0</text>";
    svg += "<text x=\"" + std::to_string(kPlotLeft - 4) + "\" y=\"18\" font-size=\"11\" " +
           "text-anchor=\"end\">" + Number(dTop, 0) + " ms</text>";
    svg += "<text x=\"" + std::to_string(kPlotLeft) + "\" y=\"" + std::to_string(kPlotHeight - 4) +
           "\" font-size=\"11\">0 s</text>";
    svg += "<text x=\"" + std::to_string(kPlotLeft + nW) + "\" y=\"" +
           std::to_string(kPlotHeight - 4) + "\" font-size=\"11\" text-anchor=\"end\">" +
           Number(dWindow / 1000.0, 1) + " s</text>";
    return svg + "</svg>";
}

// The format's picture as an embedded PNG, in the frame's own shape; empty without one.
std::string Picture(const CThumbnail& thumbnail) {
    if (thumbnail.kind == CThumbnail::Kind::None || thumbnail.nWidth <= 0 ||
        thumbnail.nHeight <= 0 ||
        thumbnail.pixels.size() <
            static_cast<size_t>(thumbnail.nWidth) * static_cast<size_t>(thumbnail.nHeight) * 3) {
        return std::string();
    }
    std::vector<BYTE> png;
    if (FAILED(EncodePng24(static_cast<UINT>(thumbnail.nWidth),
                           static_cast<UINT>(thumbnail.nHeight), thumbnail.pixels.data(),
                           thumbnail.nWidth * 3, 3, png))) {
        return std::string();
    }
    const int nShownWidth = 192;
    int nShownHeight = thumbnail.nFrameWidth > 0 && thumbnail.nFrameHeight > 0
                           ? static_cast<int>(static_cast<double>(nShownWidth) *
                                                  thumbnail.nFrameHeight / thumbnail.nFrameWidth +
                                              0.5)
                           : nShownWidth * thumbnail.nHeight / thumbnail.nWidth;
    const char* pszKind = thumbnail.kind == CThumbnail::Kind::Black    ? "a black picture"
                          : thumbnail.kind == CThumbnail::Kind::Frozen ? "a frozen picture"
                                                                       : "the last good picture";
    return "<figure><img class=\"picture\" width=\"" + std::to_string(nShownWidth) +
           "\" height=\"" + std::to_string(std::clamp(nShownHeight, 1, 4 * nShownWidth)) +
           "\" alt=\"" + pszKind + "\" src=\"data:image/png;base64," + Base64(png) +
           "\"><figcaption>" + pszKind + "</figcaption></figure>";
}

const char kStyle[] =
    "body{font-family:Segoe UI,Arial,sans-serif;font-size:14px;margin:16px;color:#202020;"
    "background:#ffffff}"
    "h1{font-size:20px;margin:0 0 4px}h2{font-size:16px;margin:20px 0 6px}"
    "h3{font-size:14px;margin:0 0 6px}"
    "table{border-collapse:collapse;font-size:12px}"
    "th,td{border:1px solid #b8b8b8;padding:2px 6px;text-align:right;white-space:nowrap}"
    "th{background:#f0f0f0}.t{text-align:left}"
    "td.pass{background:#dff0d8;color:#1e5a1e}td.fail{background:#f8d7d7;color:#8a1010;"
    "font-weight:bold}td.cancelled{background:#eeeeee}"
    ".format{display:inline-block;vertical-align:top;border:1px solid #d0d0d0;padding:8px;"
    "margin:0 8px 8px 0}"
    ".format figure{display:inline-block;vertical-align:top;margin:0 8px 0 0;font-size:11px}"
    ".format img{image-rendering:pixelated;display:block;border:1px solid #909090}"
    ".format svg{vertical-align:top}"
    "dl{font-size:12px}dt{font-weight:bold;float:left;clear:left;width:170px}dd{margin:0 0 2px "
    "180px}";

// What each verdict means, for whoever reads the report.
const char kLegend[] =
    "<dl><dt>did not start</dt><dd>no picture came, or a step before the first one failed "
    "(the start column says which)</dd>"
    "<dt>stopped</dt><dd>the camera stopped delivering before the window's end: an error, a "
    "removal, or silence (the note says which and when); the rate is over the time it "
    "delivered</dd>"
    "<dt>rate below / above</dt><dd>measured below 90 % or above 110 % of the nominal rate</dd>"
    "<dt>drops</dt><dd>more than 5 % of the frames lost, by the camera's own count, else by "
    "gaps against its own cadence</dd>"
    "<dt>bad samples</dt><dd>short, empty, oversized or undecodable pictures</dd>"
    "<dt>black, frozen</dt><dd>more than 10 % of the pictures black, or repeating the one "
    "before</dd></dl>";

} // namespace

std::wstring LookwellVersion() {
    wchar_t szPath[MAX_PATH];
    DWORD nLength = ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) {
        return std::wstring();
    }
    VersionInfo version(szPath);
    return static_cast<const wchar_t*>(version.GetProductVersion());
}

std::string FormatCheckReportHtml(const CCheckReportInfo& info,
                                  const std::vector<CFormatMeasurement>& rows) {
    wchar_t szWhen[64];
    ::swprintf(szWhen, 64, L"%04u-%02u-%02u %02u:%02u", info.when.wYear, info.when.wMonth,
               info.when.wDay, info.when.wHour, info.when.wMinute);
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<title>Camera check of " +
                       Html(info.strDevice) + "</title><style>" + kStyle +
                       "</style></head><body>\n";
    html += "<h1>Camera check of " + Html(info.strDevice) + "</h1>\n";
    html += "<p class=\"about\">Checked " + Html(szWhen) + " by Lookwell " +
            Html(info.strVersion.empty() ? L"(version unknown)" : info.strVersion) + ".</p>\n";
    html += "<p class=\"summary\"><b>" + Html(FormatCheckSummary(rows)) + "</b></p>\n";

    // The table: the same columns as the text's, the verdict coloured.
    std::wstring tabbed = FormatCheckTabbed(rows);
    std::vector<std::vector<std::wstring>> lines(1);
    lines.back().emplace_back();
    for (wchar_t ch : tabbed) {
        if (ch == L'\t') {
            lines.back().emplace_back();
        } else if (ch == L'\n') {
            lines.emplace_back(1);
        } else {
            lines.back().back() += ch;
        }
    }
    lines.pop_back(); // after the last line end
    html += "<table class=\"results\">\n";
    for (size_t i = 0; i < lines.size(); ++i) {
        html += "<tr>";
        for (size_t j = 0; j < lines[i].size(); ++j) {
            // Text columns to the left, figures to the right, as in the table.
            bool bText = j <= 2 || j == 7 || j == 12 || j >= 18;
            std::string cls = bText ? "t" : "";
            if (i > 0 && j == 1) {
                const CFormatMeasurement& row = rows[i - 1];
                cls += row.bCancelled ? " cancelled" : IsOk(row) ? " pass" : " fail";
            }
            const char* pszCell = i == 0 ? "th" : "td";
            html += std::string("<") + pszCell + (cls.empty() ? "" : " class=\"" + cls + "\"") +
                    ">" + Html(lines[i][j]) + "</" + pszCell + ">";
        }
        html += "</tr>\n";
    }
    html += "</table>\n";
    html += kLegend;
    html += "\n<h2>Each format: a picture and its frame intervals</h2>\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        const CFormatMeasurement& row = rows[i];
        html += "<section class=\"format\" id=\"format" + std::to_string(i) + "\"><h3>" +
                Html(row.strFormat) + ": " + Html(GetVerdict(row)) + "</h3>";
        if (!row.bStarted) {
            html +=
                "<p>" + Html(row.bCancelled ? std::wstring(L"cancelled") : row.strFailure) + "</p>";
        } else {
            html += Picture(row.thumbnail) + IntervalPlot(row);
            if (!row.strNote.empty()) {
                html += "<p class=\"note\">" + Html(row.strNote) + "</p>";
            }
        }
        html += "</section>\n";
    }
    return html + "</body></html>\n";
}

bool WriteCheckReport(const std::wstring& path, const CCheckReportInfo& info,
                      const std::vector<CFormatMeasurement>& rows, std::wstring& error) {
    std::vector<BYTE> bytes;
    try {
        std::string html = FormatCheckReportHtml(info, rows);
        bytes.assign(html.begin(), html.end());
    } catch (...) {
        error = L"out of memory";
        return false;
    }
    return AfxSaveFileReplacing(path, bytes, error);
}
