#include "media/sink_filter.h"

#include "framework/apartment.h"

#include <cstring>
#include <cwchar>
#include <type_traits>

namespace {

constexpr wchar_t kPinId[] = L"In";

// The pin enumeration (one pin) and the media-type enumeration (none: the pin proposes nothing,
// the upstream does), with the platform's answers: more than one pin wanted without a count is
// E_INVALIDARG, a Skip past the end is S_FALSE and does not move. Holds the filter.
template <class IEnum, class TItem> class CSinkEnum final : public IEnum {
public:
    CSinkEnum(IBaseFilter* pFilter, IPin* pPin, ULONG nAt)
        : m_pFilter(pFilter), m_pPin(pPin), m_nAt(nAt) {
        m_pFilter->AddRef();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return AfxQueryOne<IEnum>(this, __uuidof(IEnum), riid, ppv);
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
    STDMETHODIMP Next(ULONG nWanted, TItem* ppItems, ULONG* pnFetched) override {
        if (ppItems == nullptr) {
            return E_POINTER;
        }
        ULONG nFetched = 0;
        if constexpr (std::is_same<TItem, IPin*>::value) {
            if (nWanted > 1 && pnFetched == nullptr) {
                return E_INVALIDARG;
            }
            if (nWanted > 0 && m_nAt < Count()) {
                ppItems[0] = m_pPin;
                m_pPin->AddRef();
                nFetched = 1;
            }
        }
        m_nAt += nFetched;
        if (pnFetched != nullptr) {
            *pnFetched = nFetched;
        }
        return nFetched == nWanted ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG nCount) override {
        if (nCount > Count() - m_nAt) {
            return S_FALSE;
        }
        m_nAt += nCount;
        return S_OK;
    }
    STDMETHODIMP Reset() override {
        m_nAt = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnum** ppEnum) override {
        if (ppEnum == nullptr) {
            return E_POINTER;
        }
        *ppEnum = new (std::nothrow) CSinkEnum(m_pFilter, m_pPin, m_nAt);
        return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~CSinkEnum() { m_pFilter->Release(); }
    ULONG Count() const { return m_pPin != nullptr ? 1 : 0; }

    LONG m_nRefs = 1;
    IBaseFilter* m_pFilter;
    IPin* m_pPin; // null: nothing to enumerate
    ULONG m_nAt;
};

using CPinEnum = CSinkEnum<IEnumPins, IPin*>;
using CMediaTypeEnum = CSinkEnum<IEnumMediaTypes, AM_MEDIA_TYPE*>;

// A counted reference to what the filter holds, read under its lock; hrNone when it holds none.
template <class T>
HRESULT HandOut(CCriticalSection& section, T* const& pHeld, T** ppOut, HRESULT hrNone) {
    if (ppOut == nullptr) {
        return E_POINTER;
    }
    CSingleLock lock(section);
    *ppOut = pHeld;
    if (*ppOut == nullptr) {
        return hrNone;
    }
    (*ppOut)->AddRef();
    return S_OK;
}

} // namespace

// The one input pin; it lives inside the filter and shares its reference count.
class CSinkFilter::CInputPin final : public IPin, public IMemInputPin {
public:
    explicit CInputPin(CSinkFilter& filter) : m_filter(filter) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
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
    STDMETHODIMP_(ULONG) AddRef() override { return m_filter.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_filter.Release(); }

    // IPin
    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override {
        return E_UNEXPECTED; // an input pin is connected to, it does not connect
    }
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override {
        if (pConnector == nullptr || pmt == nullptr) {
            return E_POINTER;
        }
        return m_filter.ReceiveConnection(pConnector, *pmt);
    }
    STDMETHODIMP Disconnect() override { return m_filter.Disconnect(); }
    STDMETHODIMP ConnectedTo(IPin** ppPin) override {
        return HandOut(m_filter.m_stateLock, m_filter.m_pPeer, ppPin, VFW_E_NOT_CONNECTED);
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override {
        if (pmt == nullptr) {
            return E_POINTER;
        }
        std::memset(pmt, 0, sizeof(*pmt));
        return m_filter.GetMediaType(*pmt) ? S_OK : VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override {
        if (pInfo == nullptr) {
            return E_POINTER;
        }
        pInfo->pFilter = &m_filter;
        m_filter.AddRef();
        pInfo->dir = PINDIR_INPUT;
        ::lstrcpynW(pInfo->achName, kPinId, MAX_PIN_NAME);
        return S_OK;
    }
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pDir) override {
        if (pDir == nullptr) {
            return E_POINTER;
        }
        *pDir = PINDIR_INPUT;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR* pId) override {
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
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override {
        if (pmt == nullptr) {
            return E_POINTER;
        }
        CSingleLock lock(m_filter.m_streamLock);
        return m_filter.m_pConsumer->CheckMediaType(*pmt) == S_OK ? S_OK : S_FALSE;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override {
        if (ppEnum == nullptr) {
            return E_POINTER;
        }
        *ppEnum = new (std::nothrow) CMediaTypeEnum(&m_filter, nullptr, 0);
        return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override {
        return E_NOTIMPL; // no output pins
    }
    STDMETHODIMP EndOfStream() override { return m_filter.EndOfStream(); }
    STDMETHODIMP BeginFlush() override { return m_filter.Flush(true); }
    STDMETHODIMP EndFlush() override { return m_filter.Flush(false); }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin. The upstream brings the allocator: a camera's pin makes its own when the
    // pin offers none, a smart tee's output hands over its input's, read-only, without asking.
    // The pin never writes into a sample and asks nothing of its buffers.
    STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override {
        return HandOut(m_filter.m_stateLock, m_filter.m_pAllocator, ppAllocator,
                       VFW_E_NO_ALLOCATOR);
    }
    STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL) override {
        if (pAllocator == nullptr) {
            return E_POINTER;
        }
        CSingleLock lock(m_filter.m_stateLock);
        pAllocator->AddRef();
        if (m_filter.m_pAllocator != nullptr) {
            m_filter.m_pAllocator->Release();
        }
        m_filter.m_pAllocator = pAllocator;
        return S_OK;
    }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* pSample) override { return m_filter.Receive(pSample); }
    STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, long nSamples,
                                 long* pnProcessed) override {
        if (pSamples == nullptr || pnProcessed == nullptr) {
            return E_POINTER;
        }
        HRESULT hr = S_OK;
        for (*pnProcessed = 0; *pnProcessed < nSamples; ++*pnProcessed) {
            hr = m_filter.Receive(pSamples[*pnProcessed]);
            if (hr != S_OK) {
                break;
            }
        }
        return hr;
    }
    STDMETHODIMP ReceiveCanBlock() override {
        return S_FALSE; // the streaming thread is never held up here
    }

private:
    CSinkFilter& m_filter;
};

HRESULT CSinkConsumer::CheckMediaType(const AM_MEDIA_TYPE&) noexcept {
    return S_OK;
}

HRESULT CSinkConsumer::OnConnect(const AM_MEDIA_TYPE&) noexcept {
    return S_OK;
}

HRESULT CSinkFilter::Create(std::unique_ptr<CSinkConsumer> pConsumer, REFCLSID clsid,
                            const wchar_t* pszName, CSinkFilter** ppFilter) {
    if (ppFilter == nullptr) {
        return E_POINTER;
    }
    *ppFilter = nullptr;
    if (pConsumer == nullptr) {
        return E_INVALIDARG;
    }
    auto* pFilter = new (std::nothrow) CSinkFilter(std::move(pConsumer), clsid, pszName);
    if (pFilter == nullptr) {
        return E_OUTOFMEMORY;
    }
    pFilter->m_pPin.reset(new (std::nothrow) CInputPin(*pFilter));
    if (pFilter->m_pPin == nullptr) {
        pFilter->Release();
        return E_OUTOFMEMORY;
    }
    *ppFilter = pFilter;
    return S_OK;
}

CSinkFilter::CSinkFilter(std::unique_ptr<CSinkConsumer> pConsumer, REFCLSID clsid,
                         const wchar_t* pszName)
    : m_clsid(clsid), m_pConsumer(std::move(pConsumer)) {
    ::lstrcpynW(m_szOwnName, pszName != nullptr ? pszName : L"", MAX_FILTER_NAME);
    ::lstrcpynW(m_szName, m_szOwnName, MAX_FILTER_NAME);
}

CSinkFilter::~CSinkFilter() {
    // Only a disconnected filter can get here (a peer holds the pin); the consumer goes last.
    ReleaseConnection();
    if (m_pClock != nullptr) {
        m_pClock->Release();
    }
}

IPin* CSinkFilter::Pin() {
    return m_pPin.get();
}

STDMETHODIMP CSinkFilter::QueryInterface(REFIID riid, void** ppv) {
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

STDMETHODIMP_(ULONG) CSinkFilter::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&m_nRefs));
}

STDMETHODIMP_(ULONG) CSinkFilter::Release() {
    LONG n = ::InterlockedDecrement(&m_nRefs);
    if (n == 0) {
        delete this;
    }
    return static_cast<ULONG>(n);
}

STDMETHODIMP CSinkFilter::GetClassID(CLSID* pClsid) {
    if (pClsid == nullptr) {
        return E_POINTER;
    }
    *pClsid = m_clsid;
    return S_OK;
}

void CSinkFilter::ChangeState(FILTER_STATE state, REFERENCE_TIME tStart) {
    FILTER_STATE old = m_state;
    if (state == old) {
        return;
    }
    m_state = state;
    // A new stream starts with a run, or a pause out of the stopped state.
    if (state == State_Running || old == State_Stopped) {
        m_bEndOfStream = false;
    }
    if (state == State_Running) {
        m_pConsumer->OnRun(tStart);
    } else if (state == State_Paused) {
        m_pConsumer->OnPause();
    } else {
        m_pConsumer->OnStop();
    }
}

// A sample being handed over finishes first: the stream lock waits for it, and none starts
// after the state says stopped.
STDMETHODIMP CSinkFilter::Stop() {
    CSingleLock stream(m_streamLock);
    CSingleLock lock(m_stateLock);
    ChangeState(State_Stopped, 0);
    return S_OK;
}

STDMETHODIMP CSinkFilter::Pause() {
    CSingleLock stream(m_streamLock);
    CSingleLock lock(m_stateLock);
    ChangeState(State_Paused, 0);
    return S_OK;
}

STDMETHODIMP CSinkFilter::Run(REFERENCE_TIME tStart) {
    CSingleLock stream(m_streamLock);
    CSingleLock lock(m_stateLock);
    ChangeState(State_Running, tStart);
    return S_OK;
}

STDMETHODIMP CSinkFilter::GetState(DWORD, FILTER_STATE* pState) {
    if (pState == nullptr) {
        return E_POINTER;
    }
    CSingleLock lock(m_stateLock);
    *pState = m_state; // a live stream's sink has no first picture to wait for
    return S_OK;
}

STDMETHODIMP CSinkFilter::SetSyncSource(IReferenceClock* pClock) {
    CSingleLock lock(m_stateLock);
    if (pClock != nullptr) {
        pClock->AddRef();
    }
    if (m_pClock != nullptr) {
        m_pClock->Release();
    }
    m_pClock = pClock;
    return S_OK;
}

STDMETHODIMP CSinkFilter::GetSyncSource(IReferenceClock** ppClock) {
    return HandOut(m_stateLock, m_pClock, ppClock, S_OK);
}

STDMETHODIMP CSinkFilter::EnumPins(IEnumPins** ppEnum) {
    if (ppEnum == nullptr) {
        return E_POINTER;
    }
    *ppEnum = new (std::nothrow) CPinEnum(this, m_pPin.get(), 0);
    return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CSinkFilter::FindPin(LPCWSTR pszId, IPin** ppPin) {
    if (pszId == nullptr || ppPin == nullptr) {
        return E_POINTER;
    }
    if (std::wcscmp(pszId, kPinId) != 0) {
        *ppPin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    *ppPin = m_pPin.get();
    (*ppPin)->AddRef();
    return S_OK;
}

STDMETHODIMP CSinkFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (pInfo == nullptr) {
        return E_POINTER;
    }
    CSingleLock lock(m_stateLock);
    ::lstrcpynW(pInfo->achName, m_szName, MAX_FILTER_NAME);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph != nullptr) {
        m_pGraph->AddRef();
    }
    return S_OK;
}

STDMETHODIMP CSinkFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pszName) {
    CSingleLock lock(m_stateLock);
    m_pGraph = pGraph;
    const wchar_t* pszNow = pGraph != nullptr && pszName != nullptr ? pszName : m_szOwnName;
    ::lstrcpynW(m_szName, pszNow, MAX_FILTER_NAME);
    return S_OK;
}

STDMETHODIMP CSinkFilter::QueryVendorInfo(LPWSTR* pszVendorInfo) {
    if (pszVendorInfo != nullptr) {
        *pszVendorInfo = nullptr;
    }
    return E_NOTIMPL;
}

bool CSinkFilter::GetMediaType(AM_MEDIA_TYPE& mt) {
    CSingleLock lock(m_stateLock);
    std::memset(&mt, 0, sizeof(mt));
    return m_pPeer != nullptr && CopyMediaType(mt, m_mt) == S_OK;
}

// The platform's order: the state, an existing connection, the type, the direction.
HRESULT CSinkFilter::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE& mt) {
    CSingleLock stream(m_streamLock);
    CSingleLock lock(m_stateLock);
    if (m_state != State_Stopped) {
        return VFW_E_NOT_STOPPED;
    }
    if (m_pPeer != nullptr) {
        return VFW_E_ALREADY_CONNECTED;
    }
    if (m_pConsumer->CheckMediaType(mt) != S_OK) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    PIN_DIRECTION dir = PINDIR_INPUT;
    if (FAILED(pConnector->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) {
        return VFW_E_INVALID_DIRECTION;
    }
    HRESULT hr = CopyMediaType(m_mt, mt);
    if (hr != S_OK) {
        return hr;
    }
    hr = m_pConsumer->OnConnect(m_mt);
    if (FAILED(hr)) {
        FreeMediaType(m_mt);
        std::memset(&m_mt, 0, sizeof(m_mt));
        return hr;
    }
    m_pPeer = pConnector;
    m_pPeer->AddRef();
    return S_OK;
}

HRESULT CSinkFilter::Disconnect() {
    CSingleLock stream(m_streamLock);
    CSingleLock lock(m_stateLock);
    if (m_state != State_Stopped) {
        return VFW_E_NOT_STOPPED;
    }
    if (m_pPeer == nullptr) {
        return S_FALSE;
    }
    m_pConsumer->OnDisconnect();
    ReleaseConnection();
    return S_OK;
}

// The allocator goes with the connection: the next upstream must not be handed this one's.
void CSinkFilter::ReleaseConnection() {
    if (m_pAllocator != nullptr) {
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pPeer != nullptr) {
        m_pPeer->Release();
        m_pPeer = nullptr;
        FreeMediaType(m_mt);
        std::memset(&m_mt, 0, sizeof(m_mt));
    }
}

HRESULT CSinkFilter::Receive(IMediaSample* pSample) {
    CSampleView view;
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    view.nArrival = now.QuadPart;
    if (pSample == nullptr) {
        return E_POINTER;
    }
    CSingleLock stream(m_streamLock);
    {
        CSingleLock lock(m_stateLock);
        // The platform's renderers refuse quietly while flushing and after the end of the
        // stream, and with an error while stopped.
        if (m_bFlushing || m_bEndOfStream) {
            return S_FALSE;
        }
        if (m_state == State_Stopped) {
            return VFW_E_WRONG_STATE;
        }
        if (m_pPeer == nullptr) {
            return VFW_E_NOT_CONNECTED;
        }
    }
    BYTE* pData = nullptr;
    if (FAILED(pSample->GetPointer(&pData))) {
        return E_POINTER;
    }
    AM_MEDIA_TYPE* pNewType = nullptr;
    if (pSample->GetMediaType(&pNewType) == S_OK && pNewType != nullptr) {
        HRESULT hr =
            m_pConsumer->CheckMediaType(*pNewType) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        if (hr == S_OK) {
            CSingleLock lock(m_stateLock);
            FreeMediaType(m_mt);
            hr = CopyMediaType(m_mt, *pNewType);
        }
        if (hr != S_OK) {
            DeleteMediaType(pNewType);
            return hr;
        }
        view.pNewType = pNewType;
    }
    long nLength = pSample->GetActualDataLength();
    view.pData = pData;
    view.nLength = static_cast<size_t>(nLength > 0 ? nLength : 0);
    HRESULT hrTime = pSample->GetTime(&view.tStart, &view.tStop);
    view.bHasStart = hrTime == S_OK || hrTime == VFW_S_NO_STOP_TIME;
    view.bHasStop = hrTime == S_OK;
    view.bDiscontinuity = pSample->IsDiscontinuity() == S_OK;
    view.bSyncPoint = pSample->IsSyncPoint() == S_OK;
    HRESULT hr = m_pConsumer->OnSample(view);
    DeleteMediaType(pNewType);
    return hr;
}

HRESULT CSinkFilter::EndOfStream() {
    CSingleLock stream(m_streamLock);
    {
        CSingleLock lock(m_stateLock);
        if (m_bFlushing) {
            return S_FALSE; // a flush overtook it: no end to tell
        }
        m_bEndOfStream = true;
    }
    m_pConsumer->OnEndOfStream();
    return S_OK;
}

HRESULT CSinkFilter::Flush(bool bBegin) {
    {
        CSingleLock lock(m_stateLock);
        m_bFlushing = bBegin;
        if (!bBegin) {
            m_bEndOfStream = false; // the stream starts again after a flush
        }
    }
    // Taken after the flag: a sample being handed over finishes, no new one starts.
    CSingleLock stream(m_streamLock);
    if (bBegin) {
        m_pConsumer->OnBeginFlush();
    } else {
        m_pConsumer->OnEndFlush();
    }
    return S_OK;
}
