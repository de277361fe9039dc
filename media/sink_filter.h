// The one sink filter every consumer of a live stream builds on: a filter with one input pin
// ("In") written once (pin and media-type enumerations, connection, allocator, states, flushing,
// end of stream), that hands what arrives to a consumer which sees nothing of COM.
#pragma once

#include "capture/capture_platform.h"
#include "framework/object.h"
#include "framework/sync.h"

#include <dshow.h>

#include <memory>
#include <new>
#include <utility>

// One sample as it arrived. The bytes are the upstream's, valid only during the call: a
// consumer copies what it keeps. The filter never holds a sample past Receive, so the
// upstream's few buffers always come back to it.
struct CSampleView {
    LONGLONG nArrival = 0; // QueryPerformanceCounter, taken first thing in Receive
    bool bHasStart = false;
    bool bHasStop = false;
    REFERENCE_TIME tStart = 0; // stream time, where the sample has it
    REFERENCE_TIME tStop = 0;
    const BYTE* pData = nullptr;
    size_t nLength = 0; // the sample's actual data length
    bool bDiscontinuity = false;
    bool bSyncPoint = false;
    // The stream's new media type when this sample changes it (already taken), else null.
    const AM_MEDIA_TYPE* pNewType = nullptr;
};

// What the filter tells its consumer. No two calls overlap (each is made under the filter's
// stream lock), so what only the calls touch needs no lock of its own; what other threads read
// needs the consumer's own lock, which it must not hold while calling into the filter. The
// calls are noexcept: nothing may unwind into the platform's threads.
class CSinkConsumer : private CNoCopy {
public:
    virtual ~CSinkConsumer() = default;

    // S_OK when the pin takes the type: QueryAccept, a connection, a sample that changes the
    // type. Default: every type.
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) noexcept;
    // The pin is being connected with that type (the filter keeps its own copy); a failure
    // refuses the connection.
    virtual HRESULT OnConnect(const AM_MEDIA_TYPE& mt) noexcept;
    virtual void OnDisconnect() noexcept {}
    // State changes, from the graph's thread; each is told once, when it happens.
    virtual void OnRun(REFERENCE_TIME tStreamStart) noexcept { (void)tStreamStart; }
    virtual void OnPause() noexcept {}
    virtual void OnStop() noexcept {}
    // On the upstream's streaming thread (the camera's): it must never block or wait there.
    // Only while paused or running, connected, not flushing and before the end of the stream.
    // S_OK goes on; anything else goes back to the upstream, which may stop sending.
    virtual HRESULT OnSample(const CSampleView& sample) noexcept = 0;
    virtual void OnEndOfStream() noexcept {}
    // Between the two, samples are refused.
    virtual void OnBeginFlush() noexcept {}
    virtual void OnEndFlush() noexcept {}

protected:
};

class CSinkFilter final : public IBaseFilter, private CNoCopy {
public:
    // A filter that owns the consumer, with one reference for the caller. The class id and the
    // name (QueryFilterInfo's outside a graph, or when the graph gives none) are the consumer's.
    static HRESULT Create(std::unique_ptr<CSinkConsumer> pConsumer, REFCLSID clsid,
                          const wchar_t* pszName, CSinkFilter** ppFilter);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPersist, IMediaFilter, IBaseFilter
    STDMETHODIMP GetClassID(CLSID* pClsid) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* pState) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** ppClock) override;
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
    STDMETHODIMP FindPin(LPCWSTR pszId, IPin** ppPin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pszName) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* pszVendorInfo) override;

    // The input pin, not counted: it lives as long as the filter.
    IPin* Pin();
    CSinkConsumer& Consumer() { return *m_pConsumer; }
    // The connection's media type (a copy the caller frees); false while not connected.
    bool GetMediaType(AM_MEDIA_TYPE& mt);

private:
    class CInputPin;
    friend class CInputPin;

    CSinkFilter(std::unique_ptr<CSinkConsumer> pConsumer, REFCLSID clsid, const wchar_t* pszName);
    ~CSinkFilter();

    // The pin's work, under the filter's locks.
    HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE& mt);
    HRESULT Disconnect();
    HRESULT Receive(IMediaSample* pSample);
    HRESULT EndOfStream();
    HRESULT Flush(bool bBegin);
    // Sets the state and tells the consumer; under both locks.
    void ChangeState(FILTER_STATE state, REFERENCE_TIME tStart);
    void ReleaseConnection();

    LONG m_nRefs = 1;
    const CLSID m_clsid;
    wchar_t m_szOwnName[MAX_FILTER_NAME] = {};
    wchar_t m_szName[MAX_FILTER_NAME] = {};
    std::unique_ptr<CInputPin> m_pPin;
    std::unique_ptr<CSinkConsumer> m_pConsumer;

    // Held around every call to the consumer; taken before m_stateLock, never after it.
    CCriticalSection m_streamLock;
    // The filter's state and connection, which the graph's thread and the streaming thread
    // both read.
    CCriticalSection m_stateLock;
    FILTER_STATE m_state = State_Stopped;
    IFilterGraph* m_pGraph = nullptr; // not counted: the graph owns the filter
    IReferenceClock* m_pClock = nullptr;
    IPin* m_pPeer = nullptr;
    AM_MEDIA_TYPE m_mt{};
    IMemAllocator* m_pAllocator = nullptr;
    bool m_bFlushing = false;
    bool m_bEndOfStream = false;
};

// A reference to a sink filter and typed access to its consumer, which lives as long as the
// filter: whoever needs the consumer holds the filter, so neither can outlive the other.
template <class TConsumer> class CSinkRef {
public:
    CSinkRef() = default;
    CSinkRef(const CSinkRef&) = delete;
    CSinkRef& operator=(const CSinkRef&) = delete;

    // A new filter with a consumer made from the arguments; E_OUTOFMEMORY when either fails.
    template <class... TArgs>
    HRESULT Create(REFCLSID clsid, const wchar_t* pszName, TArgs&&... args) {
        m_pFilter.Release();
        std::unique_ptr<CSinkConsumer> pConsumer(new (std::nothrow)
                                                     TConsumer(std::forward<TArgs>(args)...));
        if (pConsumer == nullptr) {
            return E_OUTOFMEMORY;
        }
        return CSinkFilter::Create(std::move(pConsumer), clsid, pszName, &m_pFilter);
    }

    explicit operator bool() const { return m_pFilter != nullptr; }
    CSinkFilter* Filter() const { return m_pFilter; }
    IPin* Pin() const { return m_pFilter->Pin(); }
    TConsumer& Consumer() const { return static_cast<TConsumer&>(m_pFilter->Consumer()); }
    void Release() { m_pFilter.Release(); }

private:
    CComRef<CSinkFilter> m_pFilter;
};
