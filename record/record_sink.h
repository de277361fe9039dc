// The recorder's consumer of a stream (media/sink_filter.h), for a graph with no renderer: the
// camera's capture pin straight into it. It takes the media type it was made for and hands every
// sample to its recorder, which it owns, so that a camera's late call finds the recorder there.
#pragma once

#include "media/sink_filter.h"
#include "record/recorder.h"

class CRecordSink final : public CSinkConsumer {
public:
    CRecordSink() = default;

    // A filter with its class id and name.
    static HRESULT Create(CSinkRef<CRecordSink>& sink);

    CRecorder& Recorder() { return m_recorder; }
    // Whether the upstream ended its stream.
    bool Ended() const;

private:
    HRESULT OnSample(const CSampleView& sample) noexcept override;
    void OnEndOfStream() noexcept override;

    CRecorder m_recorder;
    mutable CCriticalSection m_lock;
    bool m_bEnded = false;
};
