// The preview graph: the chosen device rendered to the platform's video renderer, whose window
// sits inside the picture frame; torn down again, and paused and resumed on timers.
#include "framework/app.h"
#include "ui/lookwell_dlg.h"

#include <uuids.h>

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <memory>

namespace {

// What GetState leaves in a state it did not deliver: neither paused nor running.
constexpr OAFilterState kNoState = -1;

// The pause cycle is armed by an executable whose name, without extension, ends in "pr".
bool AppNameEndsInPr() {
    const wchar_t* pszName = AfxGetAppName();
    size_t nLength = pszName != nullptr ? std::wcslen(pszName) : 0;
    return nLength >= 2 && std::towlower(pszName[nLength - 2]) == L'p' &&
           std::towlower(pszName[nLength - 1]) == L'r';
}

// An output pin of the filter that nothing is connected to, the one of that name preferred.
HRESULT FindFreeOutput(IBaseFilter* pFilter, const wchar_t* pszPreferred, IPin** ppPin) {
    CComRef<IEnumPins> pPins;
    HRESULT hr = pFilter->EnumPins(&pPins);
    if (FAILED(hr)) {
        return hr;
    }
    for (;;) {
        CComRef<IPin> pPin;
        if (pPins->Next(1, &pPin, nullptr) != S_OK) {
            return *ppPin != nullptr ? S_OK : VFW_E_NOT_FOUND;
        }
        PIN_DIRECTION dir = PINDIR_INPUT;
        CComRef<IPin> pPeer;
        if (FAILED(pPin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT ||
            pPin->ConnectedTo(&pPeer) == S_OK) {
            continue;
        }
        PIN_INFO info{};
        bool bPreferred =
            SUCCEEDED(pPin->QueryPinInfo(&info)) && std::wcscmp(info.achName, pszPreferred) == 0;
        if (info.pFilter != nullptr) {
            info.pFilter->Release();
        }
        if (*ppPin == nullptr || bPreferred) {
            if (*ppPin != nullptr) {
                (*ppPin)->Release();
            }
            *ppPin = pPin;
            (*ppPin)->AddRef();
        }
        if (bPreferred) {
            return S_OK;
        }
    }
}

// Where the capture stream can be shared: the camera's capture pin when the preview has a pin of
// its own, else the capture output of the smart tee that the graph builder put on the capture
// pin for the preview.
HRESULT FindTapSource(IPin* pCapture, IPin** ppSource) {
    *ppSource = nullptr;
    CComRef<IPin> pPeer;
    if (pCapture->ConnectedTo(&pPeer) != S_OK) {
        *ppSource = pCapture;
        pCapture->AddRef();
        return S_OK;
    }
    PIN_INFO info{};
    HRESULT hr = pPeer->QueryPinInfo(&info);
    if (FAILED(hr) || info.pFilter == nullptr) {
        return FAILED(hr) ? hr : E_UNEXPECTED;
    }
    CComRef<IBaseFilter> pTee;
    *&pTee = info.pFilter;
    CLSID clsid = CLSID_NULL;
    if (FAILED(pTee->GetClassID(&clsid)) || clsid != CLSID_SmartTee) {
        return VFW_E_NOT_FOUND;
    }
    return FindFreeOutput(pTee, L"Capture", ppSource);
}

// What the camera answered to the graph's run. Wine's graph keeps the first answer that is not
// S_OK from its filters, downstream first (the renderer's S_FALSE, waiting for a picture, or a
// general failure), so the camera's own reason is lost: a camera that stayed stopped is asked
// once more for its answer.
HRESULT CameraRunAnswer(IGraphBuilder* pGraph, HRESULT hrGraph) {
    CComRef<IBaseFilter> pCamera;
    FILTER_STATE state = State_Running;
    if (FAILED(pGraph->FindFilterByName(L"Video Capture", &pCamera)) ||
        FAILED(pCamera->GetState(0, &state)) || state != State_Stopped) {
        return hrGraph;
    }
    HRESULT hr = pCamera->Pause();
    pCamera->Stop();
    return FAILED(hr) ? hr : hrGraph;
}

} // namespace

StageResult CLookwellDlg::BuildPreviewGraph(int nDeviceIndex, int nFormatIndex) {
    // Positions the lists do not have fail as a device the platform does not have would.
    VideoFormat wanted;
    if (!GetFormat(nDeviceIndex, nFormatIndex, wanted)) {
        return MakeStageResult(4, static_cast<DWORD>(S_FALSE));
    }
    const int nPosition = GetDeviceFormats(nDeviceIndex)->m_nMonikerPosition;
    m_strPreviewDevice = GetDeviceFormats(nDeviceIndex)->m_strDisplayName;

    // The device's own position in the enumeration, which the list position is not once a
    // device ahead of it was left out of the list.
    HRESULT hr = S_OK;
    DWORD nStage = 0;
    {
        CDeviceWalk walk; // released after the bind: moniker, class and device enumerator
        nStage = walk.Find(nPosition, hr);
        if (nStage == 0) {
            m_pCaptureFilter = nullptr;
            hr = walk.m_pMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                               reinterpret_cast<void**>(&m_pCaptureFilter));
            if (hr != S_OK) {
                nStage = 5;
                m_pCaptureFilter = nullptr; // a failed call hands out nothing
            }
        }
    }
    if (nStage != 0) {
        m_hrStartFailure = hr;
        return MakeStageResult(nStage, static_cast<DWORD>(hr));
    }

    m_pGraph = nullptr;
    hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                            reinterpret_cast<void**>(&m_pGraph));
    if (hr != S_OK) {
        return FailBuild(6, hr);
    }
    m_pBuilder = nullptr;
    hr = ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                            IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&m_pBuilder));
    if (hr != S_OK) {
        return FailBuild(7, hr);
    }

    // Before the filter joins a graph: a format set on a connected pin makes the platform
    // reconnect it, after which its smart tee passes nothing on. A format the device refuses
    // fails the start: the window would be laid out and titled for a format it does not show.
    hr = ChooseFormat(wanted);
    if (FAILED(hr)) {
        return FailBuild(14, hr);
    }

    hr = m_pBuilder->SetFiltergraph(m_pGraph);
    if (hr != S_OK) {
        return FailBuild(8, hr);
    }
    m_pMediaControl = nullptr;
    hr = m_pGraph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_pMediaControl));
    if (hr != S_OK) {
        return FailBuild(9, hr);
    }
    hr = m_pGraph->AddFilter(m_pCaptureFilter, L"Video Capture");
    if (hr != S_OK) {
        return FailBuild(10, hr);
    }
    // VFW_S_NOPREVIEWPIN: no preview pin of its own; the builder splits the capture stream.
    hr = m_pBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, m_pCaptureFilter,
                                  nullptr, nullptr);
    if (hr != S_OK && hr != VFW_S_NOPREVIEWPIN) {
        return FailBuild(11, hr);
    }
    if (m_bPreviewTap) {
        ConnectTap(wanted);
    }
    m_pCaptureFilter->Release(); // the graph keeps it
    m_pCaptureFilter = nullptr;

    m_pVideoWindow = nullptr;
    hr = m_pGraph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&m_pVideoWindow));
    if (hr != S_OK) {
        return FailBuild(12, hr);
    }
    SetUpVideoWindow();

    hr = m_pMediaControl->Run();
    if (hr == S_FALSE) {
        // Still changing state: a bounded wait for running.
        OAFilterState state = kNoState;
        hr = m_pMediaControl->GetState(5000, &state);
        if (hr == S_OK && state != State_Running) {
            return FailBuild(13, CameraRunAnswer(m_pGraph, S_OK));
        }
    }
    if (hr != S_OK) {
        return FailBuild(13, CameraRunAnswer(m_pGraph, hr));
    }

    // A capture driver tells of a device that stopped (unplugged, failed) through the graph's
    // events: they come to the window as a message.
    CComRef<IMediaEventEx> pEvents;
    if (SUCCEEDED(m_pGraph->QueryInterface(IID_IMediaEventEx, pEvents.Out()))) {
        pEvents->SetNotifyWindow(reinterpret_cast<OAHWND>(m_hWnd), WM_GRAPH_EVENT, 0);
    }

    if (AppNameEndsInPr()) {
        ::SetTimer(m_hWnd, TIMER_PAUSE_CYCLE, 1000, nullptr);
    }
    if (m_pPreviewTap != nullptr) {
        ::SetTimer(m_hWnd, TIMER_WATCHDOG, kWatchdogMs, nullptr);
    }
    return 0;
}

void CLookwellDlg::ConnectTap(const VideoFormat& format) {
    m_pPreviewTap.reset();
    CComRef<IPin> pCapture;
    CComRef<IPin> pSource;
    if (m_pBuilder->FindPin(m_pCaptureFilter, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE,
                            0, &pCapture) != S_OK ||
        FAILED(FindTapSource(pCapture, &pSource))) {
        return;
    }
    std::shared_ptr<CStreamTap> pTap;
    CComRef<CSinkFilter> pFilter;
    if (FAILED(CStreamTap::Create(pTap, &pFilter))) {
        return;
    }
    if (m_pGraph->AddFilter(pFilter, L"Stream Tap") != S_OK) {
        return;
    }
    // Directly, as the stream comes: nothing may be put between, and the preview path stays.
    if (FAILED(m_pGraph->ConnectDirect(pSource, pFilter->Pin(), nullptr))) {
        m_pGraph->RemoveFilter(pFilter);
        return;
    }
    // A media type without a frame time (Wine's capture filter's): the capability's.
    double dRate = CapabilityFrameRate(pCapture, format);
    if (dRate > 0) {
        pTap->SetNominalFrameTime(std::llround(1e7 / dRate));
    }
    m_pPreviewTap = std::move(pTap);
}

std::shared_ptr<CStreamTap> CLookwellDlg::GetPreviewTap() const {
    return m_bPreviewing ? m_pPreviewTap : nullptr;
}

void CLookwellDlg::CheckPreviewStream() {
    if (!m_bPreviewing || m_pPreviewTap == nullptr) {
        return;
    }
    CTapFigures figures;
    m_pPreviewTap->GetFigures(figures);
    bool bStopped = figures.bEnded;
    if (!bStopped && figures.state == State_Running) {
        // No picture for five frame intervals, and never less than two seconds: a pause, the
        // "...pr" cycle's included, is no stall, and the time counts from the run's start.
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        LONGLONG nSince = std::max(figures.nLastArrival, figures.nStateSince);
        LONGLONG limit = std::max<LONGLONG>(20000000, 5 * figures.nominalFrameTime);
        bStopped = CStreamTap::QpcTo100ns(now.QuadPart - nSince) > limit;
    }
    if (bStopped) {
        OnPreviewButton();
        ShowMessage(L"The capture device stopped delivering pictures.");
    }
}

LRESULT CLookwellDlg::OnGraphEvent(WPARAM, LPARAM) {
    CComRef<IMediaEvent> pEvents;
    if (!m_bPreviewing || m_pGraph == nullptr ||
        FAILED(m_pGraph->QueryInterface(IID_IMediaEvent, pEvents.Out()))) {
        return 0; // a message of a graph already gone
    }
    bool bStopped = DrainStreamEvents(pEvents).Stopped();
    if (bStopped) {
        // The Stop button's way, and one line in place of the frozen picture.
        OnPreviewButton();
        ShowMessage(L"The capture device stopped delivering pictures.");
    }
    return 0;
}

HRESULT CLookwellDlg::ChooseFormat(const VideoFormat& wanted) {
    HRESULT hr = ChooseFormatOn(PIN_CATEGORY_CAPTURE, wanted);
    if (FAILED(hr)) {
        return hr;
    }
    // The builder renders a preview pin of the device's own where there is one, which keeps
    // its own format otherwise: the picture would not be the format chosen.
    CComRef<IPin> pPreview;
    if (m_pBuilder->FindPin(m_pCaptureFilter, PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr, FALSE,
                            0, &pPreview) == S_OK) {
        hr = ChooseFormatOn(PIN_CATEGORY_PREVIEW, wanted);
    }
    return hr;
}

HRESULT CLookwellDlg::ChooseFormatOn(const GUID& category, const VideoFormat& wanted) {
    CComRef<IAMStreamConfig> pConfig;
    if (m_pBuilder->FindInterface(&category, nullptr, m_pCaptureFilter, IID_IAMStreamConfig,
                                  pConfig.Out()) != S_OK) {
        return S_FALSE;
    }
    // The chosen subtype wins among equal capabilities, so the title never names a subtype
    // that is not streaming.
    VIDEO_STREAM_CONFIG_CAPS caps;
    MediaTypeHolder pType = FindCapability(pConfig, wanted, caps);
    return pType != nullptr ? pConfig->SetFormat(pType.get()) : S_FALSE;
}

void CLookwellDlg::SetUpVideoWindow() {
    HWND hPreview = GetDlgItem(IDC_PREVIEW);
    m_pVideoWindow->put_Owner(reinterpret_cast<OAHWND>(hPreview));
    m_pVideoWindow->put_WindowStyle(WS_CHILD | WS_CLIPCHILDREN);
    m_pVideoWindow->put_MessageDrain(reinterpret_cast<OAHWND>(m_hWnd));
    RECT rcPreview;
    ::GetWindowRect(hPreview, &rcPreview);
    m_pVideoWindow->SetWindowPosition(0, 0, rcPreview.right - rcPreview.left,
                                      rcPreview.bottom - rcPreview.top);
    m_pVideoWindow->put_Visible(OATRUE);

    // The renderer passes on to its drain only what its window receives, and Wine's renderer
    // class has no CS_DBLCLKS: the second press of a double click would arrive as a plain
    // press. Added to the class of the renderer window that is now the frame's child.
    if (HWND hVideo = ::GetWindow(hPreview, GW_CHILD); hVideo != nullptr) {
        ULONG_PTR nStyle = ::GetClassLongPtrW(hVideo, GCL_STYLE);
        if ((nStyle & CS_DBLCLKS) == 0) {
            ::SetClassLongPtrW(hVideo, GCL_STYLE, static_cast<LONG_PTR>(nStyle | CS_DBLCLKS));
        }
    }
}

StageResult CLookwellDlg::FailBuild(DWORD nStage, HRESULT hr) {
    m_hrStartFailure = hr;
    if (nStage == 13) {
        StopPreview(); // hidden, detached and stopped before the releases
    } else {
        ReleasePreviewInterfaces();
    }
    return MakeStageResult(nStage, static_cast<DWORD>(hr));
}

bool CLookwellDlg::StopPreview() {
    ::KillTimer(m_hWnd, TIMER_WATCHDOG);
    m_pPreviewTap.reset();
    if (m_pVideoWindow != nullptr) {
        // Out of the frame before the graph stops and goes away with its window. Wine quirk:
        // the graph's IVideoWindow waits for the graph's lock, which a Stop that waits for the
        // driver holds (measured), so it is done first, while it answers.
        m_pVideoWindow->put_Visible(OAFALSE);
        m_pVideoWindow->put_Owner(0);
    }
    if (m_pMediaControl == nullptr) {
        ReleasePreviewInterfaces();
        return true;
    }
    // The stopping thread releases them, in this order; the members are null from here on.
    IMediaControl* pControl = m_pMediaControl;
    std::vector<IUnknown*> interfaces;
    try {
        interfaces = {m_pVideoWindow, m_pMediaControl, m_pBuilder, m_pGraph, m_pCaptureFilter};
    } catch (...) {
        pControl->Stop(); // no memory for the list: stopped here
        ReleasePreviewInterfaces();
        return true;
    }
    m_pVideoWindow = nullptr;
    m_pMediaControl = nullptr;
    m_pBuilder = nullptr;
    m_pGraph = nullptr;
    m_pCaptureFilter = nullptr;
    return m_stopper.Stop(pControl, interfaces, m_strPreviewDevice, kStopWaitMs);
}

void CLookwellDlg::ReleasePreviewInterfaces() {
    // Always in this order; members never acquired are null and skipped.
    IUnknown** members[] = {
        reinterpret_cast<IUnknown**>(&m_pVideoWindow),
        reinterpret_cast<IUnknown**>(&m_pMediaControl), reinterpret_cast<IUnknown**>(&m_pBuilder),
        reinterpret_cast<IUnknown**>(&m_pGraph), reinterpret_cast<IUnknown**>(&m_pCaptureFilter)};
    for (IUnknown** ppMember : members) {
        if (*ppMember != nullptr) {
            (*ppMember)->Release();
            *ppMember = nullptr;
        }
    }
}

void CLookwellDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == TIMER_PAUSE_CYCLE) {
        ::KillTimer(m_hWnd, TIMER_PAUSE_CYCLE);
        if (m_pMediaControl != nullptr) {
            OAFilterState state = kNoState;
            HRESULT hr = m_pMediaControl->GetState(5000, &state);
            if (hr != E_FAIL) {
                if (state == State_Paused) {
                    m_pMediaControl->Run();
                } else if (state == State_Running) {
                    m_pMediaControl->Pause();
                    ::SetTimer(m_hWnd, TIMER_PAUSE_CYCLE, 1000, nullptr);
                }
            }
        }
    } else if (nIDEvent == TIMER_WATCHDOG) {
        CheckPreviewStream();
    } else if (nIDEvent == TIMER_SINGLE_CLICK) {
        ::KillTimer(m_hWnd, TIMER_SINGLE_CLICK);
        if (m_bPreviewing && m_pMediaControl != nullptr) {
            OAFilterState state = kNoState;
            HRESULT hr = m_pMediaControl->GetState(5000, &state);
            // A paused live source answers VFW_S_CANT_CUE, a running graph S_OK.
            if (hr == S_OK && state == State_Running) {
                m_pMediaControl->Pause();
            } else if (hr != S_OK && hr != E_FAIL && state == State_Paused) {
                m_pMediaControl->Run();
            }
        }
    }
    Default();
}
