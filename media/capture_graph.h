// A camera's capture pin connected straight to a sink filter of ours in a graph of its own, with
// no renderer: the camera bound by its moniker's display name, the format set through
// IAMStreamConfig before the camera joins the graph, as the preview sets it. Every wait on the
// camera is bounded.
#pragma once

#include "capture/capture_platform.h"
#include "capture/video_format.h"
#include "framework/object.h"

#include <dshow.h>

#include <string>

class CCaptureGraph : private CNoCopy {
public:
    // Stops and takes the graph down if the caller did not, within kDefaultStopWaitMs.
    ~CCaptureGraph();

    static constexpr DWORD kDefaultStopWaitMs = 5000;

    // Binds the camera, gives it the format and connects its capture pin to the sink's pin.
    // False with the step that failed, in the camera check's words.
    bool Build(const std::wstring& strDisplayName, const VideoFormat& format, IBaseFilter* pSink,
               IPin* pSinkPin, std::wstring& failure);
    // The format the camera was given (null until then) and its frame interval: the media
    // type's, else the capability's shortest (a webcam through Wine's own driver states none in
    // its media types); both known once the capability was found, even if the camera refused it.
    const AM_MEDIA_TYPE* MediaType() const { return m_pType.get(); }
    LONGLONG FrameTime() const { return m_frameTime; }
    bool FrameTimeFromCapability() const { return m_bFromCapability; }
    // The camera's filter, for its own interfaces; null before Build.
    IBaseFilter* Camera() const;

    HRESULT Run();
    // What the graph's queued events said, read without waiting.
    CStreamEvents Events();
    // Stops the graph and takes it apart on a thread of its own, waiting at most nMs: false when
    // the camera's stop did not return by then (Wine's capture filter waits for its read without
    // limit). That thread then holds the graph and lets the camera go whenever its stop returns.
    bool Stop(DWORD nMs);

private:
    struct CParts;
    static void CALLBACK StopCallback(PTP_CALLBACK_INSTANCE, void* pParam);

    CParts* m_pParts = nullptr; // shared with a stop's thread
    MediaTypeHolder m_pType{nullptr, DeleteMediaType};
    LONGLONG m_frameTime = 0;
    bool m_bFromCapability = false;
    bool m_bStopped = false;
    bool m_bStuck = false;
};
