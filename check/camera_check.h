// The camera check: each format of one device streamed in turn into a graph of the check's own
// (the camera's capture pin straight into the check's sink) and measured for a while. The
// camera is bound afresh for every format and released after it.
#pragma once

#include "capture/video_format.h"
#include "check/check_report.h"
#include "framework/object.h"

#include <windows.h>

#include <string>
#include <vector>

struct IBaseFilter;
struct IPin;

constexpr DWORD kFirstSampleTimeoutMs = 5000;
constexpr DWORD kDefaultCheckSeconds = 3;
// What a format takes beyond its measuring window, for the time left.
constexpr DWORD kOverheadMs = 250;
// A stream silent this long after its last picture has stopped: ten of its intervals, within
// these bounds. A silence still shorter at the window's end is waited out that far.
constexpr DWORD kMinSilenceMs = 1000;
constexpr DWORD kMaxSilenceMs = 3000;
// After the window, the picture being decoded may finish for this long.
constexpr DWORD kDecodeTailMs = 1000;
// How long the graph's Stop and teardown are waited for (a cancelled one: the rest of its
// second) before the graph is left to a thread that releases it when the camera returns:
// Wine's filter holds Stop while its camera delivers nothing.
constexpr DWORD kStopWaitMs = 2000;
constexpr DWORD kCancelStopWaitMs = 500;
// The most one format can take beyond its window: the first picture, the silence waited out,
// the decoding's tail and the stop, with room for the bind.
constexpr DWORD kFormatBoundMs =
    kFirstSampleTimeoutMs + kMaxSilenceMs + kDecodeTailMs + kStopWaitMs + 2000;

// The platform's video renderer and its input pin, made once for a whole check: making one
// costs milliseconds under Wine.
HRESULT CreateRendererPin(IBaseFilter** ppRenderer, IPin** ppPin);

// One format measured: nSeconds from the first sample, or less when hCancel (may be null) is
// signalled, which is seen within 100 ms. The renderer's pin (may be null: no answer) is asked
// whether it takes the format. The calling thread must be in a COM apartment.
CFormatMeasurement CheckFormat(const std::wstring& deviceDisplayName, const VideoFormat& format,
                               DWORD nSeconds, HANDLE hCancel, IPin* pRendererPin);

// What the runner reports, on its own thread. Each call is made under a lock that the runner's
// destructor takes: a listener posts to its window rather than waiting for the runner's thread.
class ICheckListener {
public:
    // Format nIndex (of nCount) begins; about nMsLeft remain for the whole check.
    virtual void OnFormatStarted(size_t nIndex, size_t nCount, const std::wstring& strFormat,
                                 DWORD nMsLeft) = 0;
    virtual void OnRowDone(size_t nIndex, const CFormatMeasurement& row) = 0;
    // Every format done, or cancelled; the camera is released by then.
    virtual void OnCheckFinished(bool bCancelled) = 0;

protected:
    ~ICheckListener() = default;
};

// Checks a list of formats on a thread of its own, in a COM apartment of its own.
class CCheckRunner : private CNoCopy {
public:
    // Cancels and waits for the thread, about a second at the most: a thread stuck in a
    // camera that does not stop is left to end on its own (its camera released when the camera
    // returns, or with the process), and no listener call comes after the destructor.
    ~CCheckRunner();

    // False when a check is already running or the thread could not start. The listener must
    // outlive the runner (not the thread: see the destructor).
    bool Start(const std::wstring& deviceDisplayName, const std::vector<VideoFormat>& formats,
               DWORD nSeconds, ICheckListener* pListener);
    // Ends the format being measured within a second (the decoding queue dropped) and releases
    // the camera; returns at once.
    void Cancel();
    // Waits at most that long for the thread to end; true when it has.
    bool Wait(DWORD nMilliseconds);
    bool IsRunning() const;

private:
    // What the runner and its thread share; the last of them to let go deletes it, so a thread
    // left in a camera never reaches a runner that is gone.
    struct CShared;
    static DWORD WINAPI ThreadProc(void* pParam);
    static void RunChecks(CShared& shared);
    void Detach();

    CShared* m_pShared = nullptr;
};
