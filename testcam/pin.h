// The camera's output pins: a capture pin, and a preview pin when the instance asks for one.
// Each connects, negotiates the allocator and streams on a thread of its own.
#pragma once

#include "framework/object.h"
#include "testcam/config.h"
#include "testcam/module.h"
#include "testcam/pattern.h"

#include <dshow.h>

#include <atomic>
#include <vector>

namespace testcam {

class Filter;

// A pin's frames since the start of the run, as IAMDroppedFrames counts them.
struct FrameCounts {
    LONG delivered = 0;
    LONG dropped = 0;
    LONGLONG bytes = 0;     // of the delivered frames
    LONGLONG firstTime = 0; // when the first and the last delivered frame went out (100 ns)
    LONGLONG lastTime = 0;
    LONG droppedFrames[64] = {}; // the numbers of the latest dropped frames, a ring
};

class Pin final : public IPin, public IKsPropertySet, public IAMStreamConfig, private CNoCopy {
public:
    Pin(Filter* filter, const GUID& category, const wchar_t* name);
    ~Pin();

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
    // Under the filter's lock.
    bool IsConnected() const { return peer_ != nullptr; }
    const Format& CurrentFormat() const { return current_; }
    FrameCounts& Counts() { return counts_; }

private:
    HRESULT TryConnect(IPin* receiver, const AM_MEDIA_TYPE& mt, const Format& format, bool topDown);
    HRESULT DecideAllocator(IMemInputPin* input, const Format& format);
    // The formats offered now: all configured ones, or the one SetFormat chose.
    bool OfferedFormats(std::vector<Format>& out) const;
    void ReleaseConnection();

    static DWORD WINAPI ThreadProc(void* param);
    void Stream();
    void CountDelivered(LONGLONG bytes, LONGLONG time);
    void CountDropped(LONG frameNumber);

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

    FrameCounts counts_; // guarded by the filter's lock
    HANDLE thread_ = nullptr;
    HANDLE wake_ = nullptr;
    std::atomic<bool> stopRequested_{false};
    Pattern pattern_;
    LONG lookVersion_ = 0; // of the picture controls the pattern was drawn with
};

} // namespace testcam
