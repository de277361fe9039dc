#include "check/sink_filter.h"

#include "capture/capture_platform.h"

#include <dvdmedia.h>
#include <uuids.h>

#include <cstring>
#include <cwchar>
#include <new>

namespace {

// {8D3A4E62-1C7B-4F59-A0E6-5B2C9D7F3E14}
const CLSID CLSID_LookwellCheckSink = {
    0x8d3a4e62, 0x1c7b, 0x4f59, {0xa0, 0xe6, 0x5b, 0x2c, 0x9d, 0x7f, 0x3e, 0x14}};
constexpr wchar_t kPinId[] = L"In";
// About eight seconds at 30 fps; beyond it pictures are counted as not decoded.
constexpr size_t kMaxQueuedPictures = 256;

// The one pin, once.
class CPinEnum final : public IEnumPins {
public:
    CPinEnum(IPin* pPin, ULONG nAt) : m_pPin(pPin), m_nAt(nAt) { m_pPin->AddRef(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IEnumPins) {
            *ppv = static_cast<IEnumPins*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(::InterlockedIncrement(&m_nRefs));
    }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = ::InterlockedDecrement(&m_nRefs);
        if (n == 0) {
            delete this;
        }
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP Next(ULONG nWanted, IPin** ppPins, ULONG* pnFetched) override {
        if (ppPins == nullptr || (nWanted != 1 && pnFetched == nullptr)) {
            return E_POINTER;
        }
        ULONG nFetched = 0;
        if (nWanted > 0 && m_nAt == 0) {
            ppPins[0] = m_pPin;
            m_pPin->AddRef();
            m_nAt = 1;
            nFetched = 1;
        }
        if (pnFetched != nullptr) {
            *pnFetched = nFetched;
        }
        return nFetched == nWanted ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG nCount) override {
        ULONG nLeft = 1 - m_nAt;
        m_nAt = nCount >= nLeft ? 1 : m_nAt;
        return nCount <= nLeft ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_nAt = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumPins** ppEnum) override {
        if (ppEnum == nullptr) {
            return E_POINTER;
        }
        *ppEnum = new (std::nothrow) CPinEnum(m_pPin, m_nAt);
        return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~CPinEnum() { m_pPin->Release(); }
    LONG m_nRefs = 1;
    IPin* m_pPin;
    ULONG m_nAt;
};

} // namespace

// The pin lives inside the filter and shares its reference count.
STDMETHODIMP CCheckSinkPin::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IPin) {
        *ppv = static_cast<IPin*>(this);
    } else if (riid == IID_IMemInputPin) {
        *ppv = static_cast<IMemInputPin*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CCheckSinkPin::AddRef() {
    return m_filter.AddRef();
}

STDMETHODIMP_(ULONG) CCheckSinkPin::Release() {
    return m_filter.Release();
}

STDMETHODIMP CCheckSinkPin::Connect(IPin*, const AM_MEDIA_TYPE*) {
    return E_UNEXPECTED; // an input pin is connected to, it does not connect
}

STDMETHODIMP CCheckSinkPin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (pConnector == nullptr || pmt == nullptr) {
        return E_POINTER;
    }
    return m_filter.OnConnect(pConnector, *pmt);
}

STDMETHODIMP CCheckSinkPin::Disconnect() {
    if (!m_filter.m_bConnected) {
        return S_FALSE;
    }
    if (m_filter.m_state != State_Stopped) {
        return VFW_E_NOT_STOPPED;
    }
    m_filter.OnDisconnect();
    return S_OK;
}

STDMETHODIMP CCheckSinkPin::ConnectedTo(IPin** ppPin) {
    if (ppPin == nullptr) {
        return E_POINTER;
    }
    *ppPin = m_filter.m_pConnected;
    if (*ppPin == nullptr) {
        return VFW_E_NOT_CONNECTED;
    }
    (*ppPin)->AddRef();
    return S_OK;
}

STDMETHODIMP CCheckSinkPin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) {
        return E_POINTER;
    }
    if (!m_filter.m_bConnected) {
        std::memset(pmt, 0, sizeof(*pmt));
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(*pmt, m_filter.m_mt);
}

STDMETHODIMP CCheckSinkPin::QueryPinInfo(PIN_INFO* pInfo) {
    if (pInfo == nullptr) {
        return E_POINTER;
    }
    pInfo->pFilter = &m_filter;
    m_filter.AddRef();
    pInfo->dir = PINDIR_INPUT;
    ::lstrcpynW(pInfo->achName, kPinId, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP CCheckSinkPin::QueryDirection(PIN_DIRECTION* pDir) {
    if (pDir == nullptr) {
        return E_POINTER;
    }
    *pDir = PINDIR_INPUT;
    return S_OK;
}

STDMETHODIMP CCheckSinkPin::QueryId(LPWSTR* pId) {
    if (pId == nullptr) {
        return E_POINTER;
    }
    *pId = static_cast<LPWSTR>(::CoTaskMemAlloc(sizeof(kPinId)));
    if (*pId == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(*pId, kPinId, sizeof(kPinId));
    return S_OK;
}

STDMETHODIMP CCheckSinkPin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    return pmt != nullptr ? S_OK : E_POINTER; // every type: the check is what the camera sends
}

STDMETHODIMP CCheckSinkPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (ppEnum == nullptr) {
        return E_POINTER;
    }
    *ppEnum = nullptr;
    return E_NOTIMPL; // no preference of its own: the camera proposes
}

STDMETHODIMP CCheckSinkPin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

STDMETHODIMP CCheckSinkPin::EndOfStream() {
    return S_OK;
}

STDMETHODIMP CCheckSinkPin::BeginFlush() {
    return S_OK;
}

STDMETHODIMP CCheckSinkPin::EndFlush() {
    return S_OK;
}

STDMETHODIMP CCheckSinkPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
    return S_OK;
}

STDMETHODIMP CCheckSinkPin::GetAllocator(IMemAllocator** ppAllocator) {
    if (ppAllocator == nullptr) {
        return E_POINTER;
    }
    *ppAllocator = nullptr;
    return VFW_E_NO_ALLOCATOR; // the camera's own allocator serves
}

STDMETHODIMP CCheckSinkPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL) {
    if (pAllocator == nullptr) {
        return E_POINTER;
    }
    pAllocator->AddRef();
    if (m_filter.m_pAllocator != nullptr) {
        m_filter.m_pAllocator->Release();
    }
    m_filter.m_pAllocator = pAllocator;
    return S_OK;
}

STDMETHODIMP CCheckSinkPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

STDMETHODIMP CCheckSinkPin::Receive(IMediaSample* pSample) {
    if (pSample == nullptr) {
        return E_POINTER;
    }
    return m_filter.OnSample(pSample);
}

STDMETHODIMP CCheckSinkPin::ReceiveMultiple(IMediaSample** pSamples, long nSamples,
                                            long* nProcessed) {
    if (pSamples == nullptr || nProcessed == nullptr) {
        return E_POINTER;
    }
    *nProcessed = 0;
    HRESULT hr = S_OK;
    for (long i = 0; i < nSamples && hr == S_OK; ++i) {
        hr = m_filter.OnSample(pSamples[i]);
        if (hr == S_OK) {
            ++*nProcessed;
        }
    }
    return hr;
}

STDMETHODIMP CCheckSinkPin::ReceiveCanBlock() {
    return S_FALSE;
}

CCheckSink::CCheckSink(bool bAnalyse) : m_pin(*this), m_bAnalyse(bAnalyse) {
    ::InitializeCriticalSection(&m_lock);
    m_hFirstSample = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

CCheckSink::~CCheckSink() {
    FinishDecoding(0);
    OnDisconnect();
    if (m_pClock != nullptr) {
        m_pClock->Release();
    }
    if (m_pWic != nullptr) {
        m_pWic->Release();
    }
    if (m_hFirstSample != nullptr) {
        ::CloseHandle(m_hFirstSample);
    }
    ::DeleteCriticalSection(&m_lock);
}

STDMETHODIMP CCheckSink::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter ||
        riid == IID_IBaseFilter) {
        *ppv = static_cast<IBaseFilter*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CCheckSink::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&m_nRefs));
}

STDMETHODIMP_(ULONG) CCheckSink::Release() {
    LONG n = ::InterlockedDecrement(&m_nRefs);
    if (n == 0) {
        delete this;
    }
    return static_cast<ULONG>(n);
}

STDMETHODIMP CCheckSink::GetClassID(CLSID* pClsid) {
    if (pClsid == nullptr) {
        return E_POINTER;
    }
    *pClsid = CLSID_LookwellCheckSink;
    return S_OK;
}

STDMETHODIMP CCheckSink::Stop() {
    ::EnterCriticalSection(&m_lock);
    m_state = State_Stopped;
    ::LeaveCriticalSection(&m_lock);
    return S_OK;
}

STDMETHODIMP CCheckSink::Pause() {
    ::EnterCriticalSection(&m_lock);
    m_state = State_Paused;
    ::LeaveCriticalSection(&m_lock);
    return S_OK;
}

STDMETHODIMP CCheckSink::Run(REFERENCE_TIME) {
    ::EnterCriticalSection(&m_lock);
    m_state = State_Running;
    ::LeaveCriticalSection(&m_lock);
    return S_OK;
}

STDMETHODIMP CCheckSink::GetState(DWORD, FILTER_STATE* pState) {
    if (pState == nullptr) {
        return E_POINTER;
    }
    ::EnterCriticalSection(&m_lock);
    *pState = m_state;
    ::LeaveCriticalSection(&m_lock);
    return S_OK;
}

STDMETHODIMP CCheckSink::SetSyncSource(IReferenceClock* pClock) {
    if (pClock != nullptr) {
        pClock->AddRef();
    }
    if (m_pClock != nullptr) {
        m_pClock->Release();
    }
    m_pClock = pClock;
    return S_OK;
}

STDMETHODIMP CCheckSink::GetSyncSource(IReferenceClock** ppClock) {
    if (ppClock == nullptr) {
        return E_POINTER;
    }
    *ppClock = m_pClock;
    if (m_pClock != nullptr) {
        m_pClock->AddRef();
    }
    return S_OK;
}

STDMETHODIMP CCheckSink::EnumPins(IEnumPins** ppEnum) {
    if (ppEnum == nullptr) {
        return E_POINTER;
    }
    *ppEnum = new (std::nothrow) CPinEnum(&m_pin, 0);
    return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CCheckSink::FindPin(LPCWSTR pszId, IPin** ppPin) {
    if (pszId == nullptr || ppPin == nullptr) {
        return E_POINTER;
    }
    if (std::wcscmp(pszId, kPinId) != 0) {
        *ppPin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    *ppPin = &m_pin;
    m_pin.AddRef();
    return S_OK;
}

STDMETHODIMP CCheckSink::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (pInfo == nullptr) {
        return E_POINTER;
    }
    ::lstrcpynW(pInfo->achName, L"Check Sink", MAX_FILTER_NAME);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph != nullptr) {
        m_pGraph->AddRef();
    }
    return S_OK;
}

STDMETHODIMP CCheckSink::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR) {
    m_pGraph = pGraph;
    return S_OK;
}

STDMETHODIMP CCheckSink::QueryVendorInfo(LPWSTR* pszVendorInfo) {
    if (pszVendorInfo != nullptr) {
        *pszVendorInfo = nullptr;
    }
    return E_NOTIMPL;
}

bool CCheckSink::GetMediaType(AM_MEDIA_TYPE& mt) {
    std::memset(&mt, 0, sizeof(mt));
    return m_bConnected && CopyMediaType(mt, m_mt) == S_OK;
}

void CCheckSink::GetFigures(CSinkFigures& figures) {
    ::EnterCriticalSection(&m_lock);
    try {
        figures = m_figures;
    } catch (...) {
        figures = CSinkFigures();
    }
    ::LeaveCriticalSection(&m_lock);
}

HRESULT CCheckSink::OnConnect(IPin* pConnector, const AM_MEDIA_TYPE& mt) {
    if (m_bConnected) {
        return VFW_E_ALREADY_CONNECTED;
    }
    if (m_state != State_Stopped) {
        return VFW_E_NOT_STOPPED;
    }
    HRESULT hr = CopyMediaType(m_mt, mt);
    if (hr != S_OK) {
        return hr;
    }
    m_pConnected = pConnector;
    m_pConnected->AddRef();
    m_bConnected = true;

    // The picture's layout and expected size, from either kind of video header.
    const BITMAPINFOHEADER* pBmi = nullptr;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER) &&
        mt.pbFormat != nullptr) {
        pBmi = &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    } else if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2) &&
               mt.pbFormat != nullptr) {
        pBmi = &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
    }
    m_layout = CGridLayout();
    m_bMjpg = mt.subtype == MEDIASUBTYPE_MJPG;
    m_nExpectedSize = 0;
    if (pBmi != nullptr) {
        m_layout = GridLayoutOf(mt.subtype, *pBmi);
        m_nExpectedSize = m_layout.ImageBytes();
        if (m_nExpectedSize == 0) {
            m_nExpectedSize = pBmi->biSizeImage; // compressed: the largest a sample may be
        }
    }
    if (m_bMjpg && m_bAnalyse && m_pWic == nullptr) {
        // Created here, on the check's own thread, and used from the camera's: the imaging
        // factory is free-threaded.
        ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                           IID_IWICImagingFactory, reinterpret_cast<void**>(&m_pWic));
    }
    if (m_bMjpg && m_pWic != nullptr && m_hDecoder == nullptr) {
        // Decoding takes longer than a frame at 1080p: on the camera's thread it would slow
        // the camera down and the check would measure itself.
        m_bStopDecoder = false;
        m_hWork = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        m_hDecoder = m_hWork != nullptr ? ::CreateThread(nullptr, 0, DecoderProc, this, 0, nullptr)
                                        : nullptr;
    }
    return S_OK;
}

void CCheckSink::OnDisconnect() {
    if (m_pConnected != nullptr) {
        m_pConnected->Release();
        m_pConnected = nullptr;
    }
    if (m_pAllocator != nullptr) {
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_bConnected) {
        FreeMediaType(m_mt);
        m_bConnected = false;
    }
}

HRESULT CCheckSink::OnSample(IMediaSample* pSample) {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    BYTE* pData = nullptr;
    if (pSample == nullptr || FAILED(pSample->GetPointer(&pData))) {
        return E_POINTER;
    }
    long nLength = pSample->GetActualDataLength();
    auto nSize = static_cast<size_t>(nLength > 0 ? nLength : 0);
    ::EnterCriticalSection(&m_lock);
    HRESULT hr = S_OK;
    bool bFirst = m_figures.arrivals.empty();
    try {
        if (m_figures.arrivals.capacity() == m_figures.arrivals.size()) {
            m_figures.arrivals.reserve(m_figures.arrivals.size() + 4096);
        }
        m_figures.arrivals.push_back(now.QuadPart);
        bool bUncompressed = m_layout.pixels != GridPixels::Unsupported;
        if (nSize == 0) {
            ++m_figures.nEmpty;
        } else if (bUncompressed && nSize < m_nExpectedSize) {
            ++m_figures.nShort;
        } else if (m_nExpectedSize != 0 && nSize > m_nExpectedSize) {
            ++m_figures.nOversized;
        }
        bool bRead = false;
        if (m_bAnalyse && nSize != 0) {
            if (bUncompressed) {
                bRead = ReadGrid(m_layout, pData, nSize, m_grid);
                if (!bRead && nSize >= m_nExpectedSize) {
                    ++m_figures.nUndecoded;
                }
            } else if (m_bMjpg) {
                if (m_hDecoder != nullptr && m_jpegs.size() < kMaxQueuedPictures) {
                    m_jpegs.emplace_back(pData, pData + nSize);
                    ::SetEvent(m_hWork);
                } else {
                    ++m_figures.nUndecoded;
                }
            }
        }
        if (bRead) {
            CountGrid();
        }
    } catch (...) {
        hr = E_OUTOFMEMORY; // nothing may unwind into the camera's thread
    }
    ::LeaveCriticalSection(&m_lock);
    if (bFirst) {
        ::SetEvent(m_hFirstSample);
    }
    return hr;
}

void CCheckSink::CountGrid() {
    // A black picture is counted as black only; frozen means a repeated picture.
    if (IsBlackGrid(m_grid)) {
        ++m_figures.nBlack;
    } else if (m_grid == m_previousGrid) {
        ++m_figures.nFrozen;
    }
    m_previousGrid.swap(m_grid);
}

void CCheckSink::FinishDecoding(DWORD nMs) {
    if (m_hDecoder == nullptr) {
        return;
    }
    ULONGLONG nDeadline = ::GetTickCount64() + nMs;
    for (;;) {
        ::EnterCriticalSection(&m_lock);
        bool bIdle = m_jpegs.empty() && !m_bDecoding;
        ::LeaveCriticalSection(&m_lock);
        if (bIdle || ::GetTickCount64() >= nDeadline) {
            break;
        }
        ::Sleep(10);
    }
    ::EnterCriticalSection(&m_lock);
    m_bStopDecoder = true;
    m_figures.nUndecoded += static_cast<long>(m_jpegs.size());
    m_jpegs.clear();
    ::LeaveCriticalSection(&m_lock);
    ::SetEvent(m_hWork);
    ::WaitForSingleObject(m_hDecoder, INFINITE);
    ::CloseHandle(m_hDecoder);
    ::CloseHandle(m_hWork);
    m_hDecoder = nullptr;
    m_hWork = nullptr;
}

DWORD WINAPI CCheckSink::DecoderProc(void* pParam) {
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static_cast<CCheckSink*>(pParam)->DecodeQueued();
    if (SUCCEEDED(hr)) {
        ::CoUninitialize();
    }
    return 0;
}

void CCheckSink::DecodeQueued() {
    for (;;) {
        std::vector<BYTE> jpeg;
        ::EnterCriticalSection(&m_lock);
        bool bStop = m_bStopDecoder;
        bool bHave = !bStop && !m_jpegs.empty();
        if (bHave) {
            jpeg.swap(m_jpegs.front());
            m_jpegs.pop_front();
            m_bDecoding = true;
        }
        ::LeaveCriticalSection(&m_lock);
        if (bStop) {
            return;
        }
        if (!bHave) {
            ::WaitForSingleObject(m_hWork, INFINITE);
            continue;
        }
        bool bRead = false;
        try {
            bRead = DecodeGrid(jpeg.data(), jpeg.size());
        } catch (...) {
            bRead = false; // out of memory: this picture is not decoded
        }
        ::EnterCriticalSection(&m_lock);
        try {
            if (bRead) {
                CountGrid();
            } else {
                ++m_figures.nUndecoded;
            }
        } catch (...) {
            ++m_figures.nUndecoded;
        }
        m_bDecoding = false;
        ::LeaveCriticalSection(&m_lock);
    }
}

bool CCheckSink::DecodeGrid(const BYTE* pData, size_t nSize) {
    if (m_pWic == nullptr || nSize > 0x7FFFFFFF) {
        return false;
    }
    CComRef<IWICStream> pStream;
    CComRef<IWICBitmapDecoder> pDecoder;
    CComRef<IWICBitmapFrameDecode> pFrame;
    CComRef<IWICFormatConverter> pBgr;
    UINT nWidth = 0;
    UINT nHeight = 0;
    if (FAILED(m_pWic->CreateStream(&pStream)) ||
        FAILED(
            pStream->InitializeFromMemory(const_cast<BYTE*>(pData), static_cast<DWORD>(nSize))) ||
        FAILED(m_pWic->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, &pDecoder)) ||
        FAILED(pDecoder->Initialize(pStream, WICDecodeMetadataCacheOnDemand)) ||
        FAILED(pDecoder->GetFrame(0, &pFrame)) ||
        // The factory's converter, not WICConvertBitmapSource: that would make the program
        // import the imaging DLL at every start.
        FAILED(m_pWic->CreateFormatConverter(&pBgr)) ||
        FAILED(pBgr->Initialize(pFrame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                nullptr, 0.0, WICBitmapPaletteTypeCustom)) ||
        FAILED(pBgr->GetSize(&nWidth, &nHeight)) || nWidth == 0 || nHeight == 0 || nWidth > 65536 ||
        nHeight > 65536) {
        return false;
    }
    CGridLayout layout;
    layout.pixels = GridPixels::Bgr24Decoded;
    layout.nWidth = static_cast<LONG>(nWidth);
    layout.nHeight = static_cast<LONG>(nHeight);
    layout.nStride = static_cast<LONG>((nWidth * 3 + 3) / 4 * 4);
    m_decoded.resize(layout.ImageBytes());
    if (FAILED(pBgr->CopyPixels(nullptr, static_cast<UINT>(layout.nStride),
                                static_cast<UINT>(m_decoded.size()), m_decoded.data()))) {
        return false;
    }
    return ReadGrid(layout, m_decoded.data(), m_decoded.size(), m_grid);
}
