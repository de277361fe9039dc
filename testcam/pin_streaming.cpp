// The capture pin's streaming thread: draws the picture into the allocator's buffers and hands
// them downstream at the format's frame rate while the filter runs.
#include "testcam/filter.h"
#include "testcam/jpeg.h"

#include <algorithm>
#include <new>
#include <vector>

namespace testcam {

namespace {

LONGLONG QpcNow() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<LONGLONG>(static_cast<double>(now.QuadPart) * 10000000.0 /
                                 static_cast<double>(frequency.QuadPart));
}

} // namespace

HRESULT Pin::StartStreaming() {
    if (!peer_ || thread_) {
        return S_OK;
    }
    // An MJPG frame is the RGB24 picture, top-down as WIC takes it, encoded.
    Format drawn = current_;
    if (drawn.subtype == Subtype::MJPG) {
        drawn.subtype = Subtype::RGB24;
    }
    lookVersion_ = filter_->LookVersion();
    if (!wake_ || !pattern_.Init(drawn, topDown_ || current_.subtype == Subtype::MJPG,
                                 filter_->CurrentLook())) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = allocator_->Commit();
    if (FAILED(hr)) {
        return hr;
    }
    stopRequested_ = false;
    ResetEvent(wake_);
    ThreadStarted();
    thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    if (!thread_) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        ThreadEnded();
        allocator_->Decommit();
        return hr;
    }
    return S_OK;
}

void Pin::StopStreaming() {
    if (!thread_) {
        return;
    }
    stopRequested_ = true;
    SetEvent(wake_);
    // Releases a GetBuffer that waits for a free buffer.
    allocator_->Decommit();
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

void Pin::Wake() {
    if (wake_) {
        SetEvent(wake_);
    }
}

DWORD WINAPI Pin::ThreadProc(void* param) {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static_cast<Pin*>(param)->Stream();
    if (SUCCEEDED(hr)) {
        CoUninitialize();
    }
    ThreadEnded();
    return 0;
}

void Pin::CountDelivered(LONGLONG bytes, LONGLONG time) {
    AutoLock lock(filter_->lock());
    if (counts_.delivered == 0) {
        counts_.firstTime = time;
    }
    counts_.lastTime = time;
    ++counts_.delivered;
    counts_.bytes += bytes;
}

void Pin::CountDropped(LONG frameNumber) {
    AutoLock lock(filter_->lock());
    counts_.droppedFrames[counts_.dropped % 64] = frameNumber;
    ++counts_.dropped;
}

namespace {

// How often a streaming pin looks for its instance entry: a removal is seen within a second.
constexpr LONGLONG kPresenceCheck = 5000000;
// What the pin reports when the device stops delivering (the stopafter option): "a device
// attached to the system is not functioning", as a driver's failed read comes back.
const HRESULT kDeviceFailed = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);

} // namespace

void Pin::Stream() {
    const Config& config = filter_->config();
    // The realfps option: the sensor's own pace, whatever the format promises.
    const LONGLONG interval =
        config.realInterval > 0 ? config.realInterval : DeliveryInterval(current_);
    const DWORD size = ImageSize(current_);
    const bool jpeg = current_.subtype == Subtype::MJPG;
    JpegEncoder encoder;
    std::vector<BYTE> picture;
    if (jpeg) {
        try {
            picture.resize(ImageSize(pattern_.format()));
        } catch (const std::bad_alloc&) {
            picture.clear();
        }
    }
    // Without an encoder every frame is lost, and counted so.
    const bool canEncode = !jpeg || (SUCCEEDED(encoder.Init()) && !picture.empty());
    ULONGLONG frame = 0;
    LONG lastRun = 0;
    LONG captured = 0; // frames of this run, delivered or not
    LONG sent = 0;     // samples of this run handed downstream
    REFERENCE_TIME due = 0;
    LONGLONG nextPresenceCheck = 0;
    bool discontinuity = true;
    bool halted = false;
    bool dead = false; // the device stopped or went away: nothing more until the next run
    auto drop = [&] { CountDropped(captured++); };

    while (!stopRequested_) {
        REFERENCE_TIME start = 0;
        IReferenceClock* clock = nullptr;
        LONG run = 0;
        FILTER_STATE state = filter_->Snapshot(&start, &clock, &run);
        // Stamps are stream times on the graph's clock; with no clock the frames go unstamped.
        const bool stamped = clock != nullptr;
        REFERENCE_TIME now = QpcNow();
        if (clock) {
            clock->GetTime(&now);
            clock->Release();
        }
        if (state != State_Running) {
            WaitForSingleObject(wake_, INFINITE);
            continue;
        }
        if (run != lastRun) {
            // A new run: the sensor's frame goes out at once, stamped with its capture time
            // relative to the stream's start, which the graph sets ahead of Run: the first
            // stamps of a run lie before zero, and a renderer shows them at once.
            lastRun = run;
            halted = false;
            dead = false;
            discontinuity = true;
            captured = 0;
            sent = 0;
            due = now;
            nextPresenceCheck = 0;
        }
        // A device unplugged while it streams: the driver sees it and tells the graph once.
        if (!dead && QpcNow() >= nextPresenceCheck) {
            nextPresenceCheck = QpcNow() + kPresenceCheck;
            if (filter_->InstanceRemoved()) {
                dead = true;
                filter_->NotifyGraph(run, EC_DEVICE_LOST,
                                     reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(
                                         static_cast<IBaseFilter*>(filter_))),
                                     0);
            }
        }
        if (dead) {
            WaitForSingleObject(wake_, INFINITE);
            continue;
        }
        if (now < due) {
            LONGLONG wait = std::min<LONGLONG>(due - now, kPresenceCheck);
            WaitForSingleObject(wake_, static_cast<DWORD>((wait + 9999) / 10000));
            continue;
        }
        // Fell behind by more than a frame: the missed ones are dropped rather than burst.
        if (now - due > interval) {
            for (LONGLONG missed = (now - due) / interval; missed > 0; --missed) {
                drop();
            }
            due = now;
        }
        // Downstream refused a frame: the sensor goes on, its frames go nowhere until the
        // next run.
        if (halted || !canEncode) {
            drop();
            due += interval;
            continue;
        }
        // The picture controls apply from the next frame on.
        LONG version = filter_->LookVersion();
        if (version != lookVersion_) {
            lookVersion_ = version;
            if (!pattern_.Init(pattern_.format(), pattern_.topDown(), filter_->CurrentLook())) {
                halted = true;
                continue;
            }
        }

        IMediaSample* sample = nullptr;
        if (FAILED(allocator_->GetBuffer(&sample, nullptr, nullptr, 0))) {
            // Decommitted by Stop; the loop's condition ends the thread.
            WaitForSingleObject(wake_, 10);
            continue;
        }
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < static_cast<long>(size)) {
            sample->Release();
            halted = true;
            continue;
        }
        ++sent;
        // The black and frozen options: a covered lens, a sensor that repeats its picture.
        const bool black = config.blackEvery > 0 && sent % config.blackEvery == 0;
        const ULONGLONG shown =
            config.frozenRepeat > 0 ? frame / static_cast<ULONGLONG>(config.frozenRepeat) : frame;
        LONGLONG drawStart = QpcNow();
        DWORD length = size;
        HRESULT hr = S_OK;
        if (jpeg) {
            if (black) {
                pattern_.RenderBlack(picture.data());
            } else {
                pattern_.Render(picture.data(), shown);
            }
            hr = encoder.Encode(picture.data(), static_cast<UINT>(current_.width),
                                static_cast<UINT>(current_.height), Stride(pattern_.format()), data,
                                static_cast<DWORD>(sample->GetSize()), &length);
        } else if (black) {
            pattern_.RenderBlack(data);
        } else {
            pattern_.Render(data, shown);
        }
        LONGLONG drawTime = QpcNow() - drawStart;
        if (FAILED(hr)) {
            sample->Release();
            drop();
            due += interval;
            continue;
        }
        // The short option: a transfer cut in half, which the sample's length owns up to.
        if (config.shortEvery > 0 && sent % config.shortEvery == 0) {
            length = (jpeg ? length : size) / 2;
        }
        sample->SetActualDataLength(static_cast<long>(length));
        sample->SetSyncPoint(TRUE);
        sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
        if (stamped) {
            REFERENCE_TIME t0 = due - start;
            REFERENCE_TIME t1 = t0 + interval;
            sample->SetTime(&t0, &t1);
        } else {
            sample->SetTime(nullptr, nullptr);
        }
        ReceiveStarted();
        hr = input_->Receive(sample);
        ReceiveEnded(drawTime);
        sample->Release();
        if (hr == S_OK) {
            CountDelivered(length, QpcNow());
            ++captured;
        } else {
            // Refused (S_FALSE or an error): nothing more until the next run.
            halted = true;
            drop();
        }
        ++frame;
        discontinuity = false;
        due += interval;
        // The stopafter option: the device fails after so many frames of a run, and its
        // driver says so.
        if (config.stopAfter > 0 && sent >= config.stopAfter) {
            dead = true;
            filter_->NotifyGraph(lastRun, EC_ERRORABORT, kDeviceFailed, 0);
        }
        // The stallafter option: a device that goes silent after so many frames and says
        // nothing, as a driver whose read never completes.
        if (config.stallAfter > 0 && sent >= config.stallAfter) {
            dead = true;
        }
        // The unplugafter option: the device goes after so many frames, and its driver tells
        // the graph as it tells an unplug.
        if (config.unplugAfter > 0 && sent >= config.unplugAfter) {
            dead = true;
            filter_->NotifyGraph(lastRun, EC_DEVICE_LOST,
                                 reinterpret_cast<LONG_PTR>(
                                     static_cast<IUnknown*>(static_cast<IBaseFilter*>(filter_))),
                                 0);
        }
    }
}

} // namespace testcam
