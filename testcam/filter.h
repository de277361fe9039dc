// The test camera's capture filter: a live source with a capture pin (and, when configured,
// a preview pin) that streams the test picture at the chosen format's frame rate.
#pragma once

#include "framework/object.h"
#include "testcam/config.h"
#include "testcam/module.h"
#include "testcam/pattern.h"
#include "testcam/pin.h"

#include <dshow.h>
#include <ocidl.h>

#include <string>

namespace testcam {

class Filter final : public IBaseFilter,
                     public IPersistPropertyBag,
                     public IAMFilterMiscFlags,
                     public IAMVideoProcAmp,
                     public IAMVideoControl,
                     public IAMDroppedFrames,
                     public ISpecifyPropertyPages,
                     private CNoCopy {
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

    // IAMVideoProcAmp: brightness and contrast, kept in the instance's registry entry.
    STDMETHODIMP GetRange(long property, long* min, long* max, long* step, long* defaultValue,
                          long* flags) override;
    STDMETHODIMP Set(long property, long value, long flags) override;
    STDMETHODIMP Get(long property, long* value, long* flags) override;

    // IAMVideoControl: mirroring and flipping, kept like the picture controls; frame rates.
    STDMETHODIMP GetCaps(IPin* pin, long* flags) override;
    STDMETHODIMP SetMode(IPin* pin, long mode) override;
    STDMETHODIMP GetMode(IPin* pin, long* mode) override;
    STDMETHODIMP GetCurrentActualFrameRate(IPin* pin, LONGLONG* frameTime) override;
    STDMETHODIMP GetMaxAvailableFrameRate(IPin* pin, long index, SIZE size,
                                          LONGLONG* frameTime) override;
    STDMETHODIMP GetFrameRateList(IPin* pin, long index, SIZE size, long* count,
                                  LONGLONG** frameTimes) override;

    // IAMDroppedFrames: the capture pin's frames in the current (or last) run.
    STDMETHODIMP GetNumDropped(long* dropped) override;
    STDMETHODIMP GetNumNotDropped(long* delivered) override;
    STDMETHODIMP GetDroppedInfo(long size, long* frames, long* copied) override;
    STDMETHODIMP GetAverageFrameSize(long* size) override;

    // ISpecifyPropertyPages: the picture page.
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // For the pins.
    CritSec& lock() { return lock_; }
    CritSec& stateLock() { return stateLock_; }
    const Config& config() const { return config_; }
    FILTER_STATE state() const { return state_; }
    IFilterGraph* graph() const { return graph_; }
    // The state, the stream's start time, an AddRef'd clock (or null) and which run this is.
    FILTER_STATE Snapshot(REFERENCE_TIME* start, IReferenceClock** clock, LONG* run);
    int PinCount() const { return preview_ ? 2 : 1; }
    // The picture controls and how often they changed, for the streaming threads.
    LONG LookVersion() const { return lookVersion_; }
    Look CurrentLook();

    Pin* PinAt(int index) { return index == 0 ? &capture_ : index == 1 ? preview_ : nullptr; }
    // Under no lock: tells the graph the filter joined, as a capture driver does (no graph, no
    // word), once a run for each code however many pins stream.
    void NotifyGraph(LONG run, LONG code, LONG_PTR param1, LONG_PTR param2);
    // Whether the instance entry the filter was bound from has been removed: the device is gone.
    bool InstanceRemoved() const;

private:
    template <class T, class Out, class... Args> friend HRESULT NewObject(Out**, Args&&...);
    Filter();
    ~Filter();
    // Leaving stopped: every pin starts streaming (all or none); in any other state nothing.
    HRESULT StartPins();
    void StopPins();
    // Under the lock: no run is pending any more.
    void SettleRun();
    // Whether `pin` is one of ours; null is E_POINTER, another filter's pin E_INVALIDARG.
    HRESULT CheckPin(IPin* pin);
    // Under no lock: takes the picture controls another program stored since the bind.
    void RefreshStoredLook();
    // Under no lock: stores a picture control in the instance's entry, then applies it.
    HRESULT ChangeLook(const Look& look, const wchar_t* value, LONG number);

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
    LONG abortRun_ = 0;             // the runs EC_ERRORABORT and EC_DEVICE_LOST went out in
    LONG lostRun_ = 0;
    WCHAR name_[MAX_FILTER_NAME] = {};
    bool loaded_ = false;
    // Where the picture controls persist: the instance's name, empty when not bound from one.
    std::wstring instance_;
    Look look_;
    volatile LONG lookVersion_ = 0;
};

} // namespace testcam
