// The test camera's capture filter: a live source with a capture pin (and, when configured,
// a preview pin) that streams the test picture at the chosen format's frame rate.
#pragma once

#include "testcam/config.h"
#include "testcam/module.h"
#include "testcam/pattern.h"

#include <dshow.h>

namespace testcam {

class Filter;

class Pin final : public IPin, public IKsPropertySet, public IAMStreamConfig {
public:
    Pin(Filter* filter, const GUID& category, const wchar_t* name);
    ~Pin();
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

    // IUnknown: the pin lives as long as its filter and counts on it.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPin
    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IKsPropertySet: answers the pin category.
    STDMETHODIMP Set(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data,
                     DWORD dataSize) override;
    STDMETHODIMP Get(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data,
                     DWORD dataSize, DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override;
    STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
    STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;

    // Called by the filter under its state lock; StopStreaming returns once the thread ended.
    HRESULT StartStreaming();
    void StopStreaming();
    void Wake();

private:
    HRESULT TryConnect(IPin* receiver, const AM_MEDIA_TYPE& mt, const Format& format, bool topDown);
    HRESULT DecideAllocator(IMemInputPin* input, const Format& format);
    // The formats offered now: all configured ones, or the one SetFormat chose.
    bool OfferedFormats(std::vector<Format>& out) const;
    void ReleaseConnection();

    static DWORD WINAPI ThreadProc(void* param);
    void Stream();

    Filter* filter_;
    GUID category_;
    const wchar_t* name_;

    // Guarded by the filter's lock.
    IPin* peer_ = nullptr;
    IMemInputPin* input_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
    AM_MEDIA_TYPE mt_ = {};
    Format current_;
    bool topDown_ = false;
    bool chosen_ = false; // SetFormat picked current_

    HANDLE thread_ = nullptr;
    HANDLE wake_ = nullptr;
    volatile LONG stopRequested_ = 0;
    Pattern pattern_;
};

class Filter final : public IBaseFilter, public IPersistPropertyBag, public IAMFilterMiscFlags {
public:
    static HRESULT Create(REFIID iid, void** out);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPersist
    STDMETHODIMP GetClassID(CLSID* clsid) override;

    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;

    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** out) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

    // IPersistPropertyBag: the device moniker hands over the instance's configuration.
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // IAMFilterMiscFlags
    STDMETHODIMP_(ULONG) GetMiscFlags() override;

    // For the pins.
    CritSec& lock() { return lock_; }
    CritSec& stateLock() { return stateLock_; }
    const Config& config() const { return config_; }
    FILTER_STATE state() const { return state_; }
    IFilterGraph* graph() const { return graph_; }
    // The state, the stream's start time, an AddRef'd clock (or null) and which run this is.
    FILTER_STATE Snapshot(REFERENCE_TIME* start, IReferenceClock** clock, LONG* run);
    int PinCount() const { return preview_ ? 2 : 1; }
    Pin* PinAt(int index) { return index == 0 ? &capture_ : index == 1 ? preview_ : nullptr; }

private:
    Filter();
    ~Filter();
    Filter(const Filter&) = delete;
    HRESULT StartPins();
    void StopPins();
    Filter& operator=(const Filter&) = delete;

    LONG refs_ = 1;
    // Serialises state changes, which wait for streaming threads; the threads never take it.
    CritSec stateLock_;
    CritSec lock_;
    Config config_;
    Pin capture_;
    Pin* preview_ = nullptr;
    FILTER_STATE state_ = State_Stopped;
    REFERENCE_TIME start_ = 0;
    LONG runs_ = 0;
    IReferenceClock* clock_ = nullptr;
    IFilterGraph* graph_ = nullptr; // not AddRef'd: the graph owns the filter
    WCHAR name_[MAX_FILTER_NAME] = {};
    bool loaded_ = false;
};

} // namespace testcam
