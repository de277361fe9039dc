#include "media/stream_tap.h"

#include "framework/clock.h"

#include <dvdmedia.h>

#include <algorithm>
#include <cstring>

namespace {

// {5B9C2E41-7A3D-4F08-9D6E-2C1B8A4F7E93}
const CLSID CLSID_LookwellStreamTap = {
    0x5b9c2e41, 0x7a3d, 0x4f08, {0x9d, 0x6e, 0x2c, 0x1b, 0x8a, 0x4f, 0x7e, 0x93}};

constexpr LONGLONG kRateWindow = 20000000; // 2 s in 100 ns

LONGLONG MediaTypeFrameTime(const AM_MEDIA_TYPE& mt) {
    if (const VIDEOINFOHEADER* pvih = GetVideoInfo(mt); pvih != nullptr) {
        return pvih->AvgTimePerFrame;
    }
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2) &&
        mt.pbFormat != nullptr) {
        return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->AvgTimePerFrame;
    }
    return 0;
}

} // namespace

// What the filter calls, handed to the tap it shares.
class CStreamTap::CConsumer final : public CSinkConsumer {
public:
    explicit CConsumer(std::shared_ptr<CStreamTap> pTap) : m_pTap(std::move(pTap)) {}

private:
    HRESULT OnConnect(const AM_MEDIA_TYPE& mt) noexcept override { return m_pTap->OnConnect(mt); }
    void OnDisconnect() noexcept override { m_pTap->OnDisconnect(); }
    void OnRun(REFERENCE_TIME tStart) noexcept override { m_pTap->OnState(State_Running, tStart); }
    void OnPause() noexcept override { m_pTap->OnState(State_Paused, 0); }
    void OnStop() noexcept override { m_pTap->OnState(State_Stopped, 0); }
    HRESULT OnSample(const CSampleView& sample) noexcept override {
        return m_pTap->OnSample(sample);
    }
    void OnEndOfStream() noexcept override { m_pTap->OnEndOfStream(); }

    std::shared_ptr<CStreamTap> m_pTap;
};

HRESULT CStreamTap::Create(std::shared_ptr<CStreamTap>& pTap, CSinkFilter** ppFilter) {
    if (ppFilter == nullptr) {
        return E_POINTER;
    }
    *ppFilter = nullptr;
    try {
        pTap = std::make_shared<CStreamTap>();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    pTap->m_nQpcFrequency = AfxQpcFrequency();
    std::unique_ptr<CSinkConsumer> pConsumer(new (std::nothrow) CConsumer(pTap));
    if (pConsumer == nullptr) {
        pTap.reset();
        return E_OUTOFMEMORY;
    }
    HRESULT hr =
        CSinkFilter::Create(std::move(pConsumer), CLSID_LookwellStreamTap, L"Stream Tap", ppFilter);
    if (FAILED(hr)) {
        pTap.reset();
    }
    return hr;
}

CStreamTap::~CStreamTap() {
    FreeMediaType(m_mt);
}

LONGLONG CStreamTap::QpcTo100ns(LONGLONG nTicks) {
    static const LONGLONG nFrequency = AfxQpcFrequency();
    // Whole seconds first, so that a long time does not overflow.
    return nTicks / nFrequency * 10000000 + nTicks % nFrequency * 10000000 / nFrequency;
}

void CStreamTap::SetNominalFrameTime(LONGLONG frameTime) {
    CSingleLock lock(m_lock);
    m_callerFrameTime = frameTime > 0 ? frameTime : 0;
    if (m_figures.nominalFrameTime == 0 || MediaTypeFrameTime(m_mt) <= 0) {
        m_figures.nominalFrameTime = m_callerFrameTime;
    }
}

bool CStreamTap::Subscribe(IStreamTapSubscriber* pSubscriber) {
    CSingleLock lock(m_subscriberLock);
    if (pSubscriber == nullptr || m_pSubscriber != nullptr) {
        return false;
    }
    m_pSubscriber = pSubscriber;
    return true;
}

void CStreamTap::Unsubscribe(IStreamTapSubscriber* pSubscriber) {
    CSingleLock lock(m_subscriberLock); // waits for a call in progress
    if (m_pSubscriber == pSubscriber) {
        m_pSubscriber = nullptr;
    }
}

void CStreamTap::GetFigures(CTapFigures& figures) const {
    const LONGLONG nNow = AfxQpcNow();
    CSingleLock lock(m_lock);
    figures = m_figures;
    // Pictures of the last two seconds; over a shorter time at first, from the first picture.
    size_t nInWindow = 0;
    LONGLONG nOldest = 0;
    size_t nKept = static_cast<size_t>(std::min<ULONGLONG>(m_figures.nSamples, kArrivals));
    for (size_t i = 1; i <= nKept; ++i) {
        LONGLONG nArrival = m_arrivals[(m_nNextArrival + kArrivals - i) % kArrivals];
        if (QpcTo100ns(nNow - nArrival) > kRateWindow) {
            break;
        }
        ++nInWindow;
        nOldest = nArrival;
    }
    figures.dRate = -1;
    if (m_figures.nSamples > nInWindow && nInWindow > 0) {
        figures.dRate = static_cast<double>(nInWindow) * 1e7 / static_cast<double>(kRateWindow);
    } else if (m_figures.nSamples > nInWindow) {
        figures.dRate = 0; // nothing for two seconds
    } else if (nInWindow >= 2 && QpcTo100ns(nNow - nOldest) >= kRateWindow / 4) {
        figures.dRate = static_cast<double>(nInWindow - 1) * 1e7 /
                        static_cast<double>(QpcTo100ns(nNow - nOldest));
    }
}

bool CStreamTap::GetMediaType(AM_MEDIA_TYPE& mt) const {
    CSingleLock lock(m_lock);
    std::memset(&mt, 0, sizeof(mt));
    return m_figures.bConnected && CopyMediaType(mt, m_mt) == S_OK;
}

bool CStreamTap::GetLatestPicture(std::vector<BYTE>& dib, HRESULT& hr) {
    int nBuffer = -1;
    CFrameLayout layout;
    size_t nLength = 0;
    {
        CSingleLock lock(m_lock);
        if (m_nLatest < 0 || m_nReading >= 0) {
            hr = VFW_E_WRONG_STATE;
            return false;
        }
        nBuffer = m_nReading = m_nLatest;
        layout = m_layout;
        nLength = m_nLength[nBuffer];
    }
    // The camera writes only into the other buffer meanwhile.
    try {
        hr = FrameToDib(layout, m_buffers[nBuffer].data(), nLength, m_jpeg, dib);
    } catch (...) {
        hr = E_OUTOFMEMORY;
    }
    CSingleLock lock(m_lock);
    m_nReading = -1;
    return SUCCEEDED(hr);
}

HRESULT CStreamTap::OnConnect(const AM_MEDIA_TYPE& mt) noexcept {
    CFrameLayout layout = FrameLayoutOf(mt);
    if (layout.bMjpg && !m_jpeg.IsOpen()) {
        m_jpeg.Open(); // without it, a copy falls back to the renderer's image
    }
    // Room for any picture of the format, made here once: the camera's thread never allocates.
    size_t nRoom = layout.nFrameBytes;
    if (nRoom == 0 && layout.IsSupported()) {
        nRoom = static_cast<size_t>(layout.nWidth) * static_cast<size_t>(layout.nHeight) * 4;
    }
    CSingleLock lock(m_lock);
    FreeMediaType(m_mt);
    std::memset(&m_mt, 0, sizeof(m_mt));
    HRESULT hr = CopyMediaType(m_mt, mt);
    if (hr != S_OK) {
        return hr;
    }
    try {
        for (std::vector<BYTE>& buffer : m_buffers) {
            buffer.assign(nRoom, 0);
        }
    } catch (...) {
        return E_OUTOFMEMORY; // refused: the stream's own path goes on without the tap
    }
    m_layout = layout;
    m_figures.nominalFrameTime =
        MediaTypeFrameTime(mt) > 0 ? MediaTypeFrameTime(mt) : m_callerFrameTime;
    m_nLatest = -1;
    m_figures.bConnected = true;
    return S_OK;
}

void CStreamTap::OnDisconnect() noexcept {
    {
        CSingleLock lock(m_lock);
        m_figures.bConnected = false;
        m_nLatest = -1;
    }
    TellEnd();
}

void CStreamTap::OnState(FILTER_STATE state, REFERENCE_TIME tStart) noexcept {
    {
        CSingleLock lock(m_lock);
        m_figures.state = state;
        m_figures.nStateSince = AfxQpcNow();
        if (state == State_Running) {
            m_nRunArrival = m_figures.nStateSince;
            m_tRunStart = tStart;
            m_figures.bEnded = false;
        }
        // The time between a pause or a stop and the next picture is no gap of the camera's.
        m_nPreviousInRun = 0;
    }
    if (state == State_Stopped) {
        TellEnd();
    }
}

HRESULT CStreamTap::OnSample(const CSampleView& sample) noexcept {
    int nTarget = -1;
    ULONGLONG nSequence = 0;
    LONGLONG nRunArrival = 0;
    REFERENCE_TIME tRunStart = 0;
    {
        CSingleLock lock(m_lock);
        if (sample.pNewType != nullptr) {
            // A new type: the buffers keep their size, pictures that no longer fit are not kept.
            FreeMediaType(m_mt);
            if (CopyMediaType(m_mt, *sample.pNewType) == S_OK) {
                m_layout = FrameLayoutOf(m_mt);
                if (MediaTypeFrameTime(m_mt) > 0) {
                    m_figures.nominalFrameTime = MediaTypeFrameTime(m_mt);
                }
            } else {
                m_layout = CFrameLayout();
            }
            m_nLatest = -1;
        }
        nSequence = ++m_figures.nSamples;
        if (m_nPreviousInRun != 0 && m_figures.nominalFrameTime > 0 &&
            QpcTo100ns(sample.nArrival - m_nPreviousInRun) * 2 > m_figures.nominalFrameTime * 3) {
            ++m_figures.nGaps;
        }
        m_nPreviousInRun = sample.nArrival;
        m_figures.nLastArrival = sample.nArrival;
        m_arrivals[m_nNextArrival] = sample.nArrival;
        m_nNextArrival = (m_nNextArrival + 1) % kArrivals;
        nTarget = m_nLatest == 0 ? 1 : 0;
        if (nTarget == m_nReading || sample.nLength == 0 ||
            sample.nLength > m_buffers[nTarget].size() || !m_layout.IsSupported()) {
            ++m_figures.nNotKept;
            nTarget = -1;
        }
        nRunArrival = m_nRunArrival;
        tRunStart = m_tRunStart;
    }
    if (nTarget >= 0) {
        // The one copy, outside the lock: nobody reads this buffer until it is the latest.
        std::memcpy(m_buffers[nTarget].data(), sample.pData, sample.nLength);
        CSingleLock lock(m_lock);
        m_nLength[nTarget] = sample.nLength;
        m_nLatest = nTarget;
    }
    CSingleLock lock(m_subscriberLock);
    if (m_pSubscriber != nullptr) {
        CTapSample tapSample{sample, m_mt, nSequence, nRunArrival, tRunStart};
        m_pSubscriber->OnTapSample(tapSample);
    }
    return S_OK;
}

void CStreamTap::OnEndOfStream() noexcept {
    {
        CSingleLock lock(m_lock);
        if (m_figures.state == State_Running) {
            m_figures.bEnded = true;
        }
    }
    TellEnd();
}

void CStreamTap::TellEnd() noexcept {
    CSingleLock lock(m_subscriberLock);
    if (m_pSubscriber != nullptr) {
        m_pSubscriber->OnTapEnd();
    }
}
