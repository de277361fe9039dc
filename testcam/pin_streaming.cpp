// The capture pin's streaming thread: draws the picture into the allocator's buffers and hands
// them downstream at the format's frame rate while the filter runs.
#include "testcam/filter.h"
#include "testcam/jpeg.h"

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

void Pin::Stream() {
    const LONGLONG interval = DeliveryInterval(current_);
    const DWORD size = ImageSize(current_);
    const bool jpeg = current_.subtype == Subtype::MJPG;
    // IAMDroppedFrames counts the capture pin's frames.
    const bool counted = category_ == PIN_CATEGORY_CAPTURE;
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
    REFERENCE_TIME due = 0;
    bool discontinuity = true;
    bool halted = false;
    auto drop = [&] {
        if (counted) {
            filter_->CountDropped(captured);
        }
        ++captured;
    };

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
            discontinuity = true;
            captured = 0;
            due = now;
        }
        if (now < due) {
            WaitForSingleObject(wake_, static_cast<DWORD>((due - now + 9999) / 10000));
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
        LONGLONG drawStart = QpcNow();
        DWORD length = size;
        HRESULT hr = S_OK;
        if (jpeg) {
            pattern_.Render(picture.data(), frame);
            hr = encoder.Encode(picture.data(), static_cast<UINT>(current_.width),
                                static_cast<UINT>(current_.height), Stride(pattern_.format()), data,
                                static_cast<DWORD>(sample->GetSize()), &length);
        } else {
            pattern_.Render(data, frame);
        }
        LONGLONG drawTime = QpcNow() - drawStart;
        if (FAILED(hr)) {
            sample->Release();
            drop();
            due += interval;
            continue;
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
            if (counted) {
                filter_->CountDelivered(length, QpcNow());
            }
            ++captured;
        } else {
            // Refused (S_FALSE or an error): nothing more until the next run.
            halted = true;
            drop();
        }
        ++frame;
        discontinuity = false;
        due += interval;
    }
}

} // namespace testcam
