#include "check/camera_check.h"

#include "capture/capture_platform.h"
#include "capture/device_catalogue.h"
#include "check/check_sink.h"
#include "framework/apartment.h"
#include "media/capture_graph.h"

#include <uuids.h>

#include <algorithm>
#include <memory>

namespace {

double TicksToMs(LONGLONG nTicks, LONGLONG nFrequency) {
    return static_cast<double>(nTicks) * 1000.0 / static_cast<double>(nFrequency);
}

// Waits for hEvent (may be null: just the time) or the cancel; true when cancelled.
bool WaitOrCancel(HANDLE hEvent, HANDLE hCancel, DWORD nMs, bool& bSignalled) {
    HANDLE handles[2];
    DWORD nHandles = 0;
    if (hCancel != nullptr) {
        handles[nHandles++] = hCancel;
    }
    if (hEvent != nullptr) {
        handles[nHandles++] = hEvent;
    }
    bSignalled = false;
    if (nHandles == 0) {
        ::Sleep(nMs);
        return false;
    }
    DWORD nResult = ::WaitForMultipleObjects(nHandles, handles, FALSE, nMs);
    if (hCancel != nullptr && nResult == WAIT_OBJECT_0) {
        return true;
    }
    bSignalled = nResult == WAIT_OBJECT_0 + nHandles - 1 && hEvent != nullptr;
    return false;
}

double Seconds(double dMs) {
    return dMs / 1000.0;
}

std::wstring Fixed(double dValue, int nDecimals) {
    wchar_t sz[64];
    ::swprintf(sz, 64, L"%.*f", nDecimals, dValue);
    return sz;
}

void AddNote(CFormatMeasurement& row, const std::wstring& note) {
    row.strNote += (row.strNote.empty() ? L"" : L"; ") + note;
}

// Runs the built graph and measures it; the stop is the caller's.
void Measure(CCaptureGraph& graph, CSinkRef<CCheckSink>& sink, IPin* pRendererPin, DWORD nSeconds,
             HANDLE hCancel, CFormatMeasurement& row) {
    const AM_MEDIA_TYPE& mt = *graph.MediaType();
    CCheckSink& check = sink.Consumer();
    AM_MEDIA_TYPE connected;
    // The renderer's input pin asked outside any graph: its QueryAccept.
    if (pRendererPin != nullptr && sink.Filter()->GetMediaType(connected)) {
        row.renderer = pRendererPin->QueryAccept(&connected) == S_OK ? RendererAnswer::Yes
                                                                     : RendererAnswer::No;
        FreeMediaType(connected);
    }
    LARGE_INTEGER frequency;
    LARGE_INTEGER runAt;
    ::QueryPerformanceFrequency(&frequency);
    const LONGLONG nFrequency = frequency.QuadPart;
    auto now = [] {
        LARGE_INTEGER at;
        ::QueryPerformanceCounter(&at);
        return at.QuadPart;
    };
    auto msSince = [&](LONGLONG nFrom) { return TicksToMs(now() - nFrom, nFrequency); };
    ::QueryPerformanceCounter(&runAt);
    if (FAILED(graph.Run())) {
        row.strFailure = L"the graph did not run";
        return;
    }
    // Up to 5 s for the first sample.
    bool bFirst = false;
    while (!bFirst && !row.bCancelled) {
        double dElapsed = msSince(runAt.QuadPart);
        if (dElapsed >= kFirstSampleTimeoutMs) {
            break;
        }
        auto nWait = static_cast<DWORD>(std::min(100.0, kFirstSampleTimeoutMs - dElapsed + 1));
        row.bCancelled = WaitOrCancel(check.FirstSampleEvent(), hCancel, nWait, bFirst);
    }
    if (!bFirst) {
        if (!row.bCancelled) {
            row.strFailure = L"no frame within 5 s";
        }
        return;
    }
    size_t nCount = 0;
    CSinkFigures early;
    check.GetFigures(early);
    const LONGLONG nFirstAt = early.arrivals.empty() ? runAt.QuadPart : early.arrivals.front();
    const LONGLONG nWindowTicks = nFrequency * static_cast<LONGLONG>(nSeconds);
    const LONGLONG nWindowEnd = nFirstAt + nWindowTicks;
    check.SetWindowEnd(nWindowEnd);

    // The window, ended early by the camera's own word that it stopped, or by a cancel.
    auto stopCause = [&] {
        CStreamEvents events = graph.Events();
        return events.bRemoved  ? StopCause::Removed
               : events.bFailed ? StopCause::Error
                                : StopCause::None;
    };
    for (;;) {
        LONGLONG nLeft = nWindowEnd - now();
        if (nLeft <= 0 || row.bCancelled) {
            break;
        }
        if ((row.stopCause = stopCause()) != StopCause::None) {
            break;
        }
        bool bUnused = false;
        auto nWait = static_cast<DWORD>(std::min(100.0, TicksToMs(nLeft, nFrequency) + 1));
        row.bCancelled = WaitOrCancel(nullptr, hCancel, nWait, bUnused);
    }
    if (row.stopCause == StopCause::None && !row.bCancelled) {
        row.stopCause = stopCause();
    }
    // A camera that says nothing (Wine's filter after a failed read) is known by its silence:
    // one longer than its gaps at the window's end is waited out to ten of its intervals (1 to
    // 3 s) from the last picture.
    if (row.stopCause == StopCause::None && !row.bCancelled) {
        CSinkFigures sofar;
        check.GetFigures(sofar);
        std::vector<float> intervals;
        for (size_t i = 1; i < sofar.arrivals.size(); ++i) {
            intervals.push_back(static_cast<float>(
                TicksToMs(sofar.arrivals[i] - sofar.arrivals[i - 1], nFrequency)));
        }
        double dCadenceMs = ComputeIntervals(intervals).dMedianMs;
        if (dCadenceMs <= 0) {
            dCadenceMs = row.dNominalFps > 0 ? 1000.0 / row.dNominalFps : 100.0;
        }
        double dSilenceMs =
            std::clamp(10 * dCadenceMs, double(kMinSilenceMs), double(kMaxSilenceMs));
        // A silence at the window's end no longer than the camera's own gaps is no sign of a
        // stop: a camera delivering as it did ends its format at once, not at its next picture.
        LONGLONG nLast = 0;
        check.GetLastArrival(nCount, nLast);
        const size_t nAtEnd = nCount;
        bool bSuspect = msSince(nLast) > kGapMedians * dCadenceMs;
        while (bSuspect) {
            check.GetLastArrival(nCount, nLast);
            if (nCount > nAtEnd) {
                break; // it still delivers
            }
            if ((row.stopCause = stopCause()) != StopCause::None) {
                break;
            }
            double dSilent = msSince(nLast);
            if (dSilent >= dSilenceMs) {
                row.stopCause = StopCause::Silent;
                break;
            }
            // Looked at often: a camera that still delivers ends its format at its next picture.
            bool bUnused = false;
            auto nWait = static_cast<DWORD>(std::min(5.0, dSilenceMs - dSilent + 1));
            if ((row.bCancelled = WaitOrCancel(nullptr, hCancel, nWait, bUnused))) {
                break;
            }
        }
    }
    // The camera's own count, where it keeps one, before the stop ends the run.
    CComRef<IAMDroppedFrames> pDropped;
    long nDropped = 0;
    bool bCameraCounts =
        graph.Camera()->QueryInterface(IID_IAMDroppedFrames, pDropped.Out()) == S_OK &&
        pDropped->GetNumDropped(&nDropped) == S_OK;
    // The picture being decoded may finish; nothing else is left with the latest kept.
    if (!row.bCancelled) {
        for (ULONGLONG nStart = ::GetTickCount64();
             !check.WaitForDecoding(100) && ::GetTickCount64() - nStart < kDecodeTailMs;) {
            bool bUnused = false;
            if ((row.bCancelled = WaitOrCancel(nullptr, hCancel, 0, bUnused))) {
                break;
            }
        }
    }
    if (row.bCancelled) {
        check.AbandonDecoding();
        return;
    }
    check.FinishDecoding();

    row.bStarted = true;
    CSinkFigures figures;
    check.GetFigures(figures);
    std::vector<float>& intervals = row.intervalsMs;
    LONGLONG nLastAt = nFirstAt;
    for (size_t i = 1; i < figures.arrivals.size() && figures.arrivals[i] <= nWindowEnd; ++i) {
        intervals.push_back(static_cast<float>(
            TicksToMs(figures.arrivals[i] - figures.arrivals[i - 1], nFrequency)));
        nLastAt = figures.arrivals[i];
    }
    row.nSamples = static_cast<long>(intervals.size() + 1);
    row.dFirstSampleMs = TicksToMs(nFirstAt - runAt.QuadPart, nFrequency);
    row.dWindowMs = 1000.0 * nSeconds;
    if (row.stopCause != StopCause::None) {
        // The silence for the rest of the window is a gap too; the rate is over the time the
        // camera delivered.
        row.dStoppedAtMs = TicksToMs(nLastAt - nFirstAt, nFrequency);
        intervals.push_back(static_cast<float>(TicksToMs(nWindowEnd - nLastAt, nFrequency)));
        row.dMeasuredFps =
            row.dStoppedAtMs > 0 ? (row.nSamples - 1) / Seconds(row.dStoppedAtMs) : 0;
    } else {
        // Samples at both ends of the window: n of them span n - 1 intervals.
        row.dMeasuredFps = static_cast<double>(row.nSamples - 1) / static_cast<double>(nSeconds);
    }
    CIntervalStats stats = ComputeIntervals(intervals);
    row.dMedianMs = stats.dMedianMs;
    row.dP95Ms = stats.dP95Ms;
    row.dLongestMs = stats.dLongestMs;
    if (bCameraCounts) {
        row.nDropped = nDropped;
        row.dropSource = DropSource::Camera;
    } else {
        row.nDropped = stats.nMissing;
        row.dropSource = DropSource::Intervals;
    }
    row.nShort = figures.nShort;
    row.nEmpty = figures.nEmpty;
    row.nOversized = figures.nOversized;
    row.nBlack = figures.nBlack;
    row.nFrozen = figures.nFrozen;
    row.nUndecodable = figures.nUndecodable;
    row.nAnalysed = figures.nAnalysed;

    std::wstring delivered = Fixed(Seconds(row.dStoppedAtMs), 2) + L" s";
    switch (row.stopCause) {
    case StopCause::Error:
        AddNote(row, L"the camera stopped with an error after " + delivered);
        break;
    case StopCause::Removed:
        AddNote(row, L"the camera was removed after " + delivered);
        break;
    case StopCause::Silent:
        AddNote(row, L"no picture after " + delivered);
        break;
    case StopCause::None:
        break;
    }
    if (row.stopCause != StopCause::None) {
        AddNote(row, L"fps over those " + delivered);
    }
    if (row.nUndecodable > 0) {
        AddNote(row, std::to_wstring(row.nUndecodable) + L" pictures not decodable");
    }
    if (mt.subtype == MEDIASUBTYPE_MJPG) {
        // The decoder takes the latest picture: repeats are told from their bytes, and the
        // rest are seen as far as the decoder keeps up.
        AddNote(row, std::to_wstring(figures.nAnalysed + figures.nUndecodable) + L" of " +
                         std::to_wstring(row.nSamples - figures.nFrozen) +
                         L" new pictures decoded");
    }
    std::vector<Finding> findings = GetFindings(row);
    auto has = [&](Finding f) {
        return std::find(findings.begin(), findings.end(), f) != findings.end();
    };
    check.GetThumbnail(has(Finding::Black)    ? CThumbnail::Kind::Black
                       : has(Finding::Frozen) ? CThumbnail::Kind::Frozen
                                              : CThumbnail::Kind::LastGood,
                       row.thumbnail);
}

} // namespace

HRESULT CreateRendererPin(IBaseFilter** ppRenderer, IPin** ppPin) {
    *ppRenderer = nullptr;
    *ppPin = nullptr;
    CComRef<IBaseFilter> pRenderer;
    CComRef<IEnumPins> pPins;
    HRESULT hr = ::CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC, IID_IBaseFilter,
                                    pRenderer.Out());
    if (hr != S_OK) {
        return hr;
    }
    hr = pRenderer->EnumPins(&pPins);
    if (hr != S_OK) {
        return hr;
    }
    hr = pPins->Next(1, ppPin, nullptr);
    if (hr != S_OK || *ppPin == nullptr) {
        *ppPin = nullptr;
        return E_FAIL;
    }
    *ppRenderer = pRenderer;
    (*ppRenderer)->AddRef();
    return S_OK;
}

CFormatMeasurement CheckFormat(const std::wstring& deviceDisplayName, const VideoFormat& format,
                               DWORD nSeconds, HANDLE hCancel, IPin* pRendererPin) {
    CFormatMeasurement row;
    CString strEntry;
    GetFormatEntryText(format, strEntry);
    row.strFormat = static_cast<const wchar_t*>(strEntry);
    nSeconds = std::max<DWORD>(1, nSeconds);

    CSinkRef<CCheckSink> sink;
    if (CCheckSink::Create(true, sink) != S_OK) {
        row.strFailure = L"out of memory";
        return row;
    }
    CCaptureGraph graph;
    std::wstring failure;
    const bool bBuilt = graph.Build(deviceDisplayName, format, sink.Filter(), sink.Pin(), failure);
    // Known once the camera's capability was found, also for a format it then refused.
    if (graph.FrameTime() > 0) {
        row.dNominalFps = 1e7 / static_cast<double>(graph.FrameTime());
        row.nominalSource =
            graph.FrameTimeFromCapability() ? NominalSource::Capability : NominalSource::MediaType;
    }
    if (!bBuilt) {
        row.strFailure = failure;
        return row;
    }
    Measure(graph, sink, pRendererPin, nSeconds, hCancel, row);
    if (row.bCancelled) {
        row.strNote = L"cancelled";
    }
    if (!graph.Stop(row.bCancelled ? kCancelStopWaitMs : kStopWaitMs)) {
        AddNote(row, L"the camera did not stop: it is released when it returns");
    }
    return row;
}

struct CCheckRunner::CShared {
    LONG nRefs = 2; // the runner's and the thread's
    std::wstring strDevice;
    std::vector<VideoFormat> formats;
    DWORD nSeconds = kDefaultCheckSeconds;
    HANDLE hThread = nullptr;
    HANDLE hCancel = nullptr;
    // Every listener call is made under it, and only while the runner is there.
    CCriticalSection lock;
    ICheckListener* pListener = nullptr;

    CShared() = default;
    CShared(const CShared&) = delete;
    CShared& operator=(const CShared&) = delete;
    ~CShared() {
        for (HANDLE h : {hThread, hCancel}) {
            if (h != nullptr) {
                ::CloseHandle(h);
            }
        }
    }
    void Release() {
        if (::InterlockedDecrement(&nRefs) == 0) {
            delete this;
        }
    }
    template <class Fn> void Tell(Fn fn) {
        CSingleLock lockListener(lock);
        if (pListener != nullptr) {
            fn(*pListener);
        }
    }
};

CCheckRunner::~CCheckRunner() {
    Cancel();
    // A cancelled format ends within a second; a thread held longer by a camera is left to
    // end on its own, and says nothing more.
    Wait(1000);
    Detach();
}

void CCheckRunner::Detach() {
    if (m_pShared == nullptr) {
        return;
    }
    {
        CSingleLock lock(m_pShared->lock);
        m_pShared->pListener = nullptr;
    }
    m_pShared->Release();
    m_pShared = nullptr;
}

bool CCheckRunner::Start(const std::wstring& deviceDisplayName,
                         const std::vector<VideoFormat>& formats, DWORD nSeconds,
                         ICheckListener* pListener) {
    if (IsRunning() || pListener == nullptr) {
        return false;
    }
    Detach(); // a finished thread's
    auto* pShared = new (std::nothrow) CShared;
    if (pShared == nullptr) {
        return false;
    }
    try {
        pShared->strDevice = deviceDisplayName;
        pShared->formats = formats;
    } catch (...) {
        delete pShared;
        return false;
    }
    pShared->nSeconds = nSeconds;
    pShared->pListener = pListener;
    pShared->hCancel = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (pShared->hCancel != nullptr) {
        pShared->hThread = ::CreateThread(nullptr, 0, ThreadProc, pShared, 0, nullptr);
    }
    if (pShared->hThread == nullptr) {
        delete pShared;
        return false;
    }
    m_pShared = pShared;
    return true;
}

void CCheckRunner::Cancel() {
    if (m_pShared != nullptr) {
        ::SetEvent(m_pShared->hCancel);
    }
}

bool CCheckRunner::Wait(DWORD nMilliseconds) {
    return m_pShared == nullptr ||
           ::WaitForSingleObject(m_pShared->hThread, nMilliseconds) == WAIT_OBJECT_0;
}

bool CCheckRunner::IsRunning() const {
    return m_pShared != nullptr && ::WaitForSingleObject(m_pShared->hThread, 0) == WAIT_TIMEOUT;
}

DWORD WINAPI CCheckRunner::ThreadProc(void* pParam) {
    auto* pShared = static_cast<CShared*>(pParam);
    {
        CComApartment apartment;
        try {
            RunChecks(*pShared);
        } catch (...) {
            // Out of memory mid-check: the check ends as cancelled; nothing leaves the thread.
            pShared->Tell([](ICheckListener& listener) { listener.OnCheckFinished(true); });
        }
    }
    pShared->Release();
    return 0;
}

void CCheckRunner::RunChecks(CShared& shared) {
    bool bCancelled = false;
    size_t nCount = shared.formats.size();
    CComRef<IBaseFilter> pRenderer;
    CComRef<IPin> pRendererPin;
    CreateRendererPin(&pRenderer, &pRendererPin); // without one, the column says "-"

    for (size_t i = 0; i < nCount && !bCancelled; ++i) {
        if (::WaitForSingleObject(shared.hCancel, 0) == WAIT_OBJECT_0) {
            bCancelled = true;
            break;
        }
        CString strEntry;
        GetFormatEntryText(shared.formats[i], strEntry);
        std::wstring entry = static_cast<const wchar_t*>(strEntry);
        // A format takes about a quarter second beyond its window: bind, first sample, teardown.
        auto nMsLeft = static_cast<DWORD>((nCount - i) * (shared.nSeconds * 1000 + kOverheadMs));
        shared.Tell(
            [&](ICheckListener& listener) { listener.OnFormatStarted(i, nCount, entry, nMsLeft); });
        CFormatMeasurement row = CheckFormat(shared.strDevice, shared.formats[i], shared.nSeconds,
                                             shared.hCancel, pRendererPin);
        bCancelled = row.bCancelled;
        shared.Tell([&](ICheckListener& listener) { listener.OnRowDone(i, row); });
    }
    shared.Tell([&](ICheckListener& listener) { listener.OnCheckFinished(bCancelled); });
}
