// The check's sink: a filter with one input pin that takes every media type a camera offers,
// renders nothing, and records per sample its arrival time, its size against the format's and,
// unless it only counts, whether the picture is black or the same as the one before.
#pragma once

#include "check/frame_grid.h"

#include <dshow.h>
#include <wincodec.h>

#include <deque>
#include <vector>

class CCheckSink;

class CCheckSinkPin final : public IPin, public IMemInputPin {
public:
    explicit CCheckSinkPin(CCheckSink& filter) : m_filter(filter) {}

    // IUnknown: the filter's count.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPin
    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** ppPin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pDir) override;
    STDMETHODIMP QueryId(LPWSTR* pId) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, long nSamples, long* nProcessed) override;
    STDMETHODIMP ReceiveCanBlock() override;

private:
    CCheckSink& m_filter;
};

// What the sink saw, copied out under its lock.
struct CSinkFigures {
    std::vector<LONGLONG> arrivals; // QueryPerformanceCounter at each sample
    long nShort = 0;
    long nEmpty = 0;
    long nOversized = 0;
    long nBlack = 0;
    long nFrozen = 0;
    long nUndecoded = 0; // pictures the grid could not be read from
};

class CCheckSink final : public IBaseFilter {
public:
    // Reference count 1 for the creator. bAnalyse false: arrival times only, the benchmark's
    // floor.
    explicit CCheckSink(bool bAnalyse);

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

    IPin* Pin() { return &m_pin; }
    // Signalled at the first sample; the sink owns it.
    HANDLE FirstSampleEvent() const { return m_hFirstSample; }
    // The connection's media type (a copy the caller frees), false while not connected.
    bool GetMediaType(AM_MEDIA_TYPE& mt);
    void GetFigures(CSinkFigures& figures);
    // MJPG pictures are decoded on a thread of the sink's, not the camera's: waits up to nMs
    // for the pictures queued so far (the rest count as not decoded), then ends the thread.
    void FinishDecoding(DWORD nMs);

private:
    friend class CCheckSinkPin;
    ~CCheckSink();
    HRESULT OnConnect(IPin* pConnector, const AM_MEDIA_TYPE& mt);
    void OnDisconnect();
    HRESULT OnSample(IMediaSample* pSample);
    // The grid of an MJPG picture, through the imaging component's decoder.
    bool DecodeGrid(const BYTE* pData, size_t nSize);
    // Black, frozen and the previous picture from m_grid; under the lock.
    void CountGrid();
    static DWORD WINAPI DecoderProc(void* pParam);
    void DecodeQueued();

    LONG m_nRefs = 1;
    CCheckSinkPin m_pin;
    const bool m_bAnalyse;
    CRITICAL_SECTION m_lock;
    HANDLE m_hFirstSample = nullptr;
    FILTER_STATE m_state = State_Stopped;
    IFilterGraph* m_pGraph = nullptr; // not counted: the graph owns the filter
    IReferenceClock* m_pClock = nullptr;
    IPin* m_pConnected = nullptr;
    IMemAllocator* m_pAllocator = nullptr;
    AM_MEDIA_TYPE m_mt{};
    bool m_bConnected = false;

    // The format's sizes: uncompressed pictures have one; compressed ones at most biSizeImage.
    CGridLayout m_layout;
    bool m_bMjpg = false;
    size_t m_nExpectedSize = 0;
    IWICImagingFactory* m_pWic = nullptr;
    std::vector<BYTE> m_decoded;
    std::vector<BYTE> m_grid;
    std::vector<BYTE> m_previousGrid;
    // Pictures waiting for the decoder thread, at most a few seconds' worth.
    std::deque<std::vector<BYTE>> m_jpegs;
    HANDLE m_hDecoder = nullptr;
    HANDLE m_hWork = nullptr;
    bool m_bStopDecoder = false;
    bool m_bDecoding = false;
    CSinkFigures m_figures;
};
