#include "testcam/filter.h"
#include "testcam/enumerator.h"
#include "testcam/registry.h"

#include <uuids.h>

namespace testcam {

namespace {

// The filter's pins for its pin enumerator, which keeps the filter alive.
class PinList {
public:
    explicit PinList(Filter* filter) : filter_(filter) { filter_->AddRef(); }
    PinList(const PinList& other) : PinList(other.filter_) {}
    PinList& operator=(const PinList&) = delete;
    ~PinList() { filter_->Release(); }

    ULONG Count() const { return static_cast<ULONG>(filter_->PinCount()); }
    HRESULT Get(ULONG index, IPin** pin) const {
        *pin = filter_->PinAt(static_cast<int>(index));
        (*pin)->AddRef();
        return S_OK;
    }
    static void Free(IPin* pin) { pin->Release(); }

private:
    Filter* filter_;
};

using PinEnumerator = Enumerator<IEnumPins, &IID_IEnumPins, IPin*, PinList>;

} // namespace

Filter::Filter() : config_(DefaultConfig()), capture_(this, PIN_CATEGORY_CAPTURE, L"Capture") {
    settled_ = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ObjectCreated();
}

Filter::~Filter() {
    StopPins();
    delete preview_;
    if (clock_) {
        clock_->Release();
    }
    if (settled_) {
        CloseHandle(settled_);
    }
    ObjectDestroyed();
}

HRESULT Filter::Create(REFIID iid, void** out) {
    return CreateObjectFor<Filter>(iid, out);
}

STDMETHODIMP Filter::QueryInterface(REFIID iid, void** out) {
    if (!out) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter ||
        iid == IID_IBaseFilter) {
        *out = static_cast<IBaseFilter*>(this);
    } else if (iid == IID_IPersistPropertyBag) {
        *out = static_cast<IPersistPropertyBag*>(this);
    } else if (iid == IID_IAMFilterMiscFlags) {
        *out = static_cast<IAMFilterMiscFlags*>(this);
    } else if (iid == IID_IAMVideoProcAmp) {
        *out = static_cast<IAMVideoProcAmp*>(this);
    } else if (iid == IID_IAMVideoControl) {
        *out = static_cast<IAMVideoControl*>(this);
    } else if (iid == IID_IAMDroppedFrames) {
        *out = static_cast<IAMDroppedFrames*>(this);
    } else if (iid == IID_ISpecifyPropertyPages) {
        *out = static_cast<ISpecifyPropertyPages*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) Filter::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) Filter::Release() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) {
        delete this;
    }
    return static_cast<ULONG>(refs);
}

STDMETHODIMP Filter::GetClassID(CLSID* clsid) {
    if (!clsid) {
        return E_POINTER;
    }
    *clsid = CLSID_LookwellTestCamera;
    return S_OK;
}

HRESULT Filter::StartPins() {
    if (state_ != State_Stopped) {
        return S_OK; // streaming already, paused or running
    }
    if (config_.busy) {
        // What drivers answer when another program has the device open.
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    }
    HRESULT hr = S_OK;
    {
        AutoLock lock(lock_);
        for (int i = 0; i < PinCount() && SUCCEEDED(hr); ++i) {
            hr = PinAt(i)->StartStreaming();
        }
    }
    if (FAILED(hr)) {
        StopPins();
    }
    return hr;
}

void Filter::StopPins() {
    // Without the lock: the streaming threads take it while they finish.
    for (int i = 0; i < PinCount(); ++i) {
        PinAt(i)->StopStreaming();
    }
}

STDMETHODIMP Filter::Stop() {
    AutoLock serial(stateLock_);
    {
        AutoLock lock(lock_);
        state_ = State_Stopped;
        SettleRun();
    }
    StopPins();
    return S_OK;
}

STDMETHODIMP Filter::Pause() {
    AutoLock serial(stateLock_);
    if (HRESULT hr = StartPins(); FAILED(hr)) {
        return hr;
    }
    AutoLock lock(lock_);
    state_ = State_Paused;
    SettleRun();
    for (int i = 0; i < PinCount(); ++i) {
        PinAt(i)->Wake();
    }
    return S_OK;
}

STDMETHODIMP Filter::Run(REFERENCE_TIME start) {
    AutoLock serial(stateLock_);
    if (HRESULT hr = StartPins(); FAILED(hr)) {
        return hr;
    }
    AutoLock lock(lock_);
    if (config_.stuckRun) {
        // The stuckrun option: paused it stays, the run pending until Pause or Stop. S_FALSE is
        // a filter's word for a change of state not yet complete.
        state_ = State_Paused;
        runPending_ = true;
        if (settled_) {
            ResetEvent(settled_);
        }
        return S_FALSE;
    }
    start_ = start;
    state_ = State_Running;
    ++runs_;
    for (int i = 0; i < PinCount(); ++i) {
        PinAt(i)->Counts() = FrameCounts();
    }
    for (int i = 0; i < PinCount(); ++i) {
        PinAt(i)->Wake();
    }
    return S_OK;
}

void Filter::SettleRun() {
    runPending_ = false;
    if (settled_) {
        SetEvent(settled_);
    }
}

STDMETHODIMP Filter::GetState(DWORD timeout, FILTER_STATE* state) {
    if (!state) {
        return E_POINTER;
    }
    bool pending = false;
    {
        AutoLock lock(lock_);
        pending = runPending_;
    }
    // A pending run waits as long as the caller allows for Pause or Stop to settle it. Wine's
    // graph polls a filter between states with a timeout of 10 ms until its own runs out, and
    // would spin on an answer that came at once.
    if (pending && settled_ && timeout != 0) {
        WaitForSingleObject(settled_, timeout);
    }
    AutoLock lock(lock_);
    // The state on its way, as filters between states answer.
    if (runPending_) {
        *state = State_Running;
        return VFW_S_STATE_INTERMEDIATE;
    }
    *state = state_;
    // A live source has nothing to show while paused, but only a connected pin would show it:
    // the platform's capture filters answer S_OK when theirs is unconnected.
    bool connected = false;
    for (int i = 0; i < PinCount(); ++i) {
        connected = connected || PinAt(i)->IsConnected();
    }
    return state_ == State_Paused && connected ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP Filter::SetSyncSource(IReferenceClock* clock) {
    AutoLock lock(lock_);
    if (clock) {
        clock->AddRef();
    }
    if (clock_) {
        clock_->Release();
    }
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP Filter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) {
        return E_POINTER;
    }
    AutoLock lock(lock_);
    *clock = clock_;
    if (clock_) {
        clock_->AddRef();
    }
    return S_OK;
}

FILTER_STATE Filter::Snapshot(REFERENCE_TIME* start, IReferenceClock** clock, LONG* run) {
    AutoLock lock(lock_);
    *start = start_;
    *clock = clock_;
    if (clock_) {
        clock_->AddRef();
    }
    *run = runs_;
    return state_;
}

STDMETHODIMP Filter::EnumPins(IEnumPins** out) {
    if (!out) {
        return E_POINTER;
    }
    return NewObject<PinEnumerator>(out, PinList(this), 0u);
}

STDMETHODIMP Filter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) {
        return E_POINTER;
    }
    for (int i = 0; i < PinCount(); ++i) {
        LPWSTR pinId = nullptr;
        if (FAILED(PinAt(i)->QueryId(&pinId))) {
            continue;
        }
        bool same = lstrcmpW(pinId, id) == 0;
        CoTaskMemFree(pinId);
        if (same) {
            *pin = PinAt(i);
            (*pin)->AddRef();
            return S_OK;
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP Filter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) {
        return E_POINTER;
    }
    AutoLock lock(lock_);
    lstrcpynW(info->achName, name_, MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) {
        graph_->AddRef();
    }
    return S_OK;
}

STDMETHODIMP Filter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    AutoLock lock(lock_);
    graph_ = graph;
    lstrcpynW(name_, name ? name : L"", MAX_FILTER_NAME);
    return S_OK;
}

void Filter::NotifyGraph(LONG run, LONG code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = nullptr;
    {
        AutoLock lock(lock_);
        LONG& sent = code == EC_DEVICE_LOST ? lostRun_ : abortRun_;
        if (sent == run) {
            return;
        }
        sent = run;
        if (!graph_ ||
            FAILED(graph_->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            return;
        }
    }
    sink->Notify(code, param1, param2);
    sink->Release();
}

bool Filter::InstanceRemoved() const {
    // Set once by Load, before any stream starts.
    if (instance_.empty()) {
        return false;
    }
    HKEY key = OpenOurInstance(instance_, KEY_READ);
    if (!key) {
        return true;
    }
    RegCloseKey(key);
    return false;
}

STDMETHODIMP Filter::QueryVendorInfo(LPWSTR* info) {
    if (!info) {
        return E_POINTER;
    }
    *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP Filter::InitNew() {
    return S_OK;
}

namespace {

// A string value of the property bag: S_FALSE when absent, ERROR_INVALID_DATA when not a text.
HRESULT ReadString(IPropertyBag* bag, const wchar_t* name, IErrorLog* log, std::wstring& out) {
    VARIANT value;
    VariantInit(&value);
    if (FAILED(bag->Read(name, &value, log))) {
        return S_FALSE;
    }
    bool ok = value.vt == VT_BSTR && value.bstrVal;
    if (ok) {
        out.assign(value.bstrVal, SysStringLen(value.bstrVal));
    }
    VariantClear(&value);
    return ok ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
}

// The instance's picture controls; a value of another type or out of range is damage.
HRESULT ReadLook(HKEY key, Look& look) {
    LONG brightness = look.brightness;
    LONG contrast = look.contrast;
    LONG mode = 0;
    HRESULT hr = ReadNumber(key, L"Brightness", brightness);
    if (SUCCEEDED(hr)) {
        hr = ReadNumber(key, L"Contrast", contrast);
    }
    if (SUCCEEDED(hr)) {
        hr = ReadNumber(key, L"VideoControlMode", mode);
    }
    if (FAILED(hr) || brightness < kBrightnessMin || brightness > kBrightnessMax ||
        contrast < kContrastMin || contrast > kContrastMax ||
        (mode & ~(VideoControlFlag_FlipHorizontal | VideoControlFlag_FlipVertical)) != 0) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    look.brightness = brightness;
    look.contrast = contrast;
    look.mirror = (mode & VideoControlFlag_FlipHorizontal) != 0;
    look.flip = (mode & VideoControlFlag_FlipVertical) != 0;
    return S_OK;
}

} // namespace

STDMETHODIMP Filter::Load(IPropertyBag* bag, IErrorLog* log) {
    if (!bag) {
        return E_POINTER;
    }
    AutoLock serial(stateLock_);
    AutoLock lock(lock_);
    if (loaded_ || state_ != State_Stopped) {
        return E_UNEXPECTED;
    }
    try {
        Config config = DefaultConfig();
        Look look;
        std::wstring text;
        if (ReadString(bag, L"FriendlyName", log, text) == S_OK) {
            config.friendlyName = text;
        }
        // Our own registry entry is read directly, so that a value of the wrong type is seen
        // as the damage it is; a bag from elsewhere is read as it comes.
        std::wstring formats;
        std::wstring options;
        HRESULT hr = S_OK;
        HKEY key = OpenOurInstance(config.friendlyName, KEY_READ);
        if (key) {
            hr = ReadText(key, L"Formats", formats);
            if (SUCCEEDED(hr)) {
                hr = ReadText(key, L"Options", options);
            }
            if (SUCCEEDED(hr)) {
                hr = ReadLook(key, look);
            }
            RegCloseKey(key);
        } else {
            hr = ReadString(bag, L"Formats", log, formats);
            if (SUCCEEDED(hr)) {
                hr = ReadString(bag, L"Options", log, options);
            }
        }
        // A malformed configuration fails the bind loudly rather than streaming defaults.
        if (FAILED(hr) || (!formats.empty() && !ParseFormats(formats, config.formats)) ||
            !ParseOptions(options, config)) {
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        }
        if (config.previewPin && !preview_) {
            hr = NewObject<Pin>(&preview_, this, PIN_CATEGORY_PREVIEW, L"Preview");
            if (FAILED(hr)) {
                return hr;
            }
        }
        if (key) {
            instance_ = config.friendlyName;
        }
        config_ = std::move(config);
        look_ = look;
        InterlockedIncrement(&lookVersion_);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    loaded_ = true;
    return S_OK;
}

STDMETHODIMP Filter::Save(IPropertyBag*, BOOL, BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP_(ULONG) Filter::GetMiscFlags() {
    return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}

} // namespace testcam
