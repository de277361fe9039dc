// The capture pin's streaming thread: draws the picture into the allocator's buffers and hands
// them downstream at the format's frame rate while the filter runs.
#include "testcam/filter.h"

#include <algorithm>

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
    if (!wake_ || !pattern_.Init(current_, topDown_)) {
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
    ULONGLONG frame = 0;
    LONG lastRun = 0;
    REFERENCE_TIME due = 0;
    bool discontinuity = true;
    bool halted = false;

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
        if (state != State_Running || (halted && run == lastRun)) {
            WaitForSingleObject(wake_, INFINITE);
            continue;
        }
        if (run != lastRun) {
            // A new run: the first frame is due when the stream starts, not before.
            lastRun = run;
            halted = false;
            discontinuity = true;
            due = stamped ? std::max(now, start) : now;
        }
        if (now < due) {
            WaitForSingleObject(wake_, static_cast<DWORD>((due - now + 9999) / 10000));
            continue;
        }
        // Fell behind by more than a frame: drop the missed ones rather than burst.
        if (now - due > interval) {
            due = now;
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
        pattern_.Render(data, frame);
        LONGLONG drawTime = QpcNow() - drawStart;
        sample->SetActualDataLength(static_cast<long>(size));
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
        HRESULT hr = input_->Receive(sample);
        ReceiveEnded(drawTime);
        sample->Release();
        // Downstream refused (S_FALSE or an error): nothing more until the next run.
        if (hr != S_OK) {
            halted = true;
        }
        ++frame;
        discontinuity = false;
        due += interval;
    }
}

} // namespace testcam
