// The tap on a live stream: a consumer of the sink base that a graph connects beside the stream's
// own path (a camera's capture pin, a smart tee's capture output). It sees every picture without
// holding the camera's thread up: the arrival times, the pictures and the gaps against the
// camera's cadence, the measured rate, the latest picture (kept in one of two buffers made at the
// connection), and one subscriber that gets every sample on the camera's thread.
#pragma once

#include "framework/object.h"
#include "framework/sync.h"
#include "media/jpeg_decoder.h"
#include "media/sink_filter.h"
#include "media/video_frame.h"

#include <memory>
#include <vector>

// One sample as the tap hands it on. Its bytes are the camera's own buffer, valid only during
// the call: a subscriber copies what it keeps, once.
struct CTapSample {
    // The bytes, their length, the arrival (QueryPerformanceCounter, taken first thing in
    // Receive), the stream times where the sample has them, a new media type where it brings one.
    const CSampleView& view;
    // The stream's media type now (already the new one when the sample brought one).
    const AM_MEDIA_TYPE& mediaType;
    ULONGLONG nSequence = 0;  // 1 for the first sample since the connection
    LONGLONG nRunArrival = 0; // QueryPerformanceCounter when the stream last began to run
    REFERENCE_TIME tRunStart =
        0; // the graph's stream start of that run: view.tStart counts from it
};

// One more consumer of the stream, for example a recorder. Its calls come on the camera's thread,
// one at a time: they must never wait or block, and must not call back into the tap.
class IStreamTapSubscriber {
public:
    virtual void OnTapSample(const CTapSample& sample) noexcept = 0;
    // The stream ended: the upstream sent its end, or the tap was disconnected or stopped. No
    // sample follows until the stream runs again.
    virtual void OnTapEnd() noexcept {}

protected:
    ~IStreamTapSubscriber() = default;
};

// What the tap counted, copied out under its lock.
struct CTapFigures {
    ULONGLONG nSamples = 0; // pictures since the connection
    // Intervals between pictures longer than 1.5 nominal intervals, as the camera check counts
    // them; the first one of each run (after a start or a pause) not counted.
    ULONGLONG nGaps = 0;
    ULONGLONG nNotKept = 0;    // pictures the latest-picture buffers did not take
    double dRate = -1;         // pictures a second over the last two seconds; -1 not yet known
    LONGLONG nLastArrival = 0; // QueryPerformanceCounter of the last picture; 0 before the first
    FILTER_STATE state = State_Stopped;
    LONGLONG nStateSince = 0;      // when that state began (QueryPerformanceCounter)
    bool bEnded = false;           // the upstream ended the stream while it ran
    LONGLONG nominalFrameTime = 0; // 100 ns; 0 when neither the media type nor the caller gave one
    bool bConnected = false;
};

class CStreamTap : private CNoCopy {
public:
    // A tap and its sink filter (one reference for the caller). The filter holds the tap; so
    // does whoever keeps the shared pointer, which outlives the filter if need be.
    static HRESULT Create(std::shared_ptr<CStreamTap>& pTap, CSinkFilter** ppFilter);

    ~CStreamTap();

    // The nominal frame interval for a stream whose media type states none (a capability's).
    void SetNominalFrameTime(LONGLONG frameTime);

    // One subscriber at a time: false when another one is subscribed. Unsubscribe returns once
    // no call to the subscriber runs any more, so that it may go away then.
    bool Subscribe(IStreamTapSubscriber* pSubscriber);
    void Unsubscribe(IStreamTapSubscriber* pSubscriber);

    void GetFigures(CTapFigures& figures) const;
    // The connection's media type (a copy the caller frees); false while not connected.
    bool GetMediaType(AM_MEDIA_TYPE& mt) const;
    // The latest picture as an upright DIB (media/video_frame.h), converted on the calling thread
    // while the camera goes on filling the other buffer. False, with the reason, when there is
    // none yet or it could not be converted.
    bool GetLatestPicture(std::vector<BYTE>& dib, HRESULT& hr);

    // Seconds between two QueryPerformanceCounter readings, in 100 ns units.
    static LONGLONG QpcTo100ns(LONGLONG nTicks);

private:
    class CConsumer;
    friend class CConsumer;

    // The consumer's calls, each under the filter's stream lock.
    HRESULT OnConnect(const AM_MEDIA_TYPE& mt) noexcept;
    void OnDisconnect() noexcept;
    void OnState(FILTER_STATE state, REFERENCE_TIME tStart) noexcept;
    HRESULT OnSample(const CSampleView& sample) noexcept;
    void OnEndOfStream() noexcept;
    void TellEnd() noexcept;

    static constexpr size_t kArrivals = 256; // two seconds at up to 128 pictures a second

    mutable CCriticalSection m_lock; // what follows, up to the subscriber
    AM_MEDIA_TYPE m_mt{};
    CTapFigures m_figures; // all but the rate, which GetFigures works out
    CFrameLayout m_layout;
    LONGLONG m_callerFrameTime = 0;
    LONGLONG m_nQpcFrequency = 1;
    LONGLONG m_nRunArrival = 0;
    REFERENCE_TIME m_tRunStart = 0;
    LONGLONG m_nPreviousInRun = 0; // the last picture of this run; 0 at a run's start
    LONGLONG m_arrivals[kArrivals] = {};
    size_t m_nNextArrival = 0;
    // The latest picture: the camera writes into the buffer that is neither the latest nor
    // being read; with a reader on the other one the picture is not kept.
    std::vector<BYTE> m_buffers[2];
    size_t m_nLength[2] = {};
    int m_nLatest = -1;
    int m_nReading = -1;
    // For MJPG, opened at the connection, on the thread that builds the graph, before any
    // picture flows. Wine quirk: the imaging component's first load on the window's thread while
    // Wine's capture filter streams deadlocked the window and the stream (measured, 1 run in 2).
    // Used by one reader at a time (m_nReading).
    CJpegDecoder m_jpeg;

    CCriticalSection m_subscriberLock; // held around every call to the subscriber
    IStreamTapSubscriber* m_pSubscriber = nullptr;
};
