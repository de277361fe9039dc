// The pins' connection side: media types, connection and allocator negotiation, the stream
// configuration and the pin category.
#include "testcam/enumerator.h"
#include "testcam/filter.h"
#include "testcam/mediatype.h"

#include <uuids.h>

#include <algorithm>
#include <cstring>

namespace testcam {

namespace {

// The formats a pin offers, as media types for its type enumerator.
class FormatList {
public:
    explicit FormatList(std::vector<Format> formats) : formats_(std::move(formats)) {}

    ULONG Count() const { return static_cast<ULONG>(formats_.size()); }
    HRESULT Get(ULONG index, AM_MEDIA_TYPE** mt) const {
        *mt = CreateMediaType(formats_[index]);
        return *mt ? S_OK : E_OUTOFMEMORY;
    }
    static void Free(AM_MEDIA_TYPE* mt) { DeleteMediaType(mt); }

private:
    std::vector<Format> formats_;
};

using TypeEnumerator =
    Enumerator<IEnumMediaTypes, &IID_IEnumMediaTypes, AM_MEDIA_TYPE*, FormatList>;

bool FullySpecified(const AM_MEDIA_TYPE& mt) {
    return mt.majortype != GUID_NULL && mt.subtype != GUID_NULL && mt.formattype != GUID_NULL &&
           mt.pbFormat;
}

} // namespace

Pin::Pin(Filter* filter, const GUID& category, const wchar_t* name)
    : filter_(filter), category_(category), name_(name) {
    wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

Pin::~Pin() {
    StopStreaming();
    ReleaseConnection();
    if (wake_) {
        CloseHandle(wake_);
    }
}

STDMETHODIMP Pin::QueryInterface(REFIID iid, void** out) {
    if (!out) {
        return E_POINTER;
    }
    if (iid == IID_IUnknown || iid == IID_IPin) {
        *out = static_cast<IPin*>(this);
    } else if (iid == IID_IKsPropertySet) {
        *out = static_cast<IKsPropertySet*>(this);
    } else if (iid == IID_IAMStreamConfig && filter_->config().streamConfig) {
        *out = static_cast<IAMStreamConfig*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) Pin::AddRef() {
    return filter_->AddRef();
}

STDMETHODIMP_(ULONG) Pin::Release() {
    return filter_->Release();
}

bool Pin::OfferedFormats(std::vector<Format>& out) const {
    try {
        if (chosen_) {
            out.assign(1, current_);
        } else {
            out = filter_->config().formats;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

STDMETHODIMP Pin::Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) {
    if (!receiver) {
        return E_POINTER;
    }
    AutoLock serial(filter_->stateLock());
    AutoLock lock(filter_->lock());
    if (peer_) {
        return VFW_E_ALREADY_CONNECTED;
    }
    if (filter_->state() != State_Stopped) {
        return VFW_E_NOT_STOPPED;
    }
    if (filter_->config().oneStream) {
        for (int i = 0; i < filter_->PinCount(); ++i) {
            if (filter_->PinAt(i) != this && filter_->PinAt(i)->IsConnected()) {
                return VFW_E_CANNOT_CONNECT;
            }
        }
    }
    std::vector<Format> offered;
    if (!OfferedFormats(offered)) {
        return E_OUTOFMEMORY;
    }

    if (mt && FullySpecified(*mt)) {
        for (const Format& f : offered) {
            bool topDown = false;
            if (MatchesFormat(*mt, f, &topDown)) {
                return TryConnect(receiver, *mt, f, topDown);
            }
        }
        return VFW_E_TYPE_NOT_ACCEPTED;
    }

    // Our own types in order of preference, then those the receiver proposes.
    for (const Format& f : offered) {
        if (mt && !AllowsFormat(*mt, f)) {
            continue;
        }
        AM_MEDIA_TYPE type;
        HRESULT hr = InitMediaType(f, &type);
        if (FAILED(hr)) {
            return hr;
        }
        hr = TryConnect(receiver, type, f, false);
        FreeMediaTypeContents(type);
        if (SUCCEEDED(hr)) {
            return hr;
        }
    }
    IEnumMediaTypes* types = nullptr;
    if (SUCCEEDED(receiver->EnumMediaTypes(&types))) {
        AM_MEDIA_TYPE* type = nullptr;
        HRESULT hr = E_FAIL;
        while (FAILED(hr) && types->Next(1, &type, nullptr) == S_OK) {
            for (const Format& f : offered) {
                bool topDown = false;
                if ((!mt || AllowsFormat(*mt, f)) && MatchesFormat(*type, f, &topDown)) {
                    hr = TryConnect(receiver, *type, f, topDown);
                    break;
                }
            }
            DeleteMediaType(type);
        }
        types->Release();
        if (SUCCEEDED(hr)) {
            return hr;
        }
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT Pin::TryConnect(IPin* receiver, const AM_MEDIA_TYPE& mt, const Format& format,
                        bool topDown) {
    HRESULT hr = receiver->ReceiveConnection(this, &mt);
    if (FAILED(hr)) {
        return hr;
    }
    IMemInputPin* input = nullptr;
    hr = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    if (SUCCEEDED(hr)) {
        hr = CopyMediaType(&mt_, mt);
        if (SUCCEEDED(hr)) {
            peer_ = receiver;
            peer_->AddRef();
            input_ = input;
            input = nullptr;
            current_ = format;
            topDown_ = topDown;
            hr = DecideAllocator(input_, format);
        }
    } else {
        hr = VFW_E_NO_TRANSPORT;
    }
    if (input) {
        input->Release();
    }
    if (FAILED(hr)) {
        ReleaseConnection();
        receiver->Disconnect();
    }
    return hr;
}

namespace {

HRESULT ConfigureAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& wanted,
                           DWORD imageSize) {
    ALLOCATOR_PROPERTIES props = wanted;
    // A few buffers let a frame be drawn while the previous one is on screen.
    props.cBuffers = std::max<long>(props.cBuffers, 3);
    props.cbBuffer = std::max<long>(props.cbBuffer, static_cast<long>(imageSize));
    props.cbAlign = std::max<long>(props.cbAlign, 1);
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = allocator->SetProperties(&props, &actual);
    if (FAILED(hr)) {
        return hr;
    }
    return actual.cbBuffer >= static_cast<long>(imageSize) && actual.cBuffers > 0 ? S_OK : E_FAIL;
}

} // namespace

HRESULT Pin::DecideAllocator(IMemInputPin* input, const Format& format) {
    ALLOCATOR_PROPERTIES wanted = {};
    // Requirements are optional; E_NOTIMPL leaves them zero.
    input->GetAllocatorRequirements(&wanted);
    DWORD size = ImageSize(format);

    IMemAllocator* allocator = nullptr;
    if (SUCCEEDED(input->GetAllocator(&allocator))) {
        if (SUCCEEDED(ConfigureAllocator(allocator, wanted, size)) &&
            SUCCEEDED(input->NotifyAllocator(allocator, FALSE))) {
            allocator_ = allocator;
            return S_OK;
        }
        allocator->Release();
        allocator = nullptr;
    }
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IMemAllocator, reinterpret_cast<void**>(&allocator));
    if (FAILED(hr)) {
        return hr;
    }
    hr = ConfigureAllocator(allocator, wanted, size);
    if (SUCCEEDED(hr)) {
        hr = input->NotifyAllocator(allocator, FALSE);
    }
    if (FAILED(hr)) {
        allocator->Release();
        return hr;
    }
    allocator_ = allocator;
    return S_OK;
}

void Pin::ReleaseConnection() {
    if (allocator_) {
        allocator_->Release();
        allocator_ = nullptr;
    }
    if (input_) {
        input_->Release();
        input_ = nullptr;
    }
    if (peer_) {
        peer_->Release();
        peer_ = nullptr;
    }
    FreeMediaTypeContents(mt_);
    memset(&mt_, 0, sizeof(mt_));
}

STDMETHODIMP Pin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
    return E_UNEXPECTED;
}

STDMETHODIMP Pin::Disconnect() {
    AutoLock serial(filter_->stateLock());
    AutoLock lock(filter_->lock());
    if (filter_->state() != State_Stopped) {
        return VFW_E_NOT_STOPPED;
    }
    if (!peer_) {
        return S_FALSE;
    }
    ReleaseConnection();
    return S_OK;
}

STDMETHODIMP Pin::ConnectedTo(IPin** pin) {
    if (!pin) {
        return E_POINTER;
    }
    AutoLock lock(filter_->lock());
    *pin = peer_;
    if (!peer_) {
        return VFW_E_NOT_CONNECTED;
    }
    peer_->AddRef();
    return S_OK;
}

STDMETHODIMP Pin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) {
        return E_POINTER;
    }
    AutoLock lock(filter_->lock());
    if (!peer_) {
        memset(mt, 0, sizeof(*mt));
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(mt, mt_);
}

STDMETHODIMP Pin::QueryPinInfo(PIN_INFO* info) {
    if (!info) {
        return E_POINTER;
    }
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, name_, MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP Pin::QueryDirection(PIN_DIRECTION* dir) {
    if (!dir) {
        return E_POINTER;
    }
    *dir = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP Pin::QueryId(LPWSTR* id) {
    if (!id) {
        return E_POINTER;
    }
    size_t bytes = (wcslen(name_) + 1) * sizeof(WCHAR);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) {
        return E_OUTOFMEMORY;
    }
    memcpy(*id, name_, bytes);
    return S_OK;
}

STDMETHODIMP Pin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) {
        return E_POINTER;
    }
    AutoLock lock(filter_->lock());
    // What EnumMediaTypes offers, without copying it: once SetFormat chose, that format alone.
    auto selects = [&](const Format& f) { return SelectsFormat(*mt, f, nullptr); };
    if (chosen_) {
        return selects(current_) ? S_OK : S_FALSE;
    }
    const std::vector<Format>& formats = filter_->config().formats;
    return std::any_of(formats.begin(), formats.end(), selects) ? S_OK : S_FALSE;
}

STDMETHODIMP Pin::EnumMediaTypes(IEnumMediaTypes** out) {
    if (!out) {
        return E_POINTER;
    }
    AutoLock lock(filter_->lock());
    *out = nullptr;
    std::vector<Format> offered;
    if (!OfferedFormats(offered)) {
        return E_OUTOFMEMORY;
    }
    return NewObject<TypeEnumerator>(out, FormatList(std::move(offered)), 0u);
}

STDMETHODIMP Pin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

// An output pin receives no stream control calls.
STDMETHODIMP Pin::EndOfStream() {
    return E_UNEXPECTED;
}
STDMETHODIMP Pin::BeginFlush() {
    return E_UNEXPECTED;
}
STDMETHODIMP Pin::EndFlush() {
    return E_UNEXPECTED;
}
STDMETHODIMP Pin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
    return E_UNEXPECTED;
}

STDMETHODIMP Pin::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
    // The pin category is read-only.
    return set == AMPROPSETID_Pin ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

STDMETHODIMP Pin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataSize,
                      DWORD* returned) {
    if (set != AMPROPSETID_Pin) {
        return E_PROP_SET_UNSUPPORTED;
    }
    if (id != AMPROPERTY_PIN_CATEGORY) {
        return E_PROP_ID_UNSUPPORTED;
    }
    if (!data) {
        return E_POINTER;
    }
    if (dataSize < sizeof(GUID)) {
        return E_UNEXPECTED;
    }
    memcpy(data, &category_, sizeof(GUID));
    if (returned) {
        *returned = sizeof(GUID);
    }
    return S_OK;
}

STDMETHODIMP Pin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (set != AMPROPSETID_Pin) {
        return E_PROP_SET_UNSUPPORTED;
    }
    if (id != AMPROPERTY_PIN_CATEGORY) {
        return E_PROP_ID_UNSUPPORTED;
    }
    if (support) {
        *support = KSPROPERTY_SUPPORT_GET;
    }
    return S_OK;
}

STDMETHODIMP Pin::SetFormat(AM_MEDIA_TYPE* mt) {
    if (!mt) {
        return E_POINTER;
    }
    AutoLock serial(filter_->stateLock());
    AutoLock lock(filter_->lock());
    if (filter_->state() != State_Stopped) {
        return VFW_E_NOT_STOPPED;
    }
    const Format* match = nullptr;
    bool topDown = false;
    for (const Format& f : filter_->config().formats) {
        if (SelectsFormat(*mt, f, &topDown)) {
            match = &f;
            break;
        }
    }
    // What the platform's capture filters answer for a type they cannot deliver.
    if (!match) {
        return E_FAIL;
    }
    // The refuse option: a listed format the device turns down, as some drivers do for a mode
    // they list but cannot stream.
    if (match - filter_->config().formats.data() == filter_->config().refusedFormat) {
        return VFW_E_INVALIDMEDIATYPE;
    }
    if (!peer_) {
        current_ = *match;
        topDown_ = topDown;
        chosen_ = true;
        return S_OK;
    }
    if (*match == current_ && topDown == topDown_) {
        chosen_ = true;
        return S_OK;
    }
    // Connected already: the graph reconnects the pin with the new format, if the peer takes it.
    IFilterGraph* graph = filter_->graph();
    if (!graph) {
        return VFW_E_NOT_IN_GRAPH;
    }
    // The peer is asked about the type the pin will connect with, not the caller's sketch of it.
    AM_MEDIA_TYPE own;
    HRESULT hr = InitMediaType(*match, &own);
    if (FAILED(hr)) {
        return hr;
    }
    bool accepted = peer_->QueryAccept(&own) == S_OK;
    FreeMediaTypeContents(own);
    if (!accepted) {
        return VFW_E_INVALIDMEDIATYPE;
    }
    Format previous = current_;
    bool previousTopDown = topDown_;
    bool previousChosen = chosen_;
    current_ = *match;
    topDown_ = topDown;
    chosen_ = true;
    hr = graph->Reconnect(this);
    if (FAILED(hr)) {
        current_ = previous;
        topDown_ = previousTopDown;
        chosen_ = previousChosen;
    }
    return hr;
}

STDMETHODIMP Pin::GetFormat(AM_MEDIA_TYPE** mt) {
    if (!mt) {
        return E_POINTER;
    }
    AutoLock lock(filter_->lock());
    if (peer_) {
        *mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (*mt && FAILED(CopyMediaType(*mt, mt_))) {
            CoTaskMemFree(*mt);
            *mt = nullptr;
        }
    } else {
        *mt = CreateMediaType(chosen_ ? current_ : filter_->config().formats.front());
    }
    return *mt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP Pin::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size) {
        return E_POINTER;
    }
    *count = static_cast<int>(filter_->config().formats.size());
    *size = filter_->config().capsSize;
    return S_OK;
}

STDMETHODIMP Pin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
    // The index comes first, as in the platform's capture filters: a caller looking for the end
    // may pass no buffers.
    const std::vector<Format>& formats = filter_->config().formats;
    if (index < 0 || static_cast<size_t>(index) >= formats.size()) {
        return S_FALSE;
    }
    if (!mt || !caps) {
        return E_POINTER;
    }
    const Format& f = formats[static_cast<size_t>(index)];
    *mt = CreateMediaType(f);
    if (!*mt) {
        return E_OUTOFMEMORY;
    }
    // The caller sized `caps` from GetNumberOfCapabilities: never write past that.
    // The frame intervals span what GetFrameRateList gives for this size and subtype, as a
    // driver's do; the media type keeps the format's own frame time.
    std::vector<LONGLONG> times;
    try {
        times = FrameTimesLike(formats, f);
    } catch (const std::bad_alloc&) {
        DeleteMediaType(*mt);
        *mt = nullptr;
        return E_OUTOFMEMORY;
    }
    VIDEO_STREAM_CONFIG_CAPS full;
    FillCaps(f, times.front(), times.back(), &full);
    size_t reported = static_cast<size_t>(filter_->config().capsSize);
    size_t copied = std::min(reported, sizeof(full));
    memcpy(caps, &full, copied);
    memset(caps + copied, 0, reported - copied);
    return S_OK;
}

} // namespace testcam
