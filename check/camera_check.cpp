#include "check/camera_check.h"

#include "capture/capture_platform.h"
#include "capture/device_catalogue.h"
#include "check/check_sink.h"

#include <uuids.h>

#include <algorithm>
#include <memory>

namespace {

double TicksToMs(LONGLONG nTicks, LONGLONG nFrequency) {
    return static_cast<double>(nTicks) * 1000.0 / static_cast<double>(nFrequency);
}

// The capture filter whose moniker has that display name, bound afresh.
const wchar_t* BindDevice(const std::wstring& displayName, IBaseFilter** ppFilter) {
    HRESULT hr = BindDeviceByName(displayName.c_str(), ppFilter);
    if (hr == VFW_E_NOT_FOUND) {
        return L"the camera is not there";
    }
    return hr == S_OK ? nullptr : L"the camera could not be opened";
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

// The streaming part: the graph built, run, measured and taken down; the camera stays with
// the caller.
void MeasureInGraph(IBaseFilter* pCamera, IPin* pCapturePin, const AM_MEDIA_TYPE& mt,
                    DWORD nSeconds, HANDLE hCancel, IPin* pRendererPin, CFormatMeasurement& row) {
    CComRef<IGraphBuilder> pGraph;
    if (::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                           pGraph.Out()) != S_OK) {
        row.strFailure = L"no filter graph";
        return;
    }
    CSinkRef<CCheckSink> sink;
    if (CCheckSink::Create(true, sink) != S_OK) {
        row.strFailure = L"out of memory";
        return;
    }
    CCheckSink& check = sink.Consumer();
    CComRef<IMediaControl> pControl;
    CComRef<IMediaEvent> pEvents;
    if (pGraph->AddFilter(pCamera, L"Video Capture") != S_OK ||
        pGraph->AddFilter(sink.Filter(), L"Check Sink") != S_OK) {
        row.strFailure = L"the graph did not take the camera";
    } else if (FAILED(pGraph->ConnectDirect(pCapturePin, sink.Pin(), &mt))) {
        row.strFailure = L"the capture pin did not connect";
    } else if (pGraph->QueryInterface(IID_IMediaControl, pControl.Out()) != S_OK) {
        row.strFailure = L"no media control";
    }
    if (row.strFailure.empty()) {
        pGraph->QueryInterface(IID_IMediaEvent, pEvents.Out());
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
        ::QueryPerformanceCounter(&runAt);
        if (FAILED(pControl->Run())) {
            row.strFailure = L"the graph did not run";
        } else {
            // Up to 5 s for the first sample.
            bool bFirst = false;
            ULONGLONG nStart = ::GetTickCount64();
            while (!bFirst && !row.bCancelled) {
                ULONGLONG nElapsed = ::GetTickCount64() - nStart;
                if (nElapsed >= kFirstSampleTimeoutMs) {
                    break;
                }
                DWORD nWait =
                    static_cast<DWORD>(std::min<ULONGLONG>(100, kFirstSampleTimeoutMs - nElapsed));
                row.bCancelled = WaitOrCancel(check.FirstSampleEvent(), hCancel, nWait, bFirst);
            }
            bool bAborted = false;
            LONGLONG nWindowTicks = frequency.QuadPart * static_cast<LONGLONG>(nSeconds);
            LONGLONG nFirstAt = 0;
            if (bFirst) {
                CSinkFigures early;
                check.GetFigures(early);
                nFirstAt = early.arrivals.empty() ? runAt.QuadPart : early.arrivals.front();
                for (;;) {
                    LARGE_INTEGER now;
                    ::QueryPerformanceCounter(&now);
                    LONGLONG nLeft = nFirstAt + nWindowTicks - now.QuadPart;
                    if (nLeft <= 0 || row.bCancelled) {
                        break;
                    }
                    if (DrainStreamEvents(pEvents).Stopped()) {
                        bAborted = true;
                        break;
                    }
                    bool bUnused = false;
                    auto nWait = static_cast<DWORD>(
                        std::min<double>(100.0, TicksToMs(nLeft, frequency.QuadPart) + 1));
                    row.bCancelled = WaitOrCancel(nullptr, hCancel, nWait, bUnused);
                }
                bAborted = bAborted || DrainStreamEvents(pEvents).Stopped();
            }
            // The camera's own count, where it keeps one, before the stop ends the run.
            CComRef<IAMDroppedFrames> pDropped;
            long nDropped = 0;
            bool bCameraCounts =
                pCamera->QueryInterface(IID_IAMDroppedFrames, pDropped.Out()) == S_OK &&
                pDropped->GetNumDropped(&nDropped) == S_OK;
            pControl->Stop();
            // The pictures still being decoded, unless cancelled.
            check.FinishDecoding(row.bCancelled ? 0 : kFirstSampleTimeoutMs);

            if (!bFirst) {
                if (!row.bCancelled) {
                    row.strFailure = L"no frame within 5 s";
                }
            } else {
                row.bStarted = true;
                CSinkFigures figures;
                check.GetFigures(figures);
                std::vector<double> arrivalsMs;
                for (LONGLONG nAt : figures.arrivals) {
                    if (nAt - nFirstAt <= nWindowTicks) {
                        arrivalsMs.push_back(TicksToMs(nAt - nFirstAt, frequency.QuadPart));
                    }
                }
                row.dFirstSampleMs = TicksToMs(nFirstAt - runAt.QuadPart, frequency.QuadPart);
                row.nSamples = static_cast<long>(arrivalsMs.size());
                // Samples at both ends of the window: n of them span n - 1 intervals.
                row.dMeasuredFps = static_cast<double>(std::max<long>(row.nSamples - 1, 0)) /
                                   static_cast<double>(nSeconds);
                CIntervalStats stats = ComputeIntervals(arrivalsMs, row.dNominalFps);
                row.dMedianMs = stats.dMedianMs;
                row.dP95Ms = stats.dP95Ms;
                row.dLongestMs = stats.dLongestMs;
                if (bCameraCounts) {
                    row.nDropped = nDropped;
                    row.dropSource = DropSource::Camera;
                } else if (row.dNominalFps > 0) {
                    row.nDropped = stats.nLong;
                    row.dropSource = DropSource::Intervals;
                }
                row.nShort = figures.nShort;
                row.nEmpty = figures.nEmpty;
                row.nOversized = figures.nOversized;
                row.nBlack = figures.nBlack;
                row.nFrozen = figures.nFrozen;
                if (figures.nUndecoded > 0) {
                    row.strNote = std::to_wstring(figures.nUndecoded) + L" pictures not decoded";
                }
                if (bAborted) {
                    row.strNote += std::wstring(row.strNote.empty() ? L"" : L"; ") +
                                   L"the camera stopped with an error";
                }
            }
        }
    }
    if (row.bCancelled) {
        row.strNote = L"cancelled";
    }
    // Taken apart explicitly: the pins hold each other until disconnected.
    if (pControl != nullptr) {
        pControl->Stop();
    }
    pGraph->Disconnect(pCapturePin);
    pGraph->Disconnect(sink.Pin());
    pGraph->RemoveFilter(sink.Filter());
    pGraph->RemoveFilter(pCamera);
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

    CComRef<IBaseFilter> pCamera;
    if (const wchar_t* pszFailure = BindDevice(deviceDisplayName, &pCamera)) {
        row.strFailure = pszFailure;
        return row;
    }
    CComRef<IPin> pPin;
    if (FAILED(FindCapturePin(pCamera, &pPin)) || pPin == nullptr) {
        row.strFailure = L"no capture pin";
        return row;
    }
    CComRef<IAMStreamConfig> pConfig;
    if (pPin->QueryInterface(IID_IAMStreamConfig, pConfig.Out()) != S_OK) {
        row.strFailure = L"the camera cannot be given a format";
        return row;
    }
    VIDEO_STREAM_CONFIG_CAPS caps{};
    MediaTypeHolder pType = FindCapability(pConfig, format, caps);
    if (pType == nullptr) {
        row.strFailure = L"the camera no longer offers the format";
        return row;
    }
    const VIDEOINFOHEADER* pvih = GetVideoInfo(*pType);
    if (pvih != nullptr && pvih->AvgTimePerFrame > 0) {
        row.dNominalFps = 1e7 / static_cast<double>(pvih->AvgTimePerFrame);
        row.nominalSource = NominalSource::MediaType;
    } else if (caps.MinFrameInterval > 0) {
        row.dNominalFps = 1e7 / static_cast<double>(caps.MinFrameInterval);
        row.nominalSource = NominalSource::Capability;
    }
    // Before the camera joins a graph, as the preview does.
    if (pConfig->SetFormat(pType.get()) != S_OK) {
        row.strFailure = L"the camera refused the format";
        return row;
    }
    MeasureInGraph(pCamera, pPin, *pType, nSeconds, hCancel, pRendererPin, row);
    return row;
}

CCheckRunner::~CCheckRunner() {
    Cancel();
    Wait(INFINITE);
}

bool CCheckRunner::Start(const std::wstring& deviceDisplayName,
                         const std::vector<VideoFormat>& formats, DWORD nSeconds,
                         ICheckListener* pListener) {
    if (IsRunning() || pListener == nullptr) {
        return false;
    }
    Wait(INFINITE); // a finished thread's handle
    try {
        m_strDevice = deviceDisplayName;
        m_formats = formats;
    } catch (...) {
        return false;
    }
    m_nSeconds = nSeconds;
    m_pListener = pListener;
    if (m_hCancel == nullptr) {
        m_hCancel = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (m_hCancel == nullptr) {
            return false;
        }
    }
    ::ResetEvent(m_hCancel);
    m_hThread = ::CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    return m_hThread != nullptr;
}

void CCheckRunner::Cancel() {
    if (m_hCancel != nullptr) {
        ::SetEvent(m_hCancel);
    }
}

bool CCheckRunner::Wait(DWORD nMilliseconds) {
    if (m_hThread == nullptr) {
        return true;
    }
    if (::WaitForSingleObject(m_hThread, nMilliseconds) != WAIT_OBJECT_0) {
        return false;
    }
    ::CloseHandle(m_hThread);
    m_hThread = nullptr;
    if (m_hCancel != nullptr) {
        ::CloseHandle(m_hCancel);
        m_hCancel = nullptr;
    }
    return true;
}

bool CCheckRunner::IsRunning() const {
    return m_hThread != nullptr && ::WaitForSingleObject(m_hThread, 0) == WAIT_TIMEOUT;
}

DWORD WINAPI CCheckRunner::ThreadProc(void* pParam) {
    auto* pRunner = static_cast<CCheckRunner*>(pParam);
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        pRunner->RunChecks();
    } catch (...) {
        // Out of memory mid-check: the check ends as cancelled; nothing leaves the thread.
        pRunner->m_pListener->OnCheckFinished(true);
    }
    if (SUCCEEDED(hr)) {
        ::CoUninitialize();
    }
    return 0;
}

void CCheckRunner::RunChecks() {
    bool bCancelled = false;
    size_t nCount = m_formats.size();
    CComRef<IBaseFilter> pRenderer;
    CComRef<IPin> pRendererPin;
    CreateRendererPin(&pRenderer, &pRendererPin); // without one, the column says "-"

    for (size_t i = 0; i < nCount && !bCancelled; ++i) {
        if (::WaitForSingleObject(m_hCancel, 0) == WAIT_OBJECT_0) {
            bCancelled = true;
            break;
        }
        CString strEntry;
        GetFormatEntryText(m_formats[i], strEntry);
        // A format takes about a quarter second beyond its window: bind, first sample, teardown.
        auto nMsLeft = static_cast<DWORD>((nCount - i) * (m_nSeconds * 1000 + kOverheadMs));
        m_pListener->OnFormatStarted(i, nCount, static_cast<const wchar_t*>(strEntry), nMsLeft);
        CFormatMeasurement row =
            CheckFormat(m_strDevice, m_formats[i], m_nSeconds, m_hCancel, pRendererPin);
        bCancelled = row.bCancelled;
        m_pListener->OnRowDone(i, row);
    }
    m_pListener->OnCheckFinished(bCancelled);
}
