// The information window's figures: collected from the camera, the renderer and the window,
// then formatted, so that the counting can be checked without a window.
#pragma once

#include "framework/str.h"

#include <windows.h>

#include <deque>
#include <utility>

// The camera's frame counters since the preview's start and the rate over the last second.
// The camera counts from each of its runs, and a pause and resume (a click, a snapshot) starts
// a new one: the counts go on across them.
class CFrameCounter {
public:
    void Reset();
    // One reading of the camera's counts at nNowMs (milliseconds, rising).
    void Add(ULONGLONG nNowMs, long nDelivered, long nDropped);
    long Delivered() const { return m_nDeliveredBefore + m_nLastDelivered; }
    long Dropped() const { return m_nDroppedBefore + m_nLastDropped; }
    bool HasReadings() const { return !m_samples.empty(); }
    // Frames a second over the last second; false until the readings span 0.9 s of it.
    bool GetRate(double& rate) const;

private:
    long m_nDeliveredBefore = 0;
    long m_nDroppedBefore = 0;
    long m_nLastDelivered = 0;
    long m_nLastDropped = 0;
    std::deque<std::pair<ULONGLONG, long>> m_samples; // time, delivered since the start
};

// Where a counter of the information window comes from.
enum class CountSource {
    None,
    Tap,      // the tap on the preview's capture stream: every picture it saw
    Camera,   // the camera's own IAMDroppedFrames
    Gaps,     // the tap's intervals longer than 1.5 frame intervals of the camera's cadence
    Renderer, // the renderer filter's IQualProp
};

// What the information window shows; a negative figure is not known.
struct CInfoFigures {
    CString strDevice;
    CString strFormat;
    double nNominalFps = -1;
    // Where the nominal rate comes from when the format's own frame time gives none.
    bool bNominalFromCaps = false;
    double nMeasuredFps = -1;
    long nDelivered = -1;
    long nDropped = -1;
    CountSource measuredFrom = CountSource::None;
    CountSource deliveredFrom = CountSource::None;
    CountSource droppedFrom = CountSource::None;
    // No tap, and neither the camera nor the renderer counts frames.
    bool bNoCounters = false;
    ULONGLONG nElapsedSeconds = 0;
    bool bPreviewing = false;
    bool bPaused = false;
    // While Ctrl+R records: the frames in the file and those lost on the way.
    bool bRecording = false;
    ULONGLONG nRecordWritten = 0;
    ULONGLONG nRecordDropped = 0;
};

void FormatInfoText(const CInfoFigures& figures, CString& strText);
