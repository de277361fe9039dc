#include "media/capture_graph.h"

#include "capture/device_catalogue.h"

#include <vector>

CCaptureGraph::~CCaptureGraph() {
    TakeDown();
}

bool CCaptureGraph::Build(const std::wstring& strDisplayName, const VideoFormat& format,
                          IBaseFilter* pSink, IPin* pSinkPin, std::wstring& failure) {
    HRESULT hr = BindDeviceByName(strDisplayName.c_str(), &m_pCamera);
    if (hr != S_OK) {
        failure =
            hr == VFW_E_NOT_FOUND ? L"the camera is not there" : L"the camera could not be opened";
        return false;
    }
    if (FAILED(FindCapturePin(m_pCamera, &m_pCapturePin)) || m_pCapturePin == nullptr) {
        failure = L"no capture pin";
        return false;
    }
    CComRef<IAMStreamConfig> pConfig;
    if (m_pCapturePin->QueryInterface(IID_IAMStreamConfig, pConfig.Out()) != S_OK) {
        failure = L"the camera cannot be given a format";
        return false;
    }
    VIDEO_STREAM_CONFIG_CAPS caps{};
    m_pType = FindCapability(pConfig, format, caps);
    if (m_pType == nullptr) {
        failure = L"the camera no longer offers the format";
        return false;
    }
    const VIDEOINFOHEADER* pvih = GetVideoInfo(*m_pType);
    m_frameTime = pvih != nullptr && pvih->AvgTimePerFrame > 0 ? pvih->AvgTimePerFrame
                                                               : caps.MinFrameInterval;
    if (pConfig->SetFormat(m_pType.get()) != S_OK) {
        failure = L"the camera refused the format";
        return false;
    }
    if (::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                           m_pGraph.Out()) != S_OK) {
        failure = L"no filter graph";
        return false;
    }
    m_pSink = pSink;
    m_pSinkPin = pSinkPin;
    if (m_pGraph->AddFilter(m_pCamera, L"Video Capture") != S_OK ||
        m_pGraph->AddFilter(pSink, L"Sink") != S_OK) {
        failure = L"the graph did not take the camera";
        return false;
    }
    if (FAILED(m_pGraph->ConnectDirect(m_pCapturePin, pSinkPin, m_pType.get()))) {
        failure = L"the capture pin did not connect";
        return false;
    }
    if (m_pGraph->QueryInterface(IID_IMediaControl, m_pControl.Out()) != S_OK) {
        failure = L"no media control";
        return false;
    }
    m_pGraph->QueryInterface(IID_IMediaEvent, m_pEvents.Out());
    return true;
}

HRESULT CCaptureGraph::Run() {
    return m_pControl != nullptr ? m_pControl->Run() : E_UNEXPECTED;
}

CStreamEvents CCaptureGraph::Events() {
    return DrainStreamEvents(m_pEvents);
}

DWORD WINAPI CCaptureGraph::StopThreadProc(void* pParam) {
    auto* pControl = static_cast<IMediaControl*>(pParam);
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    pControl->Stop();
    pControl->Release();
    if (SUCCEEDED(hr)) {
        ::CoUninitialize();
    }
    return 0;
}

bool CCaptureGraph::Stop(DWORD nMs) {
    if (m_pControl == nullptr || m_bStuck) {
        return !m_bStuck;
    }
    // The thread holds its own reference: a stop that returns late finds the graph there.
    IMediaControl* pControl = m_pControl;
    pControl->AddRef();
    HANDLE hThread = ::CreateThread(nullptr, 0, StopThreadProc, pControl, 0, nullptr);
    if (hThread == nullptr) {
        pControl->Release();
        pControl = nullptr;
        m_pControl->Stop();
        return true;
    }
    m_bStuck = ::WaitForSingleObject(hThread, nMs) != WAIT_OBJECT_0;
    ::CloseHandle(hThread);
    return !m_bStuck;
}

void CCaptureGraph::TakeDown() {
    if (m_bStuck) {
        return; // the graph's lock is held by the stop that has not returned
    }
    if (m_pGraph != nullptr) {
        if (m_pControl != nullptr) {
            m_pControl->Stop();
        }
        // Taken apart explicitly: the pins hold each other until disconnected.
        if (m_pCapturePin != nullptr) {
            m_pGraph->Disconnect(m_pCapturePin);
        }
        if (m_pSinkPin != nullptr) {
            m_pGraph->Disconnect(m_pSinkPin);
            m_pGraph->RemoveFilter(m_pSink);
        }
        if (m_pCamera != nullptr) {
            m_pGraph->RemoveFilter(m_pCamera);
        }
    }
    m_pEvents.Release();
    m_pControl.Release();
    m_pGraph.Release();
    m_pCapturePin.Release();
    m_pCamera.Release();
    m_pSink = nullptr;
    m_pSinkPin = nullptr;
}
