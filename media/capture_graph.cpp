#include "media/capture_graph.h"

#include "capture/device_catalogue.h"
#include "framework/apartment.h"

#include <new>

// What the graph holds, shared by the graph object and the thread that stops it: the last of
// the two to let go releases the camera.
struct CCaptureGraph::CParts {
    LONG nRefs = 1;
    HANDLE hTakenApart = nullptr; // set by the stop's thread
    CComRef<IBaseFilter> pCamera;
    CComRef<IPin> pCapturePin;
    CComRef<IGraphBuilder> pGraph;
    CComRef<IMediaControl> pControl;
    CComRef<IMediaEvent> pEvents;
    CComRef<IBaseFilter> pSink;
    CComRef<IPin> pSinkPin;

    CParts() = default;
    CParts(const CParts&) = delete;
    CParts& operator=(const CParts&) = delete;
    ~CParts() {
        if (hTakenApart != nullptr) {
            ::CloseHandle(hTakenApart);
        }
    }
    void AddRef() { ::InterlockedIncrement(&nRefs); }
    void Release() {
        if (::InterlockedDecrement(&nRefs) == 0) {
            delete this;
        }
    }
    // Taken apart explicitly: the pins hold each other until disconnected.
    void TakeApart() {
        if (pControl != nullptr) {
            pControl->Stop();
        }
        if (pGraph != nullptr) {
            if (pCapturePin != nullptr) {
                pGraph->Disconnect(pCapturePin);
            }
            if (pSinkPin != nullptr) {
                pGraph->Disconnect(pSinkPin);
            }
            if (pSink != nullptr) {
                pGraph->RemoveFilter(pSink);
            }
            if (pCamera != nullptr) {
                pGraph->RemoveFilter(pCamera);
            }
        }
    }
};

namespace {

template <class T> void Hold(CComRef<T>& ref, T* p) {
    p->AddRef();
    *&ref = p;
}

} // namespace

CCaptureGraph::~CCaptureGraph() {
    Stop(kDefaultStopWaitMs);
    if (m_pParts != nullptr) {
        m_pParts->Release();
    }
}

bool CCaptureGraph::Build(const std::wstring& strDisplayName, const VideoFormat& format,
                          IBaseFilter* pSink, IPin* pSinkPin, std::wstring& failure) {
    if (m_pParts != nullptr) {
        failure = L"the graph is built already";
        return false;
    }
    m_pParts = new (std::nothrow) CParts;
    if (m_pParts == nullptr) {
        failure = L"out of memory";
        return false;
    }
    CParts& parts = *m_pParts;
    HRESULT hr = BindDeviceByName(strDisplayName.c_str(), &parts.pCamera);
    if (hr != S_OK) {
        failure =
            hr == VFW_E_NOT_FOUND ? L"the camera is not there" : L"the camera could not be opened";
        return false;
    }
    if (FAILED(FindCapturePin(parts.pCamera, &parts.pCapturePin)) || parts.pCapturePin == nullptr) {
        failure = L"no capture pin";
        return false;
    }
    CComRef<IAMStreamConfig> pConfig;
    if (parts.pCapturePin->QueryInterface(IID_IAMStreamConfig, pConfig.Out()) != S_OK) {
        failure = L"the camera cannot be given a format";
        return false;
    }
    VIDEO_STREAM_CONFIG_CAPS caps{};
    MediaTypeHolder pType = FindCapability(pConfig, format, caps);
    if (pType == nullptr) {
        failure = L"the camera no longer offers the format";
        return false;
    }
    const VIDEOINFOHEADER* pvih = GetVideoInfo(*pType);
    m_bFromCapability = pvih == nullptr || pvih->AvgTimePerFrame <= 0;
    m_frameTime = m_bFromCapability ? caps.MinFrameInterval : pvih->AvgTimePerFrame;
    if (pConfig->SetFormat(pType.get()) != S_OK) {
        failure = L"the camera refused the format";
        return false;
    }
    m_pType = std::move(pType);
    if (::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                           parts.pGraph.Out()) != S_OK) {
        failure = L"no filter graph";
        return false;
    }
    if (parts.pGraph->AddFilter(parts.pCamera, L"Video Capture") != S_OK ||
        parts.pGraph->AddFilter(pSink, L"Sink") != S_OK) {
        failure = L"the graph did not take the camera";
        return false;
    }
    Hold(parts.pSink, pSink);
    if (FAILED(parts.pGraph->ConnectDirect(parts.pCapturePin, pSinkPin, m_pType.get()))) {
        failure = L"the capture pin did not connect";
        return false;
    }
    Hold(parts.pSinkPin, pSinkPin);
    if (parts.pGraph->QueryInterface(IID_IMediaControl, parts.pControl.Out()) != S_OK) {
        failure = L"no media control";
        return false;
    }
    parts.pGraph->QueryInterface(IID_IMediaEvent, parts.pEvents.Out());
    return true;
}

IBaseFilter* CCaptureGraph::Camera() const {
    return m_pParts != nullptr ? static_cast<IBaseFilter*>(m_pParts->pCamera) : nullptr;
}

HRESULT CCaptureGraph::Run() {
    return m_pParts != nullptr && m_pParts->pControl != nullptr && !m_bStopped
               ? m_pParts->pControl->Run()
               : E_UNEXPECTED;
}

CStreamEvents CCaptureGraph::Events() {
    return DrainStreamEvents(m_pParts != nullptr ? static_cast<IMediaEvent*>(m_pParts->pEvents)
                                                 : nullptr);
}

void CALLBACK CCaptureGraph::StopCallback(PTP_CALLBACK_INSTANCE, void* pParam) {
    auto* pParts = static_cast<CParts*>(pParam);
    CComApartment apartment;
    pParts->TakeApart();
    ::SetEvent(pParts->hTakenApart);
    pParts->Release();
}

bool CCaptureGraph::Stop(DWORD nMs) {
    if (m_pParts == nullptr || m_bStopped) {
        return !m_bStuck;
    }
    m_bStopped = true;
    // The thread holds its own reference: a stop that returns late finds the graph there.
    m_pParts->hTakenApart = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool bPosted = false;
    if (m_pParts->hTakenApart != nullptr) {
        m_pParts->AddRef();
        // A thread of the system's pool: one made for each stop (every library told of its
        // start and its end) took longer than the stop itself. A stuck stop keeps its thread;
        // the pool makes another for the next.
        bPosted = ::TrySubmitThreadpoolCallback(StopCallback, m_pParts, nullptr) != FALSE;
        if (!bPosted) {
            m_pParts->Release();
        }
    }
    if (!bPosted) {
        m_pParts->TakeApart(); // no thread to spare: here, without a bound
        return true;
    }
    m_bStuck = ::WaitForSingleObject(m_pParts->hTakenApart, nMs) != WAIT_OBJECT_0;
    return !m_bStuck;
}
