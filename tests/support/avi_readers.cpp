#include "support/avi_readers.h"

#include "capture/capture_platform.h"

#include <qedit.h>
#include <uuids.h>

#include <algorithm>
#include <functional>
#include <thread>

// In the platform's import library, though no header of the toolchain declares them.
EXTERN_C const CLSID CLSID_SampleGrabber;
EXTERN_C const CLSID CLSID_NullRenderer;

namespace {

class CGrabber final : public ISampleGrabberCB {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = riid == IID_IUnknown || riid == IID_ISampleGrabberCB ? this : nullptr;
        return *ppv != nullptr ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample* pSample) override {
        REFERENCE_TIME start = 0;
        REFERENCE_TIME stop = 0;
        pSample->GetTime(&start, &stop);
        BYTE* pData = nullptr;
        pSample->GetPointer(&pData);
        const long nSize = pSample->GetActualDataLength();
        std::vector<BYTE> data;
        if (nSize <= 65536) {
            data.assign(pData, pData + nSize);
        }
        m_samples.push_back({start, nSize, std::move(data)});
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }
    std::vector<CSample> m_samples; // the graph's streaming thread only, until it stops
};

IPin* FindPin(IBaseFilter* pFilter, PIN_DIRECTION direction) {
    CComRef<IEnumPins> pPins;
    if (FAILED(pFilter->EnumPins(&pPins))) {
        return nullptr;
    }
    for (IPin* pPin = nullptr; pPins->Next(1, &pPin, nullptr) == S_OK;) {
        PIN_DIRECTION d;
        if (SUCCEEDED(pPin->QueryDirection(&d)) && d == direction) {
            return pPin;
        }
        pPin->Release();
    }
    return nullptr;
}

void ReadOnThisThread(const std::wstring& path, LONG nFrames, CAviFileView& view) {
    ::AVIFileInit();
    PAVIFILE pFile = nullptr;
    PAVISTREAM pStream = nullptr;
    view.hr = ::AVIFileOpenW(&pFile, path.c_str(), OF_READ | OF_SHARE_DENY_NONE, nullptr);
    if (SUCCEEDED(view.hr)) {
        view.hr = ::AVIFileGetStream(pFile, &pStream, streamtypeVIDEO, 0);
    }
    LONG cb = sizeof(view.bih);
    if (SUCCEEDED(view.hr)) {
        view.hr = ::AVIStreamInfoW(pStream, &view.info, sizeof(view.info));
    }
    if (SUCCEEDED(view.hr)) {
        view.hr = ::AVIStreamReadFormat(pStream, 0, &view.bih, &cb);
        view.nLength = ::AVIStreamLength(pStream);
    }
    for (LONG i = 0; SUCCEEDED(view.hr) && i < std::min(view.nLength, nFrames); ++i) {
        LONG nBytes = 0;
        view.hr = ::AVIStreamRead(pStream, i, 1, nullptr, 0, &nBytes, nullptr);
        std::vector<BYTE> frame(static_cast<size_t>(nBytes));
        if (SUCCEEDED(view.hr) && nBytes > 0) {
            view.hr = ::AVIStreamRead(pStream, i, 1, frame.data(), nBytes, &nBytes, nullptr);
        }
        view.frames.push_back(std::move(frame));
    }
    if (pStream != nullptr) {
        ::AVIStreamRelease(pStream);
    }
    if (pFile != nullptr) {
        ::AVIFileRelease(pFile);
    }
    ::AVIFileExit();
}

} // namespace

CAviFileView ReadWithAviFile(const std::wstring& path, LONG nFrames) {
    // Wine's AVIFileInit enters an apartment (OleInitialize) that its AVIFileExit, a stub, never
    // leaves: on a thread of their own, the caller's apartment stays as it was.
    CAviFileView view;
    std::thread reader(ReadOnThisThread, std::cref(path), nFrames, std::ref(view));
    reader.join();
    return view;
}

CSplitterView ReadWithSplitter(const std::wstring& path, REFERENCE_TIME from) {
    CSplitterView view;
    CGrabber grabber;
    CComRef<IGraphBuilder> pGraph;
    CComRef<IBaseFilter> pSource;
    CComRef<IBaseFilter> pSplitter;
    CComRef<IBaseFilter> pGrab;
    CComRef<IBaseFilter> pNull;
    HRESULT& hr = view.hr;
    hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                            pGraph.Out());
    if (SUCCEEDED(hr)) {
        hr = pGraph->AddSourceFilter(path.c_str(), L"Source", &pSource);
    }
    const std::pair<const CLSID*, IBaseFilter**> filters[] = {{&CLSID_AviSplitter, &pSplitter},
                                                              {&CLSID_SampleGrabber, &pGrab},
                                                              {&CLSID_NullRenderer, &pNull}};
    for (const auto& f : filters) {
        if (SUCCEEDED(hr)) {
            hr = ::CoCreateInstance(*f.first, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    reinterpret_cast<void**>(f.second));
        }
        if (SUCCEEDED(hr)) {
            hr = pGraph->AddFilter(*f.second, nullptr);
        }
    }
    CComRef<ISampleGrabber> pSettings;
    if (SUCCEEDED(hr)) {
        hr = pGrab->QueryInterface(IID_ISampleGrabber, pSettings.Out());
    }
    if (SUCCEEDED(hr)) {
        hr = pSettings->SetCallback(&grabber, 0);
    }
    IBaseFilter* chain[] = {pSource, pSplitter, pGrab, pNull};
    for (size_t i = 0; SUCCEEDED(hr) && i + 1 < 4; ++i) {
        CComRef<IPin> pOut;
        CComRef<IPin> pIn;
        *&pOut = FindPin(chain[i], PINDIR_OUTPUT);
        *&pIn = FindPin(chain[i + 1], PINDIR_INPUT);
        hr = pOut != nullptr && pIn != nullptr ? pGraph->ConnectDirect(pOut, pIn, nullptr)
                                               : E_NOINTERFACE;
    }
    AM_MEDIA_TYPE mt{};
    if (SUCCEEDED(hr) && SUCCEEDED(pSettings->GetConnectedMediaType(&mt))) {
        view.subtype = mt.subtype;
        if (const VIDEOINFOHEADER* pvih = GetVideoInfo(mt)) {
            view.nHeight = pvih->bmiHeader.biHeight;
        }
        FreeMediaType(mt);
    }
    CComRef<IMediaFilter> pMediaFilter;
    CComRef<IMediaSeeking> pSeeking;
    CComRef<IMediaControl> pControl;
    CComRef<IMediaEvent> pEvents;
    if (SUCCEEDED(hr)) {
        hr = pGraph->QueryInterface(IID_IMediaFilter, pMediaFilter.Out());
    }
    if (SUCCEEDED(hr)) {
        hr = pMediaFilter->SetSyncSource(nullptr);
    }
    if (SUCCEEDED(hr)) {
        hr = pGraph->QueryInterface(IID_IMediaSeeking, pSeeking.Out());
    }
    if (SUCCEEDED(hr)) {
        hr = pSeeking->GetDuration(&view.duration);
    }
    if (SUCCEEDED(hr) && from > 0) {
        hr = pSeeking->SetPositions(&from, AM_SEEKING_AbsolutePositioning, nullptr,
                                    AM_SEEKING_NoPositioning);
    }
    if (SUCCEEDED(hr)) {
        hr = pGraph->QueryInterface(IID_IMediaControl, pControl.Out());
    }
    if (SUCCEEDED(hr)) {
        hr = pGraph->QueryInterface(IID_IMediaEvent, pEvents.Out());
    }
    if (SUCCEEDED(hr)) {
        hr = pControl->Run();
    }
    long nCode = 0;
    if (SUCCEEDED(hr)) {
        hr = pEvents->WaitForCompletion(30000, &nCode);
        pControl->Stop();
    }
    if (SUCCEEDED(hr) && nCode != EC_COMPLETE) {
        hr = E_FAIL;
    }
    view.samples = std::move(grabber.m_samples);
    if (pGraph != nullptr) {
        // Taken apart here: the grabber on this stack must not outlive the graph's hold.
        for (IBaseFilter* pFilter : chain) {
            if (pFilter != nullptr) {
                pGraph->RemoveFilter(pFilter);
            }
        }
    }
    return view;
}

// Every picture checked: MJPG decoded at the size, an uncompressed one as large as its format.
CPlayback Play(const std::wstring& path, LONG nWidth, LONG nHeight, size_t nRawBytes) {
    CPlayback play;
    play.file = ReadWithAviFile(path);
    if (play.file.hr != S_OK) {
        return play;
    }
    const AVISTREAMINFOW& info = play.file.info;
    play.dRate = info.dwScale != 0 ? static_cast<double>(info.dwRate) / info.dwScale : 0;
    play.dSeconds = play.dRate > 0 ? play.file.nLength / play.dRate : 0;
    const bool bMjpg = play.file.bih.biCompression == mmioFOURCC('M', 'J', 'P', 'G');
    CJpegDecoder jpeg;
    jpeg.Open();
    for (const std::vector<BYTE>& frame : play.file.frames) {
        if (frame.empty()) {
            continue;
        }
        ++play.nPictures;
        const bool bWhole = bMjpg ? jpeg.Decode(frame.data(), frame.size(), play.last) &&
                                        play.last.nWidth == static_cast<UINT>(nWidth) &&
                                        play.last.nHeight == static_cast<UINT>(nHeight)
                                  : frame.size() == nRawBytes;
        play.nUndecoded += bWhole ? 0 : 1;
    }
    return play;
}
