#include "tools/info_figures.h"

#include <cwchar>

void CFrameCounter::Reset() {
    *this = CFrameCounter();
}

void CFrameCounter::Add(ULONGLONG nNowMs, long nDelivered, long nDropped) {
    if (nDelivered < m_nLastDelivered || nDropped < m_nLastDropped) {
        // A new run of the camera: what the last one counted stays counted.
        m_nDeliveredBefore += m_nLastDelivered;
        m_nDroppedBefore += m_nLastDropped;
    }
    m_nLastDelivered = nDelivered;
    m_nLastDropped = nDropped;
    m_samples.emplace_back(nNowMs, Delivered());
    while (m_samples.size() > 1 && nNowMs - m_samples[1].first >= 1000) {
        m_samples.pop_front();
    }
}

bool CFrameCounter::GetRate(double& rate) const {
    if (m_samples.empty()) {
        return false;
    }
    ULONGLONG nSpan = m_samples.back().first - m_samples.front().first;
    if (nSpan < 900) {
        return false;
    }
    rate = static_cast<double>(m_samples.back().second - m_samples.front().second) * 1000.0 /
           static_cast<double>(nSpan);
    return true;
}

namespace {

constexpr CEnumText<CountSource> kSourceTexts[] = {
    {CountSource::Tap, L" (counted here)"},
    {CountSource::Camera, L" (camera)"},
    {CountSource::Gaps, L" (long gaps)"},
    {CountSource::Renderer, L" (renderer)"},
};

} // namespace

void FormatInfoText(const CInfoFigures& figures, CString& strText) {
    wchar_t szNominal[48] = L"n/a";
    wchar_t szMeasured[48] = L"n/a";
    wchar_t szDelivered[32] = L"n/a";
    wchar_t szDropped[32] = L"n/a";
    wchar_t szElapsed[32] = L"n/a";
    if (figures.nNominalFps > 0) {
        ::swprintf(szNominal, 48, figures.bNominalFromCaps ? L"%.2f fps (capability)" : L"%.2f fps",
                   figures.nNominalFps);
    }
    if (figures.bPreviewing) {
        if (figures.nMeasuredFps >= 0) {
            ::swprintf(szMeasured, 48, L"%.2f fps%ls", figures.nMeasuredFps,
                       AfxEnumText(kSourceTexts, figures.measuredFrom));
        } else if (figures.bNoCounters) {
            ::swprintf(szMeasured, 48, L"not counted here; Ctrl+T measures it");
        }
        if (figures.nDelivered >= 0) {
            ::swprintf(szDelivered, 32, L"%ld%ls", figures.nDelivered,
                       AfxEnumText(kSourceTexts, figures.deliveredFrom));
        }
        if (figures.nDropped >= 0) {
            ::swprintf(szDropped, 32, L"%ld%ls", figures.nDropped,
                       AfxEnumText(kSourceTexts, figures.droppedFrom));
        }
        ULONGLONG nSeconds = figures.nElapsedSeconds;
        ::swprintf(szElapsed, 32, L"%llu:%02llu:%02llu", nSeconds / 3600, nSeconds / 60 % 60,
                   nSeconds % 60);
    }
    const wchar_t* pszState = !figures.bPreviewing ? L"stopped"
                              : figures.bPaused    ? L"paused"
                                                   : L"running";
    wchar_t szRecording[80] = L"";
    if (figures.bRecording) {
        ::swprintf(szRecording, 80, L"\nRecording:\t%llu frames written, %llu dropped",
                   figures.nRecordWritten, figures.nRecordDropped);
    }
    strText.Format(L"Device:\t%s\nFormat:\t%s\nNominal:\t%s\nMeasured:\t%s\nDelivered:\t%s\n"
                   L"Dropped:\t%s\nSince start:\t%s\nPicture:\t%s%s",
                   static_cast<const wchar_t*>(figures.strDevice),
                   static_cast<const wchar_t*>(figures.strFormat), szNominal, szMeasured,
                   szDelivered, szDropped, szElapsed, pszState, szRecording);
}
