// A camera's capture pin connected straight to a sink filter of ours in a graph of its own, with
// no renderer: the camera bound by its moniker's display name, the format set through
// IAMStreamConfig before the camera joins the graph, as the preview sets it. Every wait on the
// camera is bounded.
#pragma once

#include "capture/capture_platform.h"
#include "capture/video_format.h"

#include <dshow.h>

#include <string>

class CCaptureGraph {
public:
    CCaptureGraph() = default;
    // Takes the graph down unless a stop is still stuck in the camera.
    ~CCaptureGraph();
    CCaptureGraph(const CCaptureGraph&) = delete;
    CCaptureGraph& operator=(const CCaptureGraph&) = delete;

    // Binds the camera, gives it the format and connects its capture pin to the sink's pin.
    // False with the step that failed, in the camera check's words.
    bool Build(const std::wstring& strDisplayName, const VideoFormat& format, IBaseFilter* pSink,
               IPin* pSinkPin, std::wstring& failure);
    // The connection's media type and frame interval: the media type's, else the capability's
    // shortest (a webcam through Wine's own driver states none in its media types).
    const AM_MEDIA_TYPE& MediaType() const { return *m_pType; }
    LONGLONG FrameTime() const { return m_frameTime; }

    HRESULT Run();
    // What the graph's queued events said, read without waiting.
    CStreamEvents Events();
    // Stops the graph on a thread of its own and waits at most nMs: false when the camera's
    // stop did not return by then (Wine's capture filter waits for its read without limit);
    // the graph is then left as it is, for the process's end.
    bool Stop(DWORD nMs);
    // Disconnects and releases what it holds, unless a stop is stuck.
    void TakeDown();

private:
    static DWORD WINAPI StopThreadProc(void* pParam);

    CComRef<IBaseFilter> m_pCamera;
    CComRef<IPin> m_pCapturePin;
    CComRef<IGraphBuilder> m_pGraph;
    CComRef<IMediaControl> m_pControl;
    CComRef<IMediaEvent> m_pEvents;
    IBaseFilter* m_pSink = nullptr; // the caller's
    IPin* m_pSinkPin = nullptr;
    MediaTypeHolder m_pType{nullptr, DeleteMediaType};
    LONGLONG m_frameTime = 0;
    bool m_bStuck = false;
};
