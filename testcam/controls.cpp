// The filter's controls as a webcam's driver offers them: the picture controls
// (IAMVideoProcAmp), mirroring and frame rates (IAMVideoControl), the frame counters
// (IAMDroppedFrames) and its settings page (ISpecifyPropertyPages).
#include "testcam/filter.h"
#include "testcam/registry.h"

#include <algorithm>
#include <vector>

namespace testcam {

namespace {

constexpr long kFlipFlags = VideoControlFlag_FlipHorizontal | VideoControlFlag_FlipVertical;

long ModeOf(const Look& look) {
    return (look.mirror ? VideoControlFlag_FlipHorizontal : 0) |
           (look.flip ? VideoControlFlag_FlipVertical : 0);
}

} // namespace

Look Filter::CurrentLook() {
    AutoLock lock(lock_);
    return look_;
}

HRESULT Filter::ChangeLook(const Look& look, const wchar_t* value, LONG number) {
    std::wstring instance;
    {
        AutoLock lock(lock_);
        instance = instance_;
    }
    // Kept as a driver keeps its settings: the next bind of the instance starts with them.
    if (!instance.empty()) {
        HRESULT hr = WriteNumber(instance, value, number);
        if (FAILED(hr)) {
            return hr;
        }
    }
    AutoLock lock(lock_);
    look_ = look;
    InterlockedIncrement(&lookVersion_);
    return S_OK;
}

STDMETHODIMP Filter::GetRange(long property, long* min, long* max, long* step, long* defaultValue,
                              long* flags) {
    if (!min || !max || !step || !defaultValue || !flags) {
        return E_POINTER;
    }
    const Look plain;
    if (property == VideoProcAmp_Brightness) {
        *min = kBrightnessMin;
        *max = kBrightnessMax;
        *defaultValue = plain.brightness;
    } else if (property == VideoProcAmp_Contrast) {
        *min = kContrastMin;
        *max = kContrastMax;
        *defaultValue = plain.contrast;
    } else {
        return E_PROP_ID_UNSUPPORTED;
    }
    *step = 1;
    *flags = VideoProcAmp_Flags_Manual;
    return S_OK;
}

STDMETHODIMP Filter::Set(long property, long value, long flags) {
    long min = 0, max = 0, step = 0, plain = 0, caps = 0;
    HRESULT hr = GetRange(property, &min, &max, &step, &plain, &caps);
    if (FAILED(hr)) {
        return hr;
    }
    // Manual is the only mode there is.
    if (value < min || value > max || flags != VideoProcAmp_Flags_Manual) {
        return E_INVALIDARG;
    }
    Look look = CurrentLook();
    if (property == VideoProcAmp_Brightness) {
        look.brightness = value;
        return ChangeLook(look, L"Brightness", value);
    }
    look.contrast = value;
    return ChangeLook(look, L"Contrast", value);
}

void Filter::RefreshStoredLook() {
    std::wstring instance;
    {
        AutoLock lock(lock_);
        instance = instance_;
    }
    if (instance.empty()) {
        return;
    }
    // What the camera holds now, as a device answers: another program may have changed it
    // since this filter was bound.
    HKEY key = OpenOurInstance(instance, KEY_READ);
    if (!key) {
        return;
    }
    LONG brightness = 0;
    LONG contrast = 0;
    bool haveBrightness = ReadNumber(key, L"Brightness", brightness) == S_OK &&
                          brightness >= kBrightnessMin && brightness <= kBrightnessMax;
    bool haveContrast = ReadNumber(key, L"Contrast", contrast) == S_OK &&
                        contrast >= kContrastMin && contrast <= kContrastMax;
    RegCloseKey(key);
    AutoLock lock(lock_);
    Look look = look_;
    if (haveBrightness) {
        look.brightness = brightness;
    }
    if (haveContrast) {
        look.contrast = contrast;
    }
    if (!(look == look_)) {
        look_ = look;
        InterlockedIncrement(&lookVersion_);
    }
}

STDMETHODIMP Filter::Get(long property, long* value, long* flags) {
    if (!value || !flags) {
        return E_POINTER;
    }
    RefreshStoredLook();
    Look look = CurrentLook();
    if (property == VideoProcAmp_Brightness) {
        *value = look.brightness;
    } else if (property == VideoProcAmp_Contrast) {
        *value = look.contrast;
    } else {
        return E_PROP_ID_UNSUPPORTED;
    }
    *flags = VideoProcAmp_Flags_Manual;
    return S_OK;
}

HRESULT Filter::CheckPin(IPin* pin) {
    if (!pin) {
        return E_POINTER;
    }
    for (int i = 0; i < PinCount(); ++i) {
        if (pin == PinAt(i)) {
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

STDMETHODIMP Filter::GetCaps(IPin* pin, long* flags) {
    HRESULT hr = CheckPin(pin);
    if (FAILED(hr) || !flags) {
        return FAILED(hr) ? hr : E_POINTER;
    }
    *flags = kFlipFlags;
    return S_OK;
}

STDMETHODIMP Filter::SetMode(IPin* pin, long mode) {
    HRESULT hr = CheckPin(pin);
    if (FAILED(hr)) {
        return hr;
    }
    if ((mode & ~kFlipFlags) != 0) {
        return E_INVALIDARG;
    }
    // One sensor: the mode applies to every pin.
    Look look = CurrentLook();
    look.mirror = (mode & VideoControlFlag_FlipHorizontal) != 0;
    look.flip = (mode & VideoControlFlag_FlipVertical) != 0;
    return ChangeLook(look, L"VideoControlMode", mode);
}

STDMETHODIMP Filter::GetMode(IPin* pin, long* mode) {
    HRESULT hr = CheckPin(pin);
    if (FAILED(hr) || !mode) {
        return FAILED(hr) ? hr : E_POINTER;
    }
    *mode = ModeOf(CurrentLook());
    return S_OK;
}

STDMETHODIMP Filter::GetCurrentActualFrameRate(IPin* pin, LONGLONG* frameTime) {
    HRESULT hr = CheckPin(pin);
    if (FAILED(hr) || !frameTime) {
        return FAILED(hr) ? hr : E_POINTER;
    }
    AutoLock lock(lock_);
    if (state_ != State_Running || !static_cast<Pin*>(pin)->IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    // Measured over the pin's frames delivered so far in this run; until there are two, the
    // rate the format promises.
    const FrameCounts& counts = static_cast<Pin*>(pin)->Counts();
    if (counts.delivered < 2) {
        *frameTime = config_.realInterval > 0
                         ? config_.realInterval
                         : DeliveryInterval(static_cast<Pin*>(pin)->CurrentFormat());
    } else {
        *frameTime = (counts.lastTime - counts.firstTime) / (counts.delivered - 1);
    }
    return S_OK;
}

namespace {

// The frame times of the configured formats of `size` with the subtype of capability `index`,
// shortest first; first the pin's check and the caller's result pointer, in the order the
// platform's filters answer them.
HRESULT FrameTimes(HRESULT pinCheck, const void* result, const std::vector<Format>& formats,
                   long index, SIZE size, std::vector<LONGLONG>& out) {
    if (FAILED(pinCheck) || !result) {
        return FAILED(pinCheck) ? pinCheck : E_POINTER;
    }
    if (index < 0 || static_cast<size_t>(index) >= formats.size()) {
        return E_INVALIDARG;
    }
    Format like = formats[static_cast<size_t>(index)];
    like.width = size.cx;
    like.height = size.cy;
    try {
        out = FrameTimesLike(formats, like);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (out.empty()) {
        return E_INVALIDARG;
    }
    return S_OK;
}

} // namespace

STDMETHODIMP Filter::GetMaxAvailableFrameRate(IPin* pin, long index, SIZE size,
                                              LONGLONG* frameTime) {
    std::vector<LONGLONG> times;
    HRESULT hr = FrameTimes(CheckPin(pin), frameTime, config_.formats, index, size, times);
    if (SUCCEEDED(hr)) {
        *frameTime = times.front();
    }
    return hr;
}

STDMETHODIMP Filter::GetFrameRateList(IPin* pin, long index, SIZE size, long* count,
                                      LONGLONG** frameTimes) {
    std::vector<LONGLONG> times;
    HRESULT hr = FrameTimes(CheckPin(pin), count, config_.formats, index, size, times);
    if (FAILED(hr)) {
        return hr;
    }
    *count = static_cast<long>(times.size());
    // Without a list pointer the caller asks for the count alone.
    if (frameTimes) {
        *frameTimes = static_cast<LONGLONG*>(CoTaskMemAlloc(times.size() * sizeof(LONGLONG)));
        if (!*frameTimes) {
            return E_OUTOFMEMORY;
        }
        std::copy(times.begin(), times.end(), *frameTimes);
    }
    return S_OK;
}

STDMETHODIMP Filter::GetNumDropped(long* dropped) {
    if (!dropped) {
        return E_POINTER;
    }
    AutoLock lock(lock_);
    *dropped = capture_.Counts().dropped;
    return S_OK;
}

STDMETHODIMP Filter::GetNumNotDropped(long* delivered) {
    if (!delivered) {
        return E_POINTER;
    }
    AutoLock lock(lock_);
    *delivered = capture_.Counts().delivered;
    return S_OK;
}

STDMETHODIMP Filter::GetDroppedInfo(long size, long* frames, long* copied) {
    if (!frames || !copied) {
        return E_POINTER;
    }
    if (size <= 0) {
        return E_INVALIDARG;
    }
    AutoLock lock(lock_);
    // The latest dropped frames the ring holds, oldest first.
    const FrameCounts& counts = capture_.Counts();
    long held = std::min<long>(counts.dropped, 64);
    long n = std::min(size, held);
    for (long i = 0; i < n; ++i) {
        frames[i] = counts.droppedFrames[(counts.dropped - held + i) % 64];
    }
    *copied = n;
    return S_OK;
}

STDMETHODIMP Filter::GetAverageFrameSize(long* size) {
    if (!size) {
        return E_POINTER;
    }
    AutoLock lock(lock_);
    const FrameCounts& counts = capture_.Counts();
    *size = counts.delivered ? static_cast<long>(counts.bytes / counts.delivered) : 0;
    return S_OK;
}

STDMETHODIMP Filter::GetPages(CAUUID* pages) {
    if (!pages) {
        return E_POINTER;
    }
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->cElems = 1;
    pages->pElems[0] = CLSID_LookwellTestCameraPage;
    return S_OK;
}

} // namespace testcam
