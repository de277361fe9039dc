// The test camera's capture filter: a live source with a capture pin (and, when configured,
// a preview pin) that streams the test picture at the chosen format's frame rate.
#pragma once

#include "testcam/config.h"
#include "testcam/module.h"
#include "testcam/pin.h"

#include <dshow.h>

namespace testcam {

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
    template <class T, class Out, class... Args> friend HRESULT NewObject(Out**, Args&&...);
    Filter();
    ~Filter();
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;
    HRESULT StartPins();
    void StopPins();
    // Under the lock: no run is pending any more.
    void SettleRun();

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
    // The stuckrun option: Run left the filter paused with the run pending, until Pause or Stop.
    bool runPending_ = false;
    HANDLE settled_ = nullptr; // set while no run is pending
    IReferenceClock* clock_ = nullptr;
    IFilterGraph* graph_ = nullptr; // not AddRef'd: the graph owns the filter
    WCHAR name_[MAX_FILTER_NAME] = {};
    bool loaded_ = false;
};

} // namespace testcam
