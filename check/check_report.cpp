#include "check/check_report.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace {

const wchar_t* const kColumns[] = {
    L"format", L"verdict",   L"start",  L"first ms",   L"samples",  L"fps",        L"nominal",
    L"from",   L"median ms", L"p95 ms", L"longest ms", L"dropped",  L"counted by", L"short",
    L"empty",  L"oversized", L"black",  L"frozen",     L"renderer", L"note"};
constexpr size_t kColumnCount = sizeof(kColumns) / sizeof(kColumns[0]);

std::wstring Number(double dValue, int nDecimals) {
    wchar_t sz[64];
    ::swprintf(sz, 64, L"%.*f", nDecimals, dValue);
    return sz;
}

std::wstring Count(long nValue) {
    return std::to_wstring(nValue);
}

std::vector<std::wstring> Fields(const CFormatMeasurement& row) {
    std::vector<std::wstring> fields;
    fields.push_back(row.strFormat);
    fields.push_back(GetVerdict(row));
    fields.push_back(row.bStarted ? L"yes" : row.strFailure);
    const wchar_t* pszNominalFrom = row.nominalSource == NominalSource::MediaType    ? L"media type"
                                    : row.nominalSource == NominalSource::Capability ? L"capability"
                                                                                     : L"-";
    std::wstring nominal =
        row.nominalSource != NominalSource::None ? Number(row.dNominalFps, 2) : std::wstring(L"-");
    if (!row.bStarted) {
        fields.insert(fields.end(), {L"-", L"-", L"-", nominal, pszNominalFrom, L"-", L"-", L"-",
                                     L"-", L"-", L"-", L"-", L"-", L"-", L"-"});
    } else {
        fields.push_back(Number(row.dFirstSampleMs, 1));
        fields.push_back(Count(row.nSamples));
        fields.push_back(Number(row.dMeasuredFps, 2));
        fields.push_back(nominal);
        fields.push_back(pszNominalFrom);
        fields.push_back(Number(row.dMedianMs, 1));
        fields.push_back(Number(row.dP95Ms, 1));
        fields.push_back(Number(row.dLongestMs, 1));
        fields.push_back(row.dropSource != DropSource::None ? Count(row.nDropped) : L"-");
        fields.push_back(row.dropSource == DropSource::Camera      ? L"camera"
                         : row.dropSource == DropSource::Intervals ? L"intervals"
                                                                   : L"-");
        fields.push_back(Count(row.nShort));
        fields.push_back(Count(row.nEmpty));
        fields.push_back(Count(row.nOversized));
        fields.push_back(Count(row.nBlack));
        fields.push_back(Count(row.nFrozen));
    }
    fields.push_back(row.renderer == RendererAnswer::Yes  ? L"yes"
                     : row.renderer == RendererAnswer::No ? L"no"
                                                          : L"-");
    fields.push_back(row.strNote);
    return fields;
}

std::wstring Joined(const std::vector<CFormatMeasurement>& rows, wchar_t chSeparator,
                    std::wstring (*quote)(const std::wstring&)) {
    std::wstring text;
    for (size_t i = 0; i < kColumnCount; ++i) {
        text += (i != 0 ? std::wstring(1, chSeparator) : L"") + kColumns[i];
    }
    text += L"\n";
    for (const CFormatMeasurement& row : rows) {
        std::vector<std::wstring> fields = Fields(row);
        for (size_t i = 0; i < fields.size(); ++i) {
            text += (i != 0 ? std::wstring(1, chSeparator) : L"") + quote(fields[i]);
        }
        text += L"\n";
    }
    return text;
}

std::wstring CsvField(const std::wstring& field) {
    if (field.find_first_of(L",\"\n") == std::wstring::npos) {
        return field;
    }
    std::wstring quoted = L"\"";
    for (wchar_t ch : field) {
        quoted += ch == L'"' ? L"\"\"" : std::wstring(1, ch);
    }
    return quoted + L"\"";
}

std::wstring TabField(const std::wstring& field) {
    std::wstring plain = field;
    std::replace(plain.begin(), plain.end(), L'\t', L' ');
    std::replace(plain.begin(), plain.end(), L'\n', L' ');
    return plain;
}

} // namespace

CIntervalStats ComputeIntervals(const std::vector<float>& intervalsMs) {
    CIntervalStats stats;
    if (intervalsMs.empty()) {
        return stats;
    }
    std::vector<float> sorted = intervalsMs;
    std::sort(sorted.begin(), sorted.end());
    size_t n = sorted.size();
    stats.dMedianMs =
        n % 2 != 0 ? sorted[n / 2] : (static_cast<double>(sorted[n / 2 - 1]) + sorted[n / 2]) / 2;
    // Nearest rank: the smallest interval with at least 95 % of them at or below it.
    auto nRank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(n)));
    stats.dP95Ms = sorted[std::max<size_t>(nRank, 1) - 1];
    stats.dLongestMs = sorted.back();
    // Against the camera's own cadence, not the nominal one: a steady slower camera has no
    // gaps (its rate says it), and a gap of three intervals is two frames missing.
    if (stats.dMedianMs > 0) {
        for (float fInterval : intervalsMs) {
            if (fInterval > kGapMedians * stats.dMedianMs) {
                stats.nMissing += std::lround(fInterval / stats.dMedianMs) - 1;
            }
        }
    }
    return stats;
}

std::vector<Finding> GetFindings(const CFormatMeasurement& row) {
    std::vector<Finding> findings;
    if (row.bCancelled) {
        return findings;
    }
    if (!row.bStarted) {
        findings.push_back(Finding::DidNotStart);
        return findings;
    }
    double dSamples = static_cast<double>(row.nSamples);
    double dAnalysed = row.nAnalysed > 0 ? static_cast<double>(row.nAnalysed) : dSamples;
    if (row.stopCause != StopCause::None) {
        findings.push_back(Finding::Stopped);
    }
    if (row.dNominalFps > 0 && row.dMeasuredFps < kMinRateShare * row.dNominalFps) {
        findings.push_back(Finding::RateBelow);
    }
    if (row.dNominalFps > 0 && row.dMeasuredFps > kMaxRateShare * row.dNominalFps) {
        findings.push_back(Finding::RateAbove);
    }
    if (static_cast<double>(row.nDropped) >
        kMaxDropShare * (dSamples + static_cast<double>(row.nDropped))) {
        findings.push_back(Finding::Drops);
    }
    if (row.nShort + row.nEmpty + row.nOversized + row.nUndecodable > 0) {
        findings.push_back(Finding::BadSamples);
    }
    if (static_cast<double>(row.nBlack) > kMaxBlackShare * dAnalysed) {
        findings.push_back(Finding::Black);
    }
    if (static_cast<double>(row.nFrozen) > kMaxFrozenShare * dSamples) {
        findings.push_back(Finding::Frozen);
    }
    return findings;
}

std::wstring FindingText(Finding finding) {
    // In the order of the findings, worst first.
    static const wchar_t* const kTexts[] = {L"did not start",
                                            L"stopped",
                                            L"rate below 90 % of nominal",
                                            L"rate above 110 % of nominal",
                                            L"drops",
                                            L"bad samples",
                                            L"black",
                                            L"frozen"};
    auto nIndex = static_cast<size_t>(finding);
    return nIndex < sizeof(kTexts) / sizeof(kTexts[0]) ? kTexts[nIndex] : L"";
}

std::wstring GetVerdict(const CFormatMeasurement& row) {
    if (row.bCancelled) {
        return L"cancelled";
    }
    std::wstring verdict;
    for (Finding finding : GetFindings(row)) {
        verdict += (verdict.empty() ? L"" : L", ") + FindingText(finding);
    }
    return verdict.empty() ? L"OK" : verdict;
}

std::wstring FormatCheckSummary(const std::vector<CFormatMeasurement>& rows) {
    size_t nOk = static_cast<size_t>(std::count_if(rows.begin(), rows.end(), IsOk));
    return std::to_wstring(rows.size()) + (rows.size() == 1 ? L" format: " : L" formats: ") +
           std::to_wstring(nOk) + L" OK, " + std::to_wstring(rows.size() - nOk) + L" failed";
}

std::wstring FormatCheckTable(const std::vector<CFormatMeasurement>& rows) {
    std::vector<std::vector<std::wstring>> lines;
    lines.emplace_back(kColumns, kColumns + kColumnCount);
    for (const CFormatMeasurement& row : rows) {
        lines.push_back(Fields(row));
    }
    std::vector<size_t> widths(kColumnCount, 0);
    for (const auto& line : lines) {
        for (size_t i = 0; i < line.size(); ++i) {
            widths[i] = std::max(widths[i], line[i].size());
        }
    }
    std::wstring text;
    for (const auto& line : lines) {
        std::wstring out;
        for (size_t i = 0; i < line.size(); ++i) {
            // Text columns to the left, figures to the right; two spaces between columns.
            bool bLeft = i <= 2 || i == 7 || i == 12 || i >= 18;
            std::wstring pad(widths[i] - line[i].size(), L' ');
            out += (i != 0 ? L"  " : L"") + (bLeft ? line[i] + pad : pad + line[i]);
        }
        out.erase(out.find_last_not_of(L' ') + 1);
        text += out + L"\n";
    }
    return text + FormatCheckSummary(rows) + L"\n";
}

std::wstring FormatCheckCsv(const std::vector<CFormatMeasurement>& rows) {
    return Joined(rows, L',', CsvField);
}

std::wstring FormatCheckTabbed(const std::vector<CFormatMeasurement>& rows) {
    return Joined(rows, L'\t', TabField);
}
